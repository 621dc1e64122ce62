// Peers without credentials cannot exhaust the real service: open connections are capped by
// [server] max_connections, pages that have their WebSocket are preferred over peers still in
// their handshakes, both handshakes must be done 10 s after the accept, and TCP keep-alive watches
// for peers that vanish.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import net from 'node:net';
import { promisify } from 'node:util';
import { afterEach, test } from 'node:test';
import {
  PROBE, PROBE_REPLY, connectClient, connectRawTls, exchange, handshakeRequest, readServiceLogTexts,
  startProtocolService, timeScale,
} from './lib/index.mjs';
import { APPROVED, assertMessage, payByDebit, startTransactionService } from './transaction-support.mjs';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

function silentTcp(port) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    cleanups.push(() => socket.destroy());
    socket.gone = new Promise((done) => socket.once('close', done));
    socket.on('error', () => {});
    socket.once('connect', () => resolve(socket));
    socket.once('error', reject);
  });
}

// Connects as a page does: on failure it tries again, for up to withinMs.
async function connectPage(port, withinMs = 15000) {
  const deadline = Date.now() + withinMs * timeScale;
  for (;;) {
    try {
      const client = await connectClient(port, { timeoutMs: 3000 });
      cleanups.push(() => client.terminate());
      return client;
    } catch (error) {
      if (Date.now() > deadline) throw error;
      await new Promise((resolve) => setTimeout(resolve, 200));
    }
  }
}

test('a new page connects and pays while 200 silent connections are open', async () => {
  const t = await startTransactionService({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  cleanups.push(() => t.stop());
  for (let i = 0; i < 200; i++) await silentTcp(t.svc.port);

  const page = await connectPage(t.svc.port);
  const uuid = await t.session(page);
  const seen = await payByDebit(t, {}, { on: page, uuid });
  assertMessage({ ...seen.at(-1), transaction_data: undefined }, APPROVED);
});

test('at the limit the oldest connection still in its handshakes makes room; pages are never pushed out', async () => {
  const svc = await startProtocolService({ ini: '[server]\nmax_connections=3\n', simulator: false });
  cleanups.push(() => svc.stop());
  const page = async () => {
    const client = await connectClient(svc.port);
    cleanups.push(() => client.terminate());
    assert.deepEqual(await exchange(client, PROBE), PROBE_REPLY);
    return client;
  };
  const first = await page();
  await page();
  const silentOld = await silentTcp(svc.port);
  const silentNew = await silentTcp(svc.port);
  await silentOld.gone;  // made room for silentNew
  await page();             // and silentNew for this page
  await silentNew.gone;

  // Three pages with their WebSocket: a fourth connection is closed at once, every time.
  for (let i = 0; i < 2; i++) await assert.rejects(connectClient(svc.port));
  const texts = await readServiceLogTexts(svc.baseDir);
  const count = (text) => texts.filter((line) => line === text).length;
  assert.equal(count('Limite de 3 conexões atingido: a conexão mais antiga ainda sem handshake foi fechada.'), 1,
    'logged once a minute at most');
  assert.equal(count('Limite de 3 conexões atingido: nova conexão fechada.'), 1, 'logged once a minute at most');

  await first.terminate();
  const next = await connectPage(svc.port);
  assert.deepEqual(await exchange(next, PROBE), PROBE_REPLY);
});

test('peers that do not finish their handshakes within 10 s are closed; a quiet page is not', async () => {
  const svc = await startProtocolService({ simulator: false });
  cleanups.push(() => svc.stop());
  const page = await connectClient(svc.port);
  cleanups.push(() => page.terminate());

  const tcp = await silentTcp(svc.port);  // no TLS handshake
  const tlsOnly = await connectRawTls(svc.port);  // no WebSocket handshake
  cleanups.push(() => tlsOnly.destroy());
  const trickler = await connectRawTls(svc.port);  // a byte of its request every 500 ms
  cleanups.push(() => trickler.destroy());
  const request = handshakeRequest();
  let sent = 0;
  const timer = setInterval(() => { if (sent < request.length) trickler.write(request[sent++]); }, 500);
  cleanups.push(() => clearInterval(timer));

  await Promise.all([tcp.gone, tlsOnly.waitClosed(15000), trickler.waitClosed(15000)]);
  assert.ok(sent < request.length, 'the trickler was closed before its request was complete');
  assert.deepEqual(await exchange(page, PROBE), PROBE_REPLY, 'the page, quiet all along, is still served');
});

test('accepted connections carry TCP keep-alive, so a vanished page is noticed', async (t) => {
  const svc = await startProtocolService({ simulator: false });
  cleanups.push(() => svc.stop());
  const page = await connectClient(svc.port);
  cleanups.push(() => page.terminate());
  // The keep-alive timer shows once nothing is in flight, right after the last acknowledgement.
  let stdout = '';
  for (let i = 0; i < 50 && !/timer:\(keepalive,/.test(stdout); i++) {
    try {
      ({ stdout } = await promisify(execFile)('ss', ['-tnoH', 'state', 'established', `( sport = :${svc.port} )`]));
    } catch {
      t.skip('ss is not available');
      return;
    }
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.match(stdout, /timer:\(keepalive,/, stdout);
});
