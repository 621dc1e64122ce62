// Temporary base directories (the service's <base>: ini, Certificado, Log, dll, TEF) and free ports.
import fs from 'node:fs/promises';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

// A new empty directory under the system's temporary directory. Its name has an accented letter,
// so every test also shows that such a base folder works (on Windows paths pass through wide text).
export async function makeBaseDir(prefix = 'kelvora-e2e-balcão-') {
  return fs.mkdtemp(path.join(os.tmpdir(), prefix));
}

export async function removeBaseDir(dir) {
  if (dir) await fs.rm(dir, { recursive: true, force: true });
}

// A TCP port nobody listens on right now (the system's choice for an ephemeral bind).
export async function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.unref();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}
