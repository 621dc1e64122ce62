// A stand-in for the sales system's HTTP API: takes the service's POST of each approved payment
// to /v1/sales/tef/callback/<token>, shows it, and answers with a new payment id.
//
//   node tools/stub-sales-api.mjs --port N [--host H]
//
// Importable for tests: startStubSalesApi({ port, host, respond, log, tls }) resolves to
// { url, port, requests, close() }. Each callback received is appended to `requests` as
// { method, path, token, headers, rawBody, body (parsed JSON, or null), receivedAt }.
// `respond(request, body)` may return { status, body, headers, delayMs } to replace the usual
// answer (a string body is sent as it is, anything else as JSON); returning nothing keeps the
// usual 201 {"data": <next id>}, ids counting from 1000. With tls ({ cert, key }, PEM) it answers
// over HTTPS at https://localhost:<port>/, the name its certificate is for.
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const CALLBACK_PATH = /^\/v1\/sales\/tef\/callback\/([^/?#]+)$/;
const FIRST_PAYMENT_ID = 1000;
const HEADERS_OF_INTEREST = ['content-type', 'content-length', 'accept', 'accept-charset', 'user-agent', 'host',
  'kelvora-signature', 'kelvora-event-id'];

function readBody(request) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    request.on('data', (chunk) => chunks.push(chunk));
    request.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
    request.on('error', reject);
  });
}

function parseJson(text) {
  try {
    return { ok: true, value: JSON.parse(text) };
  } catch {
    return { ok: false, value: null };
  }
}

// An answer body as sent: a string as it is, nothing as empty, anything else as JSON.
function bodyText(body) {
  if (body === undefined) return '';
  return typeof body === 'string' ? body : JSON.stringify(body);
}

// What the console shows of one callback: the line, the headers that matter and the body.
function describe(record) {
  const headers = HEADERS_OF_INTEREST.filter((name) => name in record.headers)
    .map((name) => `  ${name}: ${record.headers[name]}`);
  const body = record.body !== null ? JSON.stringify(record.body, null, 2) : record.rawBody;
  return [`${record.method} ${record.path}`, ...headers, body].join('\n');
}

export async function startStubSalesApi({ port = 0, host = '127.0.0.1', respond, log = () => {}, tls } = {}) {
  const requests = [];
  const timers = new Set();
  let nextPaymentId = FIRST_PAYMENT_ID;

  const send = (response, { status, body, headers = {} }) => {
    const type = typeof body === 'string' || body === undefined ? {} : { 'Content-Type': 'application/json; charset=utf-8' };
    response.writeHead(status, { ...type, ...headers });
    response.end(bodyText(body));
  };

  const handle = async (request, response) => {
    const path = String(request.url);
    const match = CALLBACK_PATH.exec(path);
    if (!match) {
      send(response, { status: 404, body: { message: 'Not found' } });
      return;
    }
    if (request.method !== 'POST') {
      send(response, { status: 405, body: { message: 'Method not allowed' }, headers: { Allow: 'POST' } });
      return;
    }
    const rawBody = await readBody(request);
    const parsed = parseJson(rawBody);
    const record = {
      method: request.method, path, token: match[1], headers: request.headers,
      rawBody, body: parsed.value, receivedAt: new Date(),
    };
    requests.push(record);
    log(describe(record));

    let reply = respond ? await respond(record, parsed.value) : undefined;
    if (!reply) {
      reply = parsed.ok && parsed.value !== null && typeof parsed.value === 'object'
        ? { status: 201, body: { data: nextPaymentId++ } }
        : { status: 400, body: { message: 'Corpo da requisição não é um objeto JSON.' } };
    }
    log(`-> ${reply.status} ${bodyText(reply.body)}${reply.delayMs > 0 ? ` (after ${reply.delayMs} ms)` : ''}\n`);
    if (reply.delayMs > 0) {
      const timer = setTimeout(() => {
        timers.delete(timer);
        send(response, reply);
      }, reply.delayMs);
      timers.add(timer);
    } else {
      send(response, reply);
    }
  };

  // A failing `respond` becomes a 500 answer instead of stopping the process.
  const listener = (request, response) => {
    handle(request, response).catch((error) => {
      log(`stub-sales-api: ${error.message}`);
      if (!response.headersSent) send(response, { status: 500, body: { message: error.message } });
      else response.destroy();
    });
  };
  const server = tls ? https.createServer(tls, listener) : http.createServer(listener);

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, resolve);
  });
  const actual = server.address().port;
  const shownHost = tls ? 'localhost' : host.includes(':') ? `[${host}]` : host;
  return {
    url: `${tls ? 'https' : 'http'}://${shownHost}:${actual}/`,
    port: actual,
    requests,
    // Stops at once, also with answers still delayed, so that a test never hangs on its stub.
    close: () => new Promise((resolve) => {
      for (const timer of timers) clearTimeout(timer);
      timers.clear();
      server.close(() => resolve());
      server.closeAllConnections();
    }),
  };
}

async function main() {
  const { values } = parseArgs({ options: { port: { type: 'string', default: '8090' }, host: { type: 'string', default: '127.0.0.1' } } });
  const port = Number.parseInt(values.port, 10);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error(`stub-sales-api: invalid --port ${values.port}`);
    process.exit(2);
  }
  const api = await startStubSalesApi({ port, host: values.host, log: (text) => console.log(text) });
  console.log(`stub-sales-api: listening at ${api.url} (callbacks at ${api.url}v1/sales/tef/callback/<token>)`);
  const stop = () => api.close().then(() => process.exit(0));
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

if (process.argv[1] && fs.realpathSync(process.argv[1]) === fileURLToPath(import.meta.url)) {
  main().catch((error) => {
    console.error(`stub-sales-api: ${error.message}`);
    process.exit(1);
  });
}
