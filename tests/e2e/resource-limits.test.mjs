// The real service under many connections and session starts: a thousand connections opened and
// closed in a row must leave its memory and threads where they were, so must thousands of session
// starts, and fifty idle pages must not disturb a payment.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import { afterEach, describe, test } from 'node:test';
import {
  connectClient, connectRawTls, exchange, exchangeRaw, handshakeRequest, openSession, sessionClaims, startProtocolService,
} from './lib/index.mjs';
import { residentKiB, waitUntil } from './lib/processState.mjs';
import { APPROVED, assertMessage, payByDebit, pendingIn, startTransactionService } from './transaction-support.mjs';

// A request answered from memory alone (no file is read), so the storm measures the connections.
const BAD_CATEGORY = { route: '/version', type: 'version', category: 'x' };
const BAD_CATEGORY_REPLY = {
  type: 'error', message: 'Categoria inválida. Valores permitidos [service_exe, clisitef_dll]',
};

// Growth allowed over a storm of connections after the warm-up. Measured: a few hundred KiB at
// most (allocator noise); a leak of one TLS session per connection would cost well over 10 MiB.
const RSS_MARGIN_KIB = 2048;

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

async function threadCount(pid) {
  const status = await fs.readFile(`/proc/${pid}/status`, 'utf8');
  return Number(/^Threads:\s+(\d+)$/m.exec(status)[1]);
}

// Opens count connections one after the other (TLS and WebSocket handshakes, one request on every
// tenth), closing each (the closing handshake, then the TCP connection) before the next.
async function connectionStorm(port, count) {
  for (let i = 0; i < count; i++) {
    const client = await connectClient(port);
    try {
      if (i % 10 === 0) assert.deepEqual(await exchangeRaw(client, BAD_CATEGORY), BAD_CATEGORY_REPLY);
      client.close();
      await client.waitClosed();
    } finally {
      await client.terminate();
    }
  }
}

// One round of the bad input a hostile page can send: a frame claiming 2^63 bytes, a handshake
// line of 16385 characters, frames that are not UTF-8 (each on a connection of its own, which the
// service closes) or nest 100000 deep.
async function badInputRounds(port, rounds) {
  const oversized = Buffer.alloc(14);
  oversized[0] = 0x81;
  oversized[1] = 0x80 | 127;
  oversized.writeBigUInt64BE(1n << 63n, 2);
  for (let i = 0; i < rounds; i++) {
    const claim = await connectRawTls(port);
    claim.write(handshakeRequest());
    await claim.readUntil('\r\n\r\n');
    claim.write(oversized);
    await claim.waitClosed();

    const longLine = await connectRawTls(port);
    longLine.write(`GET /${'a'.repeat(16380)}\r\n`);
    await longLine.waitClosed();

    for (const bytes of [[0xc0, 0xaf], [0xed, 0xa0, 0x80], [0xff, 0xfe]]) {
      const notText = await connectClient(port);
      try {
        await new Promise((resolve) => { notText.ws.send(Buffer.from(bytes), { binary: false }, resolve); });
        assert.equal((await notText.waitClosed()).code, 1007);
      } finally {
        await notText.terminate();
      }
    }
    const client = await connectClient(port);
    try {
      await client.sendRaw('['.repeat(100000));
      assert.deepEqual(await exchangeRaw(client, BAD_CATEGORY), BAD_CATEGORY_REPLY);
    } finally {
      await client.terminate();
    }
  }
}

describe('resource limits', () => {
  test('1000 connections opened and closed in a row: the service keeps serving, memory stays flat', async (ctx) => {
    const svc = await startProtocolService({ simulatorIni: '' });
    cleanups.push(() => svc.stop());
    const page = await svc.connect();
    cleanups.push(() => page.terminate());
    const { session_uuid: uuid } = await openSession(page, sessionClaims());
    const { pid } = svc.service;

    await connectionStorm(svc.port, 200);
    const threads = await waitUntil(async () => {
      const n = await threadCount(pid);
      return n <= 4 ? n : 0;
    }, 'the connection threads to end');
    const before = await residentKiB(pid);
    await connectionStorm(svc.port, 1000);
    // At most as many as before: a thread still ending at the first count may be gone by now.
    await waitUntil(async () => (await threadCount(pid)) <= threads, 'the connection threads to end', 30000);
    const after = await residentKiB(pid);
    ctx.diagnostic(`VmRSS ${before} KiB before, ${after} KiB after 1000 connections`);
    assert.ok(after - before < RSS_MARGIN_KIB, `VmRSS grew from ${before} to ${after} KiB`);

    assert.deepEqual(await exchange(page, { route: '/initialize', type: 'initialize', session_uuid: uuid }, 10000),
      { type: 'initialize', message: 'Inicializado com sucesso.' });
  });

  test('rounds of bad input leave memory and threads flat', async (ctx) => {
    const svc = await startProtocolService({ simulatorIni: '' });
    cleanups.push(() => svc.stop());
    const { pid } = svc.service;
    await badInputRounds(svc.port, 20);
    const threads = await waitUntil(async () => {
      const n = await threadCount(pid);
      return n <= 4 ? n : 0;
    }, 'the connection threads to end');
    const before = await residentKiB(pid);
    await badInputRounds(svc.port, 150);
    // At most as many as before: a thread still ending at the first count may be gone by now.
    await waitUntil(async () => (await threadCount(pid)) <= threads, 'the connection threads to end', 30000);
    const after = await residentKiB(pid);
    ctx.diagnostic(`VmRSS ${before} KiB before, ${after} KiB after 150 rounds of bad input`);
    assert.ok(after - before < RSS_MARGIN_KIB, `VmRSS grew from ${before} to ${after} KiB`);
  });

  test('5000 session starts from large tokens: the oldest sessions give way, memory stays flat', async (ctx) => {
    const svc = await startProtocolService({ simulatorIni: '' });
    cleanups.push(() => svc.stop());
    const page = await svc.connect();
    cleanups.push(() => page.terminate());
    const { pid } = svc.service;
    // Claims near 2 KiB each in a token near 16 KiB: the most a session start may bring.
    const claims = sessionClaims({
      callback_url: `http://127.0.0.1:9/${'c'.repeat(2000)}`, additional_parameters: 'p'.repeat(2000),
      note1: 'n'.repeat(2040), note2: 'n'.repeat(2040), note3: 'n'.repeat(2040),
    });
    const start = async () => (await openSession(page, claims)).session_uuid;
    const starts = async (count) => {
      for (let i = 0; i < count; i++) await start();
    };

    const first = await start();
    await starts(500);
    const before = await residentKiB(pid);
    await starts(5000);
    const after = await residentKiB(pid);
    ctx.diagnostic(`VmRSS ${before} KiB before, ${after} KiB after 5000 session starts`);
    assert.ok(after - before < RSS_MARGIN_KIB, `VmRSS grew from ${before} to ${after} KiB`);
    const finish = (uuid) => exchange(page, { route: '/session/finish', type: 'session', session_uuid: uuid });
    assert.deepEqual(await finish(await start()),
      { type: 'session', status: 'finished', message: 'Sessão finalizada com sucesso.' });
    assert.deepEqual(await finish(first), { type: 'error', message: 'Sessão inválida.' }, 'the oldest gave way');
  });

  test('50 idle connections beside a whole payment', async () => {
    const t = await serviceWithIdle();
    const seen = await payByDebit(t);
    assertMessage({ ...seen.at(-1), transaction_data: undefined }, APPROVED);
    const ledger = await t.ledger();
    assert.deepEqual(ledger.map((e) => e.event), ['APPROVED', 'CONFIRMED']);
    assert.deepEqual(pendingIn(ledger), []);
    assert.equal(t.api.requests.length, 1);
    for (const [i, idle] of t.idle.entries()) {
      assert.equal(idle.messages.length, 0, `idle connection ${i} was sent nothing`);
      assert.deepEqual(await exchangeRaw(idle, BAD_CATEGORY), BAD_CATEGORY_REPLY, `idle connection ${i}`);
    }
  });
});

// A payment service with 50 more pages connected, every other one with a session of its own.
async function serviceWithIdle() {
  const t = await startTransactionService({ simulatorIni: '[dialog]\ncard_polls=3\n' });
  cleanups.push(() => t.stop());
  t.idle = [];
  for (let i = 0; i < 50; i++) {
    const idle = await t.connect();
    if (i % 2 === 0) await t.session(idle, { sale_id: String(9000 + i) });
    t.idle.push(idle);
  }
  return t;
}
