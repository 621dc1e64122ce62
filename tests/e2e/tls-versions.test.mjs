// The listener speaks TLS 1.2 only: openssl s_client gets through with 1.2 and is refused with 1.1
// and 1.3 by the server (security level 0 on the client, so 1.1 is not refused client-side).
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

// Runs s_client with stdin closed; resolves with its exit code and output.
function sClient(version) {
  return new Promise((resolve) => {
    const args = ['s_client', version, '-connect', `127.0.0.1:${port}`, '-cipher', 'DEFAULT:@SECLEVEL=0'];
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
