// The TLS WebSocket server with an echo handler (kelvora-echo-host): the handshake and frames on
// the wire, message sizes and fragments, ping and the closing handshake, one reply path per
// connection, the frames that close a connection with their status, and the disconnect step of
// each connection.
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

// The echo host answers with what it was sent, not with the service's protocol.
async function connect(service) {
  const client = await connectClient(service.port, { checkSchemas: false });
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
    { what: 'masked text', bytes: clientFrame('masked'), reply: '\x81\x06masked' },
    { what: 'empty payload', bytes: clientFrame(''), reply: null },
    { what: 'pong', bytes: clientFrame('unasked', { opcode: 0xa }), reply: null },
    { what: 'ping', bytes: clientFrame('p1', { opcode: 0x9 }), reply: '\x8a\x02p1' },
    {
      what: 'a text in three fragments with a ping between them',
      bytes: Buffer.concat([
        clientFrame('frag', { fin: false }), clientFrame('p2', { opcode: 0x9 }),
        clientFrame('men', { opcode: 0x0, fin: false }), clientFrame('ted', { opcode: 0x0 }),
      ]),
      reply: '\x8a\x02p2\x81\x0afragmented',
    },
  ];
  for (const { what, bytes, reply } of frames) {
    raw.write(bytes);
    if (reply !== null) assert.equal(await raw.readUntil(Buffer.from(reply, 'latin1')), reply, what);
  }
  assert.equal(raw.received.length, 0, 'frames without text get no reply');
});

test('a close frame is answered at once and ends the connection; so does a frame the service does not take', async () => {
  const service = await startEchoHost();
  const closeFrame = (code) => String.fromCharCode(0x88, 2, code >> 8, code & 0xff);
  const cases = [
    { what: 'close with a status and a reason', bytes: clientFrame(Buffer.from('\x03\xe8bye', 'latin1'), { opcode: 0x8 }), code: 1000 },
    { what: 'close without a status', bytes: clientFrame('', { opcode: 0x8 }), code: 1000 },
    { what: 'close with going away', bytes: clientFrame(Buffer.from([0x03, 0xe9]), { opcode: 0x8 }), code: 1001 },
    { what: 'binary', bytes: clientFrame('bin', { opcode: 0x2 }), code: 1003 },
    { what: 'a reserved opcode', bytes: clientFrame('x', { opcode: 0x3 }), code: 1002 },
    { what: 'an RSV bit', bytes: clientFrame('x', { rsv: 4 }), code: 1002 },
    { what: 'a continuation without a first fragment', bytes: clientFrame('x', { opcode: 0x0 }), code: 1002 },
    { what: 'text that is not UTF-8', bytes: clientFrame(Buffer.from([0x61, 0xc3, 0x28])), code: 1007 },
    {
      what: 'fragments over 1 MiB together',
      bytes: Buffer.concat([clientFrame('a'.repeat(700 * 1024), { fin: false }), clientFrame('b'.repeat(400 * 1024), { opcode: 0x0 })]),
      code: 1009,
    },
  ];
  for (const { what, bytes, code } of cases) {
    const raw = await connectRawTls(service.port);
    cleanups.push(() => raw.destroy());
    raw.write(handshakeRequest());
    await raw.readUntil('\r\n\r\n');
    raw.write(Buffer.concat([bytes, clientFrame('after the close')]));
    const expected = closeFrame(code);
    assert.equal(await raw.readUntil(Buffer.from(expected, 'latin1')), expected, what);
    await raw.waitClosed();
    assert.equal(raw.received.length, 0, `nothing follows the close frame: ${what}`);
  }
});

test('a standard client\'s close() completes at once and the disconnect step runs at once', async () => {
  const service = await startEchoHost();
  const client = await connect(service);
  const id = await connectionId(client);
  client.close(4000, 'page left');
  // ws waits 30 s for the server's close frame before it gives up.
  assert.deepEqual(await client.waitClosed(2000), { code: 4000, reason: '' });
  await waitForLogText(service.baseDir, `echo-host: disconnect ${id}`, { timeoutMs: 2000 });
});

test('a frame claiming more than 1 MiB closes its connection with 1009; the others go on', async () => {
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
    assert.equal(raw.received.toString('latin1'), '\x88\x02\x03\xf1', `closed with 1009: ${what}`);
    await bystander.send(what);
    assert.equal(await bystander.next(), what);
  }
});

test('an unmasked client frame closes its connection with 1002; the others go on', async () => {
  const service = await startEchoHost();
  const bystander = await connect(service);
  const raw = await connectRawTls(service.port);
  cleanups.push(() => raw.destroy());
  raw.write(handshakeRequest());
  await raw.readUntil('\r\n\r\n');
  raw.write(clientFrame('plain', { mask: false }));
  await raw.waitClosed();
  assert.equal(raw.received.toString('latin1'), '\x88\x02\x03\xea');
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
