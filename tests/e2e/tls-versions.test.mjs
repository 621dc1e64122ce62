// The listener speaks TLS 1.2 only: openssl s_client gets through with 1.2 and is refused with 1.1
// and 1.3 by the server (security level 0 on the client, so 1.1 is not refused client-side). Within
// 1.2 only ECDHE with AES-GCM or ChaCha20-Poly1305 is agreed, in the server's order of preference.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { after, before, test } from 'node:test';
import { freePort, generateCertificates, makeBaseDir, removeBaseDir, startService } from './lib/index.mjs';

let baseDir;
let port;
let service;
before(async () => {
  baseDir = await makeBaseDir();
  await generateCertificates(baseDir);
  port = await freePort();
  service = await startService({ baseDir, port });
});
after(async () => {
  await service.stop('SIGKILL');
  await removeBaseDir(baseDir);
});

// Runs s_client with stdin closed, offering ciphers; resolves with its exit code and output.
function sClient(version, ciphers = 'DEFAULT') {
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
  { version: '-tls1_2', accepted: true },
  { version: '-tls1_1', accepted: false },
  { version: '-tls1_3', accepted: false },
];
for (const { version, accepted } of cases) {
  test(`${version} is ${accepted ? 'accepted' : 'refused'}`, async () => {
    const { code, output } = await sClient(version);
    if (accepted) {
      assert.equal(code, 0, output);
      assert.match(output, /Protocol\s*: TLSv1\.2/);
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
