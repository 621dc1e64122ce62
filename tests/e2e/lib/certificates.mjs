// Test certificates made by tools/generate-certificates.sh, the recipe the demo and the package
// use: a local CA and a server certificate for localhost, 127.0.0.1 and ::1, laid out as
// <base>/Certificado/{server_cert,server_key,ca_cert}.pem.
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

const run = promisify(execFile);
const generator = fileURLToPath(new URL('../../../tools/generate-certificates.sh', import.meta.url));
let cached = null;

// Makes one set of files per test process and keeps their contents.
async function makeSet() {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-certs-'));
  try {
    await run(generator, ['--days', '30', dir]);
    const files = {};
    for (const name of ['server_cert.pem', 'server_key.pem', 'ca_cert.pem']) {
      files[name] = await fs.readFile(path.join(dir, name));
    }
    return files;
  } finally {
    await fs.rm(dir, { recursive: true, force: true });
  }
}

// Writes the certificate files into baseDir/Certificado and returns { ca } (the CA certificate,
// for clients that verify the server).
export async function generateCertificates(baseDir) {
  cached ??= makeSet();
  const files = await cached;
  const target = path.join(baseDir, 'Certificado');
  await fs.mkdir(target, { recursive: true });
  for (const [name, content] of Object.entries(files)) {
    await fs.writeFile(path.join(target, name), content);
  }
  return { ca: files['ca_cert.pem'] };
}
