// A tiny sales API that takes the Kelvora TEF Server's reports of approved payments at
// POST /v1/sales/tef/callback/<token>, checks each one with callback-verifier.mjs and answers as the
// service expects: 201 {"data": <payment id>} for a new report, 200 with the same id and
// "duplicate": true for a repeat (its event id, or its payment's NSU, taken before), 4xx with the
// reason for one it refuses. The key is the service's [sales_api] signing_secret when it has one,
// else derived from its jwt_secret:
//
//   KELVORA_SIGNING_SECRET=... node callback-receiver.mjs [--port N]   (127.0.0.1, port 8090 by default)
//   KELVORA_JWT_SECRET=... node callback-receiver.mjs [--port N]
import http from 'node:http';
import { parseArgs } from 'node:util';
import { REASONS, TakenReports, checkCallback, nsuCodes, reportKey } from './callback-verifier.mjs';

const CALLBACK_PATH = /^\/v1\/sales\/tef\/callback\/[^/?#]+$/;
// Reports are a few KiB; a larger body is refused before it is read whole.
const MAX_BODY_BYTES = 1024 * 1024;

function answer(response, status, body) {
  const text = JSON.stringify(body);
  response.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8', 'Content-Length': Buffer.byteLength(text) });
  response.end(text);
}

// The body's bytes exactly as received, or null once it passes maxBytes.
function readRawBody(request, maxBytes) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    request.on('data', (chunk) => {
      size += chunk.length;
      if (size > maxBytes) {
        resolve(null);
        request.destroy();
      } else {
        chunks.push(chunk);
      }
    });
    request.on('end', () => resolve(Buffer.concat(chunks)));
    request.on('error', reject);
  });
}

function startReceiver({ key, port, host = '127.0.0.1' }) {
  const reports = new TakenReports();
  const server = http.createServer(async (request, response) => {
    if (!CALLBACK_PATH.test(request.url)) return answer(response, 404, { message: 'Não encontrado.' });
    if (request.method !== 'POST') return answer(response, 405, { message: 'Método não permitido.' });
    if (Number(request.headers['content-length']) > MAX_BODY_BYTES) {
      return answer(response, 413, { message: 'Corpo grande demais.' });
    }
    const rawBody = await readRawBody(request, MAX_BODY_BYTES).catch(() => null);
    if (rawBody === null) return answer(response, 413, { message: 'Corpo grande demais.' });
    const eventId = request.headers['kelvora-event-id'];
    const reason = checkCallback({
      key, rawBody, signatureHeader: request.headers['kelvora-signature'], eventId, requestPath: request.url,
    });
    if (reason) {
      const status = reason === REASONS.mismatch || reason === REASONS.outsideTolerance ? 401 : 400;
      return answer(response, status, { message: reason });
    }
    // Here, and not before, a sales system parses rawBody and records the payment with its event id
    // and its NSU.
    const { paymentId, repeated } = reports.take(eventId, nsuCodes(rawBody));
    return answer(response, repeated ? 200 : 201, repeated ? { data: paymentId, duplicate: true } : { data: paymentId });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => resolve(server));
  });
}

const { values } = parseArgs({ options: { port: { type: 'string', default: '8090' } } });
Promise.resolve().then(() => startReceiver({
  key: reportKey({ signingSecret: process.env.KELVORA_SIGNING_SECRET, jwtSecret: process.env.KELVORA_JWT_SECRET }),
  port: Number(values.port),
})).then((server) => {
  process.stdout.write(`callback-receiver: listening at http://127.0.0.1:${server.address().port}/\n`);
}).catch((error) => {
  process.stderr.write(`callback-receiver: ${error.message}\n`);
  process.exitCode = 2;
});
