// Who may open a WebSocket on the real service: the origins of [security] allowed_origins, requests
// without an Origin (not a browser), and only requests that carry what every browser sends.
import assert from 'node:assert/strict';
import { afterEach, describe, test } from 'node:test';
import {
  EVERY_ORIGIN_WARNING, connectClient, connectRawTls, exchangeRaw, handshakeRequest, readServiceLogTexts,
  startProtocolService, waitForLogText,
} from './lib/index.mjs';

const PROBE = { route: '/version', type: 'version', category: 'x' };
const PROBE_REPLY = { type: 'error', message: 'Categoria inválida. Valores permitidos [service_exe, clisitef_dll]' };
const REFUSAL = (status) => `HTTP/1.1 ${status}\r\nContent-Length: 0\r\nConnection: close\r\n\r\n`;
const REFUSED_ORIGIN = 'Conexão recusada: origem não permitida: ';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

async function startWith(ini) {
  const svc = await startProtocolService({ ini, simulator: false });
  cleanups.push(() => svc.stop());
  return svc;
}

// Opens a page with the given Origin header (none when undefined) and checks that it is served.
async function pageServed(port, origin) {
  const client = await connectClient(port, origin === undefined ? {} : { origin });
  cleanups.push(() => client.terminate());
  assert.deepEqual(await exchangeRaw(client, PROBE), PROBE_REPLY, origin);
}

// Sends a raw opening request and returns what the service answered before it closed.
async function rawAnswer(port, request) {
  const raw = await connectRawTls(port);
  cleanups.push(() => raw.destroy());
  raw.write(request);
  await raw.waitClosed();
  return raw.received.toString('latin1');
}

describe('allowed origins', () => {
  test('listed origins and requests without Origin are served; any other origin gets 403 and a log line', async () => {
    const svc = await startWith('[security]\nallowed_origins = https://pos.example, http://localhost:8080 pos.example/x\n');
    const texts = await readServiceLogTexts(svc.baseDir);
    assert.ok(!texts.includes(EVERY_ORIGIN_WARNING));
    assert.ok(texts.includes('Origem inválida em [security] allowed_origins ignorada: pos.example/x'), texts.join('\n'));

    for (const origin of ['https://pos.example', 'HTTPS://POS.example:443', 'http://localhost:8080', undefined]) {
      await pageServed(svc.port, origin);
    }
    for (const origin of ['https://evil.example', 'http://pos.example', 'http://localhost:8081', 'null']) {
      await assert.rejects(connectClient(svc.port, { origin }), /HTTP 403/, origin);
      await waitForLogText(svc.baseDir, REFUSED_ORIGIN + origin);
    }

    // The origin is logged with its control characters escaped, so it cannot forge log lines.
    const forged = handshakeRequest().replace('\r\n\r\n', '\r\nOrigin: https://evil.example\x1b[2J\rX\r\n\r\n');
    assert.equal(await rawAnswer(svc.port, forged), REFUSAL('403 Forbidden'));
    await waitForLogText(svc.baseDir, `${REFUSED_ORIGIN}https://evil.example\\x1B[2J\\x0DX`);
  });

  test('without the setting every origin is served, and the start warns about it', async () => {
    const svc = await startWith(undefined);
    assert.ok((await readServiceLogTexts(svc.baseDir)).includes(EVERY_ORIGIN_WARNING));
    await pageServed(svc.port, 'https://anything.example');
  });
});

describe('opening request', () => {
  test('a request without what every browser sends gets 400 and is closed', async () => {
    const svc = await startWith(undefined);
    const request = handshakeRequest();
    const without = (line) => request.replace(`${line}\r\n`, '');
    const cases = [
      { what: 'no Sec-WebSocket-Version', bytes: without('Sec-WebSocket-Version: 13') },
      { what: 'Sec-WebSocket-Version 8', bytes: request.replace('Version: 13', 'Version: 8') },
      { what: 'no Sec-WebSocket-Key', bytes: without('Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==') },
      { what: 'no Upgrade', bytes: without('Upgrade: websocket') },
      { what: 'Upgrade: h2c', bytes: request.replace('Upgrade: websocket', 'Upgrade: h2c') },
      { what: 'no Connection', bytes: without('Connection: Upgrade') },
      { what: 'Connection: close', bytes: request.replace('Connection: Upgrade', 'Connection: close') },
      { what: 'method POST', bytes: request.replace('GET', 'POST') },
      { what: 'a plain HTTP request', bytes: 'GET / HTTP/1.1\r\nHost: localhost\r\n\r\n' },
    ];
    for (const { what, bytes } of cases) {
      assert.equal(await rawAnswer(svc.port, bytes), REFUSAL('400 Bad Request'), what);
    }
    await pageServed(svc.port, undefined);
  });

  test('100 header lines are read; one more closes the connection unanswered', async () => {
    const svc = await startWith(undefined);
    const withHeaders = (count) => handshakeRequest().replace('\r\n\r\n',
      `\r\n${Array.from({ length: count - 5 }, (_, i) => `X-Header-${i}: v\r\n`).join('')}\r\n`);
    const raw = await connectRawTls(svc.port);
    cleanups.push(() => raw.destroy());
    raw.write(withHeaders(100));
    assert.match(await raw.readUntil('\r\n\r\n'), /^HTTP\/1\.1 101 /);
    assert.equal(await rawAnswer(svc.port, withHeaders(101)), '');
  });
});
