// [server] listen: the service listens on the configured addresses only; an address that cannot be
// parsed or bound is logged and ends the service with its failure code, as a port in use does.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import net from 'node:net';
import path from 'node:path';
import { afterEach, test } from 'node:test';
import {
  PROBE, PROBE_REPLY, connectClient, exchangeRaw, freePort, generateCertificates, makeBaseDir, readServiceLogTexts,
  removeBaseDir, startService,
} from './lib/index.mjs';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

async function startListeningOn(listen, { readyLine } = {}) {
  const baseDir = await makeBaseDir();
  cleanups.push(() => removeBaseDir(baseDir));
  await generateCertificates(baseDir);
  // The installation's own key keeps the built-in key's warning out of the lines compared below.
  await fs.writeFile(path.join(baseDir, 'SvcKelvoraSiTef.ini'),
    `[server]\nlisten=${listen}\n[security]\njwt_secret=Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7\n`);
  const service = await startService({ baseDir, port: await freePort(), readyLine });
  cleanups.push(() => service.stop('SIGKILL'));
  return service;
}

// True when a TCP connection to host:port is accepted.
function reachable(host, port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, host);
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

// Whether this machine can listen on the IPv6 loopback at all.
async function hasIpv6Loopback() {
  const server = net.createServer();
  return new Promise((resolve) => {
    server.once('error', () => resolve(false));
    server.listen(0, '::1', () => server.close(() => resolve(true)));
  });
}

test('listen=127.0.0.1 serves on 127.0.0.1 and not on ::1', async (t) => {
  if (!(await hasIpv6Loopback())) {
    t.skip('no IPv6 loopback on this machine');
    return;
  }
  const service = await startListeningOn('127.0.0.1');
  const client = await connectClient(service.port, { host: '127.0.0.1' });
  cleanups.push(() => client.terminate());
  assert.deepEqual(await exchangeRaw(client, PROBE), PROBE_REPLY);
  assert.equal(await reachable('::1', service.port), false);
});

test('listen="::1, 127.0.0.1" serves on both loopbacks', async (t) => {
  if (!(await hasIpv6Loopback())) {
    t.skip('no IPv6 loopback on this machine');
    return;
  }
  const service = await startListeningOn('[::1], 127.0.0.1');
  for (const host of ['::1', '127.0.0.1']) {
    const client = await connectClient(service.port, { host });
    cleanups.push(() => client.terminate());
    assert.deepEqual(await exchangeRaw(client, PROBE), PROBE_REPLY, host);
  }
});

const LISTEN_FAILURE =
  'O servidor socket não pôde ser iniciado: o serviço será encerrado com falha (código 3).';
const failures = [
  { listen: '127.0.0.1 localhost', reason: 'Endereço inválido em [server] listen: localhost' },
  { listen: '192.0.2.1', reason: /^Could not bind socket on port \d+ \(192\.0\.2\.1\): Cannot assign requested address$/ },
];
for (const { listen, reason } of failures) {
  test(`listen=${listen}: logged, no listener, and the service ends with its failure code`, async () => {
    const service = await startListeningOn(listen, { readyLine: null });
    assert.deepEqual(await service.exited, { code: 3, signal: null });
    assert.equal(await reachable('127.0.0.1', service.port), false, 'no address half-listened');
    const texts = await readServiceLogTexts(service.baseDir);
    assert.equal(texts[0], 'Iniciando servidor socket.');
    if (typeof reason === 'string') assert.equal(texts[1], reason); else assert.match(texts[1], reason);
    assert.deepEqual(texts.slice(2), [LISTEN_FAILURE, 'O serviço foi parado.']);
  });
}
