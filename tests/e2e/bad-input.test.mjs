// Hostile and broken clients against the real service: frames above 1 MiB or claiming absurd
// lengths, overlong handshake lines, silent and garbage-sending peers, text that is not UTF-8 or nests without end.
// Each may lose its own connection; the service keeps serving everyone else and loses no session.
import assert from 'node:assert/strict';
import net from 'node:net';
import { afterEach, describe, test } from 'node:test';
import {
  PROBE, PROBE_REPLY, clientFrame, connectRawTls, exchange, exchangeRaw, handshakeRequest, openSession, sessionClaims,
  startProtocolService,
} from './lib/index.mjs';

// The same reply as the service writes it: everything outside ASCII escaped.
const PROBE_REPLY_TEXT = JSON.stringify(PROBE_REPLY).replace('á', '\\u00E1');
const INITIALIZED = { type: 'initialize', message: 'Inicializado com sucesso.' };

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// A service with the simulator and a page that opened its session before any bad input arrived.
async function serviceWithPage() {
  const svc = await startProtocolService({ simulatorIni: '' });
  cleanups.push(() => svc.stop());
  const page = await track(svc.connect());
  const { session_uuid: uuid } = await openSession(page, sessionClaims());
  return { svc, page, uuid };
}

async function track(clientPromise) {
  const client = await clientPromise;
  cleanups.push(() => (client.terminate ? client.terminate() : client.destroy()));
  return client;
}

// The service still answers the page that was there before, with its session, and a newcomer.
async function assertServing({ svc, page, uuid }, what) {
  assert.equal(svc.service.exitStatus, null, `the service is alive after ${what}`);
  assert.deepEqual(await exchange(page, { route: '/initialize', type: 'initialize', session_uuid: uuid }, 10000),
    INITIALIZED, what);
  const newcomer = await svc.connect();
  try {
    await openSession(newcomer, sessionClaims());
    assert.deepEqual(await exchangeRaw(newcomer, PROBE), PROBE_REPLY, what);
  } finally {
    await newcomer.terminate();
  }
}

// A raw TLS client that has done the WebSocket handshake.
async function upgradedRaw(port) {
  const raw = await track(connectRawTls(port));
  raw.write(handshakeRequest());
  assert.match(await raw.readUntil('\r\n\r\n'), /^HTTP\/1\.1 101 /);
  return raw;
}

// Deterministic bytes (xorshift32) so that a failing seed can be replayed.
function pseudoRandomBytes(seed, length) {
  const bytes = Buffer.alloc(length);
  let x = seed;
  for (let i = 0; i < length; i++) {
    x ^= x << 13; x >>>= 0;
    x ^= x >>> 17;
    x ^= x << 5; x >>>= 0;
    bytes[i] = x & 0xff;
  }
  return bytes;
}

describe('bad input', () => {
  test('a frame of more than 1 MiB closes only its own connection, with 1009', async () => {
    const ctx = await serviceWithPage();
    const claim = (length) => {
      const header = Buffer.alloc(14);
      header[0] = 0x81;
      header[1] = 0x80 | 127;
      header.writeBigUInt64BE(length, 2);
      return header;
    };
    const cases = [
      { what: 'a whole frame of 1 MiB + 1 bytes', bytes: clientFrame(Buffer.alloc(1024 * 1024 + 1, 0x20)) },
      { what: 'a claim of 1 MiB + 1 bytes', bytes: claim(1024n * 1024n + 1n) },
      { what: 'a claim of 2^63 bytes', bytes: claim(1n << 63n) },
      { what: 'a claim of 2^64 - 1 bytes', bytes: claim((1n << 64n) - 1n) },
    ];
    for (const { what, bytes } of cases) {
      const raw = await upgradedRaw(ctx.svc.port);
      raw.write(bytes);
      await raw.waitClosed();
      assert.equal(raw.received.toString('latin1'), '\x88\x02\x03\xf1', `only the close frame answers ${what}`);
      await assertServing(ctx, what);
    }
  });

  test('a request of just under 1 MiB is read and answered', async () => {
    const ctx = await serviceWithPage();
    const head = '{"route":"/version","type":"version","category":"x","padding":"';
    const text = head + 'p'.repeat(1024 * 1024 - head.length - 2) + '"}';
    assert.equal(text.length, 1024 * 1024);
    const raw = await upgradedRaw(ctx.svc.port);
    raw.write(clientFrame(Buffer.from(text)));
    const reply = await raw.readUntil('dll]"}', 10000);
    assert.equal(reply.slice(reply.indexOf('{')), PROBE_REPLY_TEXT);
    raw.destroy();
    await assertServing(ctx, 'the large request');
  });

  test('handshake lines: 16384 characters are read, one more or no line end closes the connection', async () => {
    const ctx = await serviceWithPage();
    const padded = (length) => `X-Pad: ${'a'.repeat(length - 'X-Pad: '.length)}\r\n`;
    const request = handshakeRequest();
    const withLine = (line) => request.replace('\r\n\r\n', `\r\n${line}\r\n`);
    const cases = [
      { what: 'a line of 16384 characters', bytes: withLine(padded(16384)), upgraded: true },
      { what: 'a line of 16385 characters', bytes: withLine(padded(16385)), upgraded: false },
      { what: 'a request line of 16385 characters', bytes: `GET /${'b'.repeat(16371)} HTTP/1.1\r\n`, upgraded: false },
      { what: '1 MiB without a line end', bytes: 'c'.repeat(1024 * 1024), upgraded: false },
    ];
    for (const { what, bytes, upgraded } of cases) {
      const raw = await track(connectRawTls(ctx.svc.port));
      raw.write(bytes);
      if (upgraded) {
        assert.match(await raw.readUntil('\r\n\r\n'), /^HTTP\/1\.1 101 /, what);
        raw.write(clientFrame(JSON.stringify(PROBE)));
        assert.equal((await raw.readUntil('dll]"}')).slice(2), PROBE_REPLY_TEXT, what);
        raw.destroy();
      } else {
        await raw.waitClosed();
        assert.equal(raw.received.length, 0, `no answer to ${what}`);
      }
      await assertServing(ctx, what);
    }
  });

  test('clients that connect and send nothing do not hold up the others', async () => {
    const ctx = await serviceWithPage();
    const tcp = net.connect(ctx.svc.port, '127.0.0.1');
    tcp.on('error', () => {});
    cleanups.push(() => tcp.destroy());
    await new Promise((resolve) => tcp.once('connect', resolve));
    await track(connectRawTls(ctx.svc.port));  // TLS up, no WebSocket handshake
    await upgradedRaw(ctx.svc.port);          // WebSocket up, no frame
    await assertServing(ctx, 'three silent clients');
  });

  test('random bytes after the handshake cost at most their own connection', async () => {
    const ctx = await serviceWithPage();
    for (const seed of [1, 2, 3, 4, 5, 6, 7, 8]) {
      const raw = await upgradedRaw(ctx.svc.port);
      raw.write(pseudoRandomBytes(seed, 64 * 1024));
      await raw.waitClosed(300).catch(() => raw.destroy());
      await assertServing(ctx, `random bytes of seed ${seed}`);
    }
  });

  test('text that is not UTF-8 closes its connection with 1007; text that nests without end is dropped', async () => {
    const ctx = await serviceWithPage();
    const payloads = [
      { what: 'a stray continuation byte', bytes: Buffer.from([0x7b, 0x80, 0x7d]), closes: true },
      { what: 'an overlong slash', bytes: Buffer.from([0xc0, 0xaf]), closes: true },
      { what: 'a UTF-16 surrogate', bytes: Buffer.from([0xed, 0xa0, 0x80]), closes: true },
      { what: 'a code point above U+10FFFF', bytes: Buffer.from([0xf4, 0x90, 0x80, 0x80]), closes: true },
      { what: 'a cut three-byte sequence', bytes: Buffer.from([0x22, 0xe2, 0x82]), closes: true },
      { what: 'invalid UTF-8 inside a request', bytes: Buffer.concat([Buffer.from('{"route":"/version","type":"version","category":"x'), Buffer.from([0xff]), Buffer.from('"}')]), closes: true },
      { what: '100000 open brackets', bytes: Buffer.from('['.repeat(100000)), closes: false },
      { what: '100000 open objects', bytes: Buffer.from('{"a":'.repeat(100000)), closes: false },
      { what: 'a request nested 100000 deep', bytes: Buffer.from(`{"route":"/version","type":"version","x":${'['.repeat(100000)}`), closes: false },
    ];
    for (const { what, bytes, closes } of payloads) {
      const raw = await upgradedRaw(ctx.svc.port);
      raw.write(clientFrame(bytes));
      raw.write(clientFrame(JSON.stringify(PROBE)));
      if (closes) {
        await raw.waitClosed();
        assert.equal(raw.received.toString('latin1'), '\x88\x02\x03\xef', `closed with 1007 after ${what}`);
      } else {
        const reply = await raw.readUntil('dll]"}', 10000);
        assert.equal(reply.slice(2), PROBE_REPLY_TEXT, `only the probe is answered after ${what}`);
      }
      raw.destroy();
    }
    await assertServing(ctx, 'the bad text');
  });
});
