// Peers without credentials cannot exhaust the real service: open connections are capped by
// [server] max_connections, pages with a session are preferred over peers still in their
// handshakes and over WebSockets that started no session, both handshakes must be done 10 s after
// the accept and a session started 30 s after the upgrade, and TCP keep-alive watches for peers
// that vanish.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import net from 'node:net';
import { promisify } from 'node:util';
import { afterEach, test } from 'node:test';
import {
  PROBE, PROBE_REPLY, connectClient, connectRawTls, exchangeRaw, handshakeRequest, openSession,
  readServiceLogTexts, startProtocolService, timeScale,
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

test('64 WebSockets without a session do not keep a page from paying at once', async () => {
  const t = await startTransactionService({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  cleanups.push(() => t.stop());
  const idle = [];
  for (let i = 0; i < 64; i++) {
    const client = await connectClient(t.svc.port);
    cleanups.push(() => client.terminate());
    // Answered once the service has taken the upgrade: none may still count as in its handshakes
    // (which the limit closes first) when the next arrives, however slow the build.
    assert.deepEqual(await exchangeRaw(client, PROBE), PROBE_REPLY);
    idle.push(client);
  }

  const page = await connectClient(t.svc.port);  // one try: no waiting for a slot
  cleanups.push(() => page.terminate());
  const uuid = await t.session(page);
  const seen = await payByDebit(t, {}, { on: page, uuid });
  assertMessage({ ...seen.at(-1), transaction_data: undefined }, APPROVED);
  await Promise.all([idle[0].waitClosed(), idle[1].waitClosed()]);
  assert.deepEqual(await exchangeRaw(t.client, PROBE), PROBE_REPLY, 'the first page, with its session, stays');
  assert.ok((await t.logTexts()).includes(
    'Limite de 64 conexões atingido: a conexão mais antiga sem sessão foi fechada.'));
});

test('at the limit, connections in their handshakes make room first, then those without a session; pages with a session never', async () => {
  const svc = await startProtocolService({ ini: '[server]\nmax_connections=3\n', simulator: false });
  cleanups.push(() => svc.stop());
  const upgraded = async () => {
    const client = await connectClient(svc.port);
    cleanups.push(() => client.terminate());
    return client;
  };
  const page = async () => {
    const client = await upgraded();
    await openSession(client);
    return client;
  };
  const first = await page();
  const idle = await upgraded();
  const silentOld = await silentTcp(svc.port);
  const silentNew = await silentTcp(svc.port);
  await silentOld.gone;  // made room for silentNew
  await page();             // and silentNew for this page, before the idle WebSocket
  await silentNew.gone;
  assert.deepEqual(await exchangeRaw(idle, PROBE), PROBE_REPLY);
  await page();             // the idle WebSocket makes room for the third page
  await idle.waitClosed();

  // Three pages with a session: a fourth connection is closed at once, every time.
  for (let i = 0; i < 2; i++) await assert.rejects(connectClient(svc.port));
  const texts = await readServiceLogTexts(svc.baseDir);
  const count = (text) => texts.filter((line) => line === text).length;
  assert.equal(count('Limite de 3 conexões atingido: a conexão mais antiga ainda sem handshake foi fechada.'), 1,
    'logged once a minute at most');
  assert.equal(count('Limite de 3 conexões atingido: a conexão mais antiga sem sessão foi fechada.'), 1);
  assert.equal(count('Limite de 3 conexões atingido: nova conexão fechada.'), 1, 'logged once a minute at most');

  await first.terminate();
  const next = await connectPage(svc.port);
  assert.deepEqual(await exchangeRaw(next, PROBE), PROBE_REPLY);
});

test('a WebSocket that starts no session within 30 s of its upgrade is closed; a page with one is not', async () => {
  const svc = await startProtocolService({ simulator: false });
  cleanups.push(() => svc.stop());
  const page = await connectClient(svc.port);
  cleanups.push(() => page.terminate());
  await openSession(page);
  const idle = [];
  for (let i = 0; i < 2; i++) {
    const client = await connectClient(svc.port);
    cleanups.push(() => client.terminate());
    idle.push(client);
  }
  const upgradedAt = Date.now();
  assert.deepEqual(await exchangeRaw(idle[0], PROBE), PROBE_REPLY, 'requests without a session do not count');

  await Promise.all(idle.map((client) => client.waitClosed(40000)));
  assert.ok(Date.now() - upgradedAt >= 29000, 'not closed before its 30 s');
  assert.deepEqual(await exchangeRaw(page, PROBE), PROBE_REPLY);
  const texts = await readServiceLogTexts(svc.baseDir);
  assert.equal(texts.filter((line) => line === 'Conexão fechada: nenhuma sessão iniciada 30 s após o handshake WebSocket.').length, 1,
    'logged once a minute at most');
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
  assert.deepEqual(await exchangeRaw(page, PROBE), PROBE_REPLY, 'the page, quiet all along, is still served');
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
