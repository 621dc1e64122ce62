// Test certificates made with the openssl command: a local CA and a server certificate for
// localhost, 127.0.0.1 and ::1, laid out as <base>/Certificado/{server_cert,server_key,ca_cert}.pem.
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';

const run = promisify(execFile);
let cached = null;

async function openssl(cwd, ...args) {
  await run('openssl', args, { cwd });
}

// Makes one set of files per test process (EC P-256 keys, so it takes milliseconds).
async function makeSet() {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-certs-'));
  const ec = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes'];
  await openssl(dir, 'req', '-x509', ...ec, '-keyout', 'ca_key.pem', '-out', 'ca_cert.pem',
    '-days', '30', '-subj', '/CN=Kelvora Test CA');
  await openssl(dir, 'req', ...ec, '-keyout', 'server_key.pem', '-out', 'server.csr',
    '-subj', '/CN=localhost');
  await fs.writeFile(path.join(dir, 'ext.cnf'),
    'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\nbasicConstraints=CA:FALSE\n');
  await openssl(dir, 'x509', '-req', '-in', 'server.csr', '-CA', 'ca_cert.pem', '-CAkey',
    'ca_key.pem', '-CAcreateserial', '-out', 'server_cert.pem', '-days', '30', '-extfile', 'ext.cnf');
  const files = {};
  for (const name of ['server_cert.pem', 'server_key.pem', 'ca_cert.pem']) {
    files[name] = await fs.readFile(path.join(dir, name));
  }
  await fs.rm(dir, { recursive: true, force: true });
  return files;
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
