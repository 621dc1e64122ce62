// The TLS WebSocket server with an echo handler (kelvora-echo-host): the handshake and frames on
// the wire, message sizes, one reply path per connection, oversized and unmasked frames, and the
// disconnect step of each connection.
import assert from 'node:assert/strict';
import { afterEach, test } from 'node:test';
import {
  clientFrame, connectClient, connectRawTls, echoHostBinary, freePort, generateCertificates,
  handshakeRequest, makeBaseDir, readServiceLogTexts, removeBaseDir, startService, waitForLogText,
} from './lib/index.mjs';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// A running echo host on a fresh base directory and port.
async function startEchoHost() {
  const baseDir = await makeBaseDir();
  cleanups.push(() => removeBaseDir(baseDir));
  await generateCertificates(baseDir);
  const service = await startService({ binary: echoHostBinary, baseDir, port: await freePort() });
  cleanups.push(() => service.stop('SIGKILL'));
  return service;
}

async function connect(service) {
  const client = await connectClient(service.port);
  cleanups.push(() => client.terminate());
  return client;
}

async function connectionId(client) {
  await client.send('?id');
  return Number((await client.next()).replace('id:', ''));
}

test('messages of 10 bytes, 70 KiB and 1 MiB come back whole', async () => {
  const service = await startEchoHost();
  const client = await connect(service);
  const messages = [
    '0123456789',
    'x'.repeat(70 * 1024),
    'ã€😀'.repeat(1024 * 1024 / 9),  // multi-byte text: 1 MiB of UTF-8
    'y'.repeat(1024 * 1024),
  ];
  for (const message of messages) {
    await client.send(message);
    const echoed = await client.next(10000);
    assert.equal(echoed.length, message.length);
    assert.ok(echoed === message, `echo of ${Buffer.byteLength(message)} bytes differs`);
  }
});

test('two clients at once each get only their own replies', async () => {
  const service = await startEchoHost();
  const clients = [await connect(service), await connect(service)];
  const count = 40;
  await Promise.all(clients.map(async (client, c) => {
    for (let i = 0; i < count; i++) await client.send(`client ${c} message ${i} ${'z'.repeat(i * 50)}`);
  }));
  for (const [c, client] of clients.entries()) {
    for (let i = 0; i < count; i++) {
      assert.equal(await client.next(), `client ${c} message ${i} ${'z'.repeat(i * 50)}`);
    }
    assert.equal(await client.silentFor(100), true, `client ${c} got a foreign reply`);
  }
});

test('handshake and frames on the wire', async () => {
  const service = await startEchoHost();
  const raw = await connectRawTls(service.port);
  cleanups.push(() => raw.destroy());

  // The RFC 6455 sample key with extra blanks after the colon and at the end of the line.
  raw.write(handshakeRequest({ key: '   dGhlIHNhbXBsZSBub25jZQ==  \t' }));
  assert.equal(await raw.readUntil('\r\n\r\n'),
    'HTTP/1.1 101 Switching Protocols\r\n' +
    'Upgrade: websocket\r\n' +
    'Connection: Upgrade\r\n' +
    'Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n' +
    'Access-Control-Allow-Origin: *\r\n' +
    'Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n' +
    'Access-Control-Allow-Headers: Content-Type\r\n' +
    'Access-Control-Allow-Credentials: true\r\n' +
    '\r\n');

  const frames = [
    { what: 'masked text', bytes: clientFrame('masked'), reply: 'masked' },
    { what: 'invalid UTF-8', bytes: clientFrame(Buffer.from([0x61, 0xc3, 0x28])), reply: null },
    { what: 'empty payload', bytes: clientFrame(''), reply: null },
    { what: 'close frame', bytes: clientFrame(Buffer.from([0x03, 0xe8]), { opcode: 0x8 }), reply: null },
    { what: 'text after the close frame', bytes: clientFrame('still open'), reply: 'still open' },
  ];
  for (const { what, bytes, reply } of frames) {
    raw.write(bytes);
    if (reply !== null) {
      const expected = Buffer.concat([Buffer.from([0x81, reply.length]), Buffer.from(reply)]);
      assert.equal(await raw.readUntil(reply), expected.toString('latin1'), what);
    }
  }
  assert.equal(raw.received.length, 0, 'frames without text get no reply');
});

test('a frame claiming more than 1 MiB closes its connection; the others go on', async () => {
  const service = await startEchoHost();
  const bystander = await connect(service);
  const claims = [
    { what: '2^63 - 1 bytes', length: (1n << 63n) - 1n },
    { what: '1 MiB + 1 bytes', length: 1024n * 1024n + 1n },
  ];
  for (const { what, length } of claims) {
    const raw = await connectRawTls(service.port);
    cleanups.push(() => raw.destroy());
    raw.write(handshakeRequest());
    await raw.readUntil('\r\n\r\n');
    const header = Buffer.alloc(14);
    header[0] = 0x81;
    header[1] = 0x80 | 127;
    header.writeBigUInt64BE(length, 2);
    raw.write(header);
    await raw.waitClosed();
    await bystander.send(what);
    assert.equal(await bystander.next(), what);
  }
});

test('an unmasked client frame closes its connection unanswered; the others go on', async () => {
  const service = await startEchoHost();
  const bystander = await connect(service);
  const raw = await connectRawTls(service.port);
  cleanups.push(() => raw.destroy());
  raw.write(handshakeRequest());
  await raw.readUntil('\r\n\r\n');
  raw.write(clientFrame('plain', { mask: false }));
  await raw.waitClosed();
  assert.equal(raw.received.length, 0);
  await bystander.send('still here');
  assert.equal(await bystander.next(), 'still here');
});

test('the disconnect step gets the connection that ended, not one still busy', async () => {
  const service = await startEchoHost();
  const busy = await connect(service);
  const leaving = await connect(service);
  const busyId = await connectionId(busy);
  const leavingId = await connectionId(leaving);
  assert.notEqual(busyId, leavingId);

  await busy.send('?sleep 400');
  await leaving.terminate();
  await waitForLogText(service.baseDir, `echo-host: disconnect ${leavingId}`);
  assert.equal(await busy.next(), 'slept');
  assert.ok(!(await readServiceLogTexts(service.baseDir)).includes(`echo-host: disconnect ${busyId}`));
});

test('waiting for input: a frame already sent is seen at once, none within 100 ms is reported', async () => {
  const service = await startEchoHost();
  const client = await connect(service);
  await client.send('?wait');
  await client.send('answer');
  assert.equal(await client.next(), 'input:answer');

  const started = Date.now();
  await client.send('?wait');
  assert.equal(await client.next(), 'no input');
  assert.ok(Date.now() - started >= 90, 'the wait lasts its 100 ms');
});

test('stop ends every connection, each runs its disconnect step, then the service exits 0', async () => {
  const service = await startEchoHost();
  const client = await connect(service);
  const id = await connectionId(client);
  const silent = await connectRawTls(service.port);  // TLS up, never sends its handshake
  cleanups.push(() => silent.destroy());

  assert.deepEqual(await service.stop(), { code: 0, signal: null });
  await client.waitClosed();
  await silent.waitClosed();
  const texts = await readServiceLogTexts(service.baseDir);
  const disconnects = texts.filter((text) => text.startsWith('echo-host: disconnect '));
  assert.equal(disconnects.length, 2, texts.join('\n'));
  assert.ok(disconnects.includes(`echo-host: disconnect ${id}`));
  assert.equal(texts.at(-1), 'O serviço foi parado.', 'the disconnect steps ran before the stop ended');
});

test('pause ends connections with their disconnect steps; continue accepts new ones', async () => {
  const service = await startEchoHost();
  const before = await connect(service);
  const id = await connectionId(before);
  await service.pause();
  await before.waitClosed();
  const texts = await readServiceLogTexts(service.baseDir);
  assert.deepEqual(texts.slice(-2), [`echo-host: disconnect ${id}`, 'O serviço foi pausado.']);

  await service.resume();
  const after = await connect(service);
  await after.send('back');
  assert.equal(await after.next(), 'back');
});
