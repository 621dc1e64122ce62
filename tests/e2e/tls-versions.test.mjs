// The listener speaks TLS 1.3 and 1.2, or 1.3 alone with [server] tls_min_version=1.3: openssl
// s_client gets through with the versions offered and is refused with the others by the server
// (security level 0 on the client, so 1.1 is not refused client-side). Within 1.2 only ECDHE with
// AES-GCM or ChaCha20-Poly1305 is agreed, in the server's order of preference.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { freePort, generateCertificates, makeBaseDir, removeBaseDir, startService } from './lib/index.mjs';

// A service per configuration: the default, and one that takes TLS 1.3 only.
const services = {};
before(async () => {
  for (const [name, ini] of [['default', ''], ['1.3 only', '[server]\ntls_min_version=1.3\n']]) {
    const baseDir = await makeBaseDir();
    await generateCertificates(baseDir);
    await fs.writeFile(path.join(baseDir, 'SvcKelvoraSiTef.ini'), ini);
    services[name] = { baseDir, service: await startService({ baseDir, port: await freePort() }) };
  }
});
after(async () => {
  for (const { baseDir, service } of Object.values(services)) {
    await service.stop('SIGKILL');
    await removeBaseDir(baseDir);
  }
});

// Runs s_client with stdin closed, offering ciphers; resolves with its exit code and output.
function sClient(version, ciphers = 'DEFAULT', port = services.default.service.port) {
  return new Promise((resolve) => {
    const args = ['s_client', version, '-connect', `127.0.0.1:${port}`, '-cipher', `${ciphers}:@SECLEVEL=0`];
    const proc = spawn('openssl', args, { stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    proc.stdout.on('data', (chunk) => { output += chunk; });
    proc.stderr.on('data', (chunk) => { output += chunk; });
    const timer = setTimeout(() => proc.kill('SIGKILL'), 10000);
    proc.on('exit', (code) => { clearTimeout(timer); resolve({ code, output }); });
  });
}

const cases = [
  { service: 'default', version: '-tls1_3', protocol: 'TLSv1.3' },
  { service: 'default', version: '-tls1_2', protocol: 'TLSv1.2' },
  { service: 'default', version: '-tls1_1', protocol: null },
  { service: '1.3 only', version: '-tls1_3', protocol: 'TLSv1.3' },
  { service: '1.3 only', version: '-tls1_2', protocol: null },
];
for (const { service, version, protocol } of cases) {
  test(`${service}: ${version} is ${protocol ? 'accepted' : 'refused'}`, async () => {
    const { code, output } = await sClient(version, 'DEFAULT', services[service].service.port);
    if (protocol) {
      assert.equal(code, 0, output);
      assert.match(output, new RegExp(`New, ${protocol.replace('.', '\\.')}, Cipher is`));
    } else {
      assert.notEqual(code, 0, output);
      assert.match(output, /alert protocol version/, 'refused by the server, not by the client');
    }
  });
}

// The test certificate is ECDSA, so the ECDSA suites are the ones that can be agreed.
const suites = [
  { offered: 'ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA384:ECDHE-ECDSA-AES128-SHA256', agreed: null },
  { offered: 'AES128-GCM-SHA256:AES256-SHA:DHE-RSA-AES128-GCM-SHA256', agreed: null },
  { offered: 'ECDHE-ECDSA-AES128-GCM-SHA256', agreed: 'ECDHE-ECDSA-AES128-GCM-SHA256' },
  { offered: 'ECDHE-ECDSA-AES256-GCM-SHA384', agreed: 'ECDHE-ECDSA-AES256-GCM-SHA384' },
  { offered: 'ECDHE-ECDSA-CHACHA20-POLY1305', agreed: 'ECDHE-ECDSA-CHACHA20-POLY1305' },
  // The client prefers CBC, then AES-128-GCM; the server's first choice among them wins.
  {
    offered: 'ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384',
    agreed: 'ECDHE-ECDSA-AES256-GCM-SHA384',
  },
];
for (const { offered, agreed } of suites) {
  test(`TLS 1.2 offering ${offered}: ${agreed ? `agrees on ${agreed}` : 'refused'}`, async () => {
    const { code, output } = await sClient('-tls1_2', offered);
    if (agreed) {
      assert.equal(code, 0, output);
      assert.match(output, new RegExp(`Cipher\\s*: ${agreed}\\b`));
    } else {
      assert.notEqual(code, 0, output);
      assert.match(output, /alert handshake failure/, 'refused by the server, not by the client');
    }
  });
}
