// Promise-based clients for the service: a WebSocket client (ws) over TLS, and a raw TLS socket
// for the tests that must write bytes no WebSocket client would. The WebSocket client holds every
// message both ways to docs/protocol/asyncapi.yaml.
import tls from 'node:tls';
import WebSocket from 'ws';
import { FROM_PAGE, TO_PAGE, checkProtocolMessage } from './protocolSchemas.mjs';
import { timeScale } from './paths.mjs';

function withTimeout(promise, givenMs, what) {
  const timeoutMs = givenMs * timeScale;
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${timeoutMs} ms: ${what}`)), timeoutMs);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// A message that breaks the protocol reference: next() throws it instead of returning it, and
// send() refuses it, so the test that saw it fails.
class AgainstSchema {
  constructor(error) {
    this.error = error;
  }
}

export class WsClient {
  // checkSchemas false: the peer is not the service (the echo host), so its messages are not the
  // protocol's.
  constructor(ws, { checkSchemas = true } = {}) {
    this.ws = ws;
    this.checkSchemas = checkSchemas;
    this.messages = [];
    this.waiters = [];
    ws.on('message', (data) => {
      const text = data.toString('utf8');
      const received = this.checked(TO_PAGE, text);
      const waiter = this.waiters.shift();
      if (waiter) waiter(received); else this.messages.push(received);
    });
    ws.on('error', (error) => { this.error = error; });
    this.closed = new Promise((resolve) => {
      ws.on('close', (code, reason) => resolve({ code, reason: reason.toString() }));
    });
  }

  // The text itself, or a AgainstSchema when it breaks the protocol reference.
  checked(direction, text) {
    if (!this.checkSchemas) return text;
    try {
      checkProtocolMessage(direction, text);
      return text;
    } catch (error) {
      return new AgainstSchema(error);
    }
  }

  // Sends one message of the protocol; one that breaks the reference is refused before it leaves.
  send(text) {
    const checked = this.checked(FROM_PAGE, text);
    if (checked instanceof AgainstSchema) return Promise.reject(checked.error);
    return this.sendRaw(text);
  }

  // Sends text as it is, for the tests that send malformed or unlisted input on purpose; the
  // service's replies are still checked.
  sendRaw(text) {
    return new Promise((resolve, reject) => {
      this.ws.send(text, (error) => (error ? reject(error) : resolve()));
    });
  }

  // The next message received (text), waiting up to timeoutMs; throws for a message that breaks
  // the protocol reference.
  async next(timeoutMs = 5000) {
    const received = this.messages.length > 0 ? this.messages.shift()
      : await withTimeout(new Promise((resolve) => this.waiters.push(resolve)), timeoutMs,
        'waiting for a message').catch((error) => {
        this.waiters.shift();
        throw error;
      });
    if (received instanceof AgainstSchema) throw received.error;
    return received;
  }

  // Resolves to true when no message arrives within ms (for "gets no reply" checks).
  async silentFor(ms) {
    await new Promise((resolve) => setTimeout(resolve, ms));
    return this.messages.length === 0;
  }

  // Resolves with { code, reason } when the connection has closed, or rejects after timeoutMs.
  waitClosed(timeoutMs = 5000) { return withTimeout(this.closed, timeoutMs, 'waiting for close'); }

  close(code, reason) { this.ws.close(code, reason); }

  // Drops the TCP connection at once, as a crashed or reloaded page does.
  terminate() { this.ws.terminate(); return this.closed; }
}

// Opens wss://host:port. Without ca the server certificate is not verified; with ca it must be
// issued by it for host.
// checkSchemas false is for a peer that is not the service.
export async function connectClient(port, {
  host = '127.0.0.1', ca, timeoutMs = 5000, checkSchemas = true, ...options
} = {}) {
  const url = `wss://${host.includes(':') ? `[${host}]` : host}:${port}`;
  const ws = new WebSocket(url, { rejectUnauthorized: Boolean(ca), ca, ...options });
  const client = new WsClient(ws, { checkSchemas });
  const opened = new Promise((resolve, reject) => {
    ws.once('open', resolve);
    ws.once('error', reject);
    ws.once('unexpected-response', (_, response) => reject(new Error(`HTTP ${response.statusCode}`)));
  });
  try {
    await withTimeout(opened, timeoutMs, `connecting to ${url}`);
  } catch (error) {
    ws.terminate();
    throw error;
  }
  return client;
}

// A raw TLS socket to the service (certificate not verified) that collects what it receives.
export class RawTlsClient {
  constructor(socket) {
    this.socket = socket;
    this.received = Buffer.alloc(0);
    this.changed = () => {};
    socket.on('data', (chunk) => {
      this.received = Buffer.concat([this.received, chunk]);
      this.changed();
    });
    socket.on('error', () => {});
    this.closed = new Promise((resolve) => socket.on('close', resolve));
  }

  write(bytes) { this.socket.write(bytes); }

  // Waits until the received bytes contain marker (a string) and returns everything up to and
  // including it, removing it from the buffer.
  async readUntil(marker, timeoutMs = 5000) {
    const found = new Promise((resolve) => {
      const check = () => {
        const at = this.received.indexOf(marker);
        if (at < 0) return;
        const end = at + Buffer.byteLength(marker);
        const head = this.received.subarray(0, end);
        this.received = this.received.subarray(end);
        this.changed = () => {};
        resolve(head.toString('latin1'));
      };
      this.changed = check;
      check();
    });
    return withTimeout(found, timeoutMs, `waiting for ${JSON.stringify(marker)}`);
  }

  // Resolves when the service has closed the connection, or rejects after timeoutMs.
  waitClosed(timeoutMs = 5000) { return withTimeout(this.closed, timeoutMs, 'waiting for close'); }

  destroy() { this.socket.destroy(); }
}

export async function connectRawTls(port, { host = '127.0.0.1', timeoutMs = 5000 } = {}) {
  const socket = tls.connect({ host, port, rejectUnauthorized: false });
  const connected = new Promise((resolve, reject) => {
    socket.once('secureConnect', resolve);
    socket.once('error', reject);
  });
  await withTimeout(connected, timeoutMs, `TLS connection to ${host}:${port}`);
  return new RawTlsClient(socket);
}

// A masked client text frame, as a browser sends it (any payload length form); fin false makes it a
// fragment before the last, rsv sets bits 6 to 4 of byte 0.
export function clientFrame(payload, { opcode = 0x1, mask = true, fin = true, rsv = 0 } = {}) {
  const data = Buffer.isBuffer(payload) ? payload : Buffer.from(payload, 'utf8');
  const key = mask ? Buffer.from([0x37, 0xfa, 0x21, 0x3d]) : Buffer.alloc(0);
  const byte0 = (fin ? 0x80 : 0) | (rsv << 4) | opcode;
  let header;
  if (data.length <= 125) {
    header = Buffer.from([byte0, (mask ? 0x80 : 0) | data.length]);
  } else if (data.length <= 0xffff) {
    header = Buffer.from([byte0, (mask ? 0x80 : 0) | 126, data.length >> 8, data.length & 0xff]);
  } else {
    header = Buffer.alloc(10);
    header[0] = byte0;
    header[1] = (mask ? 0x80 : 0) | 127;
    header.writeBigUInt64BE(BigInt(data.length), 2);
  }
  const body = Buffer.from(data);
  if (mask) for (let i = 0; i < body.length; i++) body[i] ^= key[i % 4];
  return Buffer.concat([header, key, body]);
}

// The opening request of a WebSocket client, with the RFC 6455 sample key unless one is given.
export function handshakeRequest({ key = 'dGhlIHNhbXBsZSBub25jZQ==', keyHeader = 'Sec-WebSocket-Key' } = {}) {
  return 'GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
    `${keyHeader}: ${key}\r\nSec-WebSocket-Version: 13\r\n\r\n`;
}
