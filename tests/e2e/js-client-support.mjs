// What the client library's end-to-end tests share: clients of the library (clients/js) over npm
// "ws" whose every frame, both ways, is held to docs/protocol/asyncapi.yaml and written down;
// handlers that pay by debit and note what the dialogue showed; and small waits.
import assert from 'node:assert/strict';
import WebSocket from 'ws';
import { TefClient, TefError } from '../../clients/js/src/index.js';
import {
  FROM_PAGE, SchemaFailures, TO_PAGE, checkProtocolMessage, sessionClaims, signToken,
} from './lib/index.mjs';

const clients = [];
const schemaFailures = new SchemaFailures();

// For the test file's afterEach: closes every client made since, then fails the test when a frame
// broke the protocol's reference.
export async function closeClients() {
  while (clients.length > 0) await clients.pop().close();
  schemaFailures.throwIfAny();
}

// A WebSocket of npm "ws" whose frames are checked against the protocol's document (those the page
// sends unless checkSent is false, for tests that send invalid requests on purpose) and whose
// sent frames are added to `sent`. beforeSend(message) may return a promise the frame then waits
// for. wsOptions() gives the options of "ws" (rejectUnauthorized false unless they say).
function checkedWebSocket(url, { checkSent, sent, beforeSend, wsOptions }) {
  const socket = new WebSocket(url, { rejectUnauthorized: false, ...wsOptions() });
  socket.on('message', (data) => schemaFailures.record(() => checkProtocolMessage(TO_PAGE, String(data))));
  const send = socket.send.bind(socket);
  socket.send = (text, ...rest) => {
    const message = JSON.parse(text);
    if (checkSent) schemaFailures.record(() => checkProtocolMessage(FROM_PAGE, text));
    const held = beforeSend?.(message);
    const go = () => {
      sent.push(message);
      send(text, ...rest);
    };
    if (held) held.then(go); else go();
  };
  return socket;
}

// A client of the service t started, with the stub sales API as its callback and the session
// claims given (over the tests' defaults); `client.sockets` keeps every WebSocket it made (so a
// test can break one), `client.sent` every frame it sent.
export function clientOf(t, {
  checkSent = true, claims = {}, beforeSend, wsOptions = () => ({}), ...options
} = {}) {
  const sockets = [];
  const sent = [];
  const client = new TefClient({
    url: `wss://127.0.0.1:${t.svc.port}`,
    getToken: () => signToken(sessionClaims({ callback_url: t.api.url, ...claims })),
    createWebSocket: (url) => {
      const socket = checkedWebSocket(url, { checkSent, sent, beforeSend, wsOptions });
      sockets.push(socket);
      return socket;
    },
    backoffMs: [100, 200],
    ...options,
  });
  client.sockets = sockets;
  client.sent = sent;
  clients.push(client);
  return client;
}

// The frames a client sent of one route (and type).
export function framesOf(client, route, type) {
  return client.sent.filter((m) => m.route === route && (type === undefined || m.type === type));
}

// Handlers that pay by debit (a question gets "Não") and write down everything the dialogue
// showed; `extra` replaces any of them.
export function debitHandlers(extra = {}) {
  const seen = [];
  return {
    seen,
    onMenu: (prompt) => {
      seen.push(['menu', prompt.title, prompt.options.map((o) => o.code)]);
      return { option: prompt.options.find((o) => o.label === 'Debito').line };
    },
    onCollect: () => ({ cancel: true }),
    onQuestion: (prompt) => {
      seen.push(['question', prompt.message]);
      return 'Não';
    },
    onConfirmation: (prompt) => { seen.push(['confirmation', prompt.message, prompt.recovered]); },
    onMessage: (message) => seen.push(['message', message.message]),
    onReceipt: (receipt) => seen.push(['receipt', receipt.copyNumber, receipt.lines.length > 0]),
    onCanCancel: (canCancel) => seen.push(['can_cancel', canCancel]),
    onKey: (key) => seen.push(['key', key]),
    ...extra,
  };
}

// A promise with its resolve function, for a handler a test releases later.
export function gate() {
  let open;
  const promise = new Promise((resolve) => { open = resolve; });
  return { promise, open };
}

export const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export function today() {
  const d = new Date();
  return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
}

export async function rejectsWith(promise, code) {
  let caught;
  await assert.rejects(promise, (error) => {
    assert.ok(error instanceof TefError, `a TefError, not ${error}`);
    assert.equal(error.code, code, error.message);
    caught = error;
    return true;
  });
  return caught;
}

// Resolves with the next "state" event of the client that is `state`.
export function nextState(client, state) {
  return new Promise((resolve) => {
    const off = client.on('state', (event) => {
      if (event.state === state) {
        off();
        resolve(event);
      }
    });
  });
}
