// What the library does when a payment or cancellation could not be followed to its end (the
// connection dropped, or the service fell silent): once the connection is back it asks the
// service's journal about the operation's key and resolves with the outcome recorded there,
// instead of leaving the page to guess whether money moved. Also the checks that no other
// operation holds the till, before a payment is sent and when its first message is late.
import { TefError, withKey } from './errors.js';
import { CLIENT_ERRORS } from './catalogue.js';
import { journalResult, notReceivedResult } from './outcome.js';

const POLL_MS = 1000;
// An operation that is just ending (its result sent, the library still finishing) is not a
// reason to turn the page away.
const BUSY_GRACE_MS = 1500;
const BUSY_POLL_MS = 250;

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, Math.max(0, ms)));

// Failures after which the same question, on the connection that comes back, can be answered.
const TRANSIENT = new Set(['CONNECTION_LOST', 'NO_REPLY', 'NOT_CONNECTED', 'SESSION_INVALID', 'SESSION_EXPIRED']);

export function statusRequest(sessionUuid, { idempotencyKey, saleId }) {
  const members = { route: '/transaction/status', type: 'status', session_uuid: sessionUuid };
  if (idempotencyKey !== undefined) members.idempotency_key = idempotencyKey;
  if (saleId !== undefined) members.sale_id = saleId;
  return members;
}

// The journal's latest operation of the key, or undefined.
function operationOf(status, key) {
  const operations = Array.isArray(status.operations) ? status.operations : [];
  return operations.filter((operation) => operation.idempotency_key === key).at(-1);
}

// The operation running on the till when it is not the one of `key` ({} when the service does not
// name it: a reprint or a pin-pad query), else null.
function othersOperation(status, key) {
  if (status.running !== true) return null;
  const running = status.running_operation;
  if (running && running.idempotency_key === key) return null;
  return running ?? {};
}

function tillBusy(running, key) {
  const sale = Number.isInteger(running.sale_id) ? running.sale_id : null;
  const text = sale === null ? CLIENT_ERRORS.TILL_BUSY : `${CLIENT_ERRORS.TILL_BUSY} (venda ${sale})`;
  return new TefError('TILL_BUSY', text, { runningSaleId: sale, idempotencyKey: key });
}

// Resolves with the outcome the journal holds for the operation of `key`: the approved result
// (sent again by the service for the same request and key), a failed result for an operation
// that ended without charging, or, while it still runs, asks again. Rejects with `cause` (and
// the key) when the service cannot tell within the client's outcomeWaitMs.
export async function recoverOutcome(client, { members, key, handlers, cause, pageLeft }) {
  const deadline = Date.now() + client.options.outcomeWaitMs;
  const giveUp = () => { throw withKey(cause, key); };
  let unknownOnce = false;
  for (;;) {
    if (!(await client.readyWithin(deadline - Date.now()))) giveUp();
    let status;
    try {
      status = await client.request(statusRequest(client.session.sessionUuid, { idempotencyKey: key }),
        'transaction_status', { key, handlers });
    } catch (error) {
      if (!TRANSIENT.has(error.code)) giveUp();
      await delay(100);
      continue;
    }
    const operation = operationOf(status, key);
    if (operation === undefined) {
      // The journal writes an operation before its first prompt; asked twice and still unknown,
      // the request never reached the service.
      if (unknownOnce) return notReceivedResult(key);
      unknownOnce = true;
    } else if (operation.status === 'confirmed') {
      try {
        return await client.runDialogue(members, key, handlers);
      } catch (error) {
        if (!TRANSIENT.has(error.code)) throw withKey(error, key);
        continue;
      }
    } else if (operation.status === 'approved') {
      // Left approved by a run of the service that stopped: the next initialisation confirms it
      // and sends its result, marked recovered, with our key.
      let own = null;
      try {
        await client.request({ route: '/initialize', type: 'initialize', session_uuid: client.session.sessionUuid },
          'initialize', { key, handlers, onOwnResult: (result) => { own = result; } });
      } catch (error) {
        if (!TRANSIENT.has(error.code)) giveUp();
      }
      if (own) return own;
      continue;
    } else {
      const ended = journalResult(operation, { key, pageLeft });
      if (ended) return ended;
    }
    await delay(Math.min(POLL_MS, deadline - Date.now()));
  }
}

// Before a payment or cancellation is sent: while another operation holds the till the service
// would ignore ours, so the page hears it at once. An earlier attempt with the same key that
// still runs (a page reloaded mid-payment) is waited for; its outcome then comes back for ours.
export async function assertTillFree(client, key) {
  const started = Date.now();
  for (;;) {
    let status;
    try {
      status = await client.request(statusRequest(client.session.sessionUuid, { idempotencyKey: key }),
        'transaction_status', { key });
    } catch (error) {
      if (error instanceof TefError && error.fromService) return;
      throw error;
    }
    const other = othersOperation(status, key);
    const ownRunning = status.running === true && other === null;
    if (other === null && !ownRunning) return;
    if (other !== null && Date.now() - started >= BUSY_GRACE_MS) throw tillBusy(other, key);
    if (ownRunning && Date.now() - started >= client.options.startTimeoutMs) return;
    await delay(other === null ? POLL_MS : BUSY_POLL_MS);
  }
}

// Asks the till's status on a second connection with a session of its own: the payment's
// connection must carry nothing but the dialogue, since the service may be about to prompt on
// it. Resolves with the reply, or null when it could not be had.
export function probeTill(client, key) {
  return new Promise((resolve) => {
    let socket;
    let settled = false;
    let sessionUuid = null;
    const finish = (value) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      if (sessionUuid !== null && socket.readyState === 1) {
        socket.send(JSON.stringify({ route: '/session/finish', type: 'session', session_uuid: sessionUuid }));
      }
      try {
        socket.close(1000);
      } catch {
        // Already closed.
      }
      resolve(value);
    };
    const timer = setTimeout(() => finish(null), client.options.replyTimeoutMs);
    try {
      socket = client.socket.create(client.socket.url);
    } catch {
      clearTimeout(timer);
      resolve(null);
      return;
    }
    socket.addEventListener('open', async () => {
      try {
        const token = await client.options.getToken();
        socket.send(JSON.stringify({ route: '/session/start', type: 'session', token }));
      } catch {
        finish(null);
      }
    });
    socket.addEventListener('message', (event) => {
      let message;
      try {
        message = JSON.parse(String(event.data));
      } catch {
        return;
      }
      if (message.type === 'session' && sessionUuid === null && typeof message.session_uuid === 'string') {
        sessionUuid = message.session_uuid;
        socket.send(JSON.stringify(statusRequest(sessionUuid, { idempotencyKey: key })));
      } else if (message.type === 'transaction_status') {
        finish(message);
      } else if (message.type === 'error') {
        finish(null);
      }
    });
    socket.addEventListener('close', () => finish(null));
    socket.addEventListener('error', () => {});
  });
}

// The first message of a payment is late. When the probe shows another operation holding the
// till, or nothing running and no trace of our key, the service has dropped our request, and the
// page hears TILL_BUSY instead of waiting. Anything else (the till busy with something unnamed,
// which may be our own request's initialisation) is asked about again later.
export async function checkLateStart(client, dialogue, key) {
  const status = await probeTill(client, key);
  if (status === null || dialogue.heard || dialogue.finished) return;
  const running = status.running_operation;
  if (running && running.idempotency_key !== key) dialogue.fail(tillBusy(running, key));
  else if (status.running !== true && operationOf(status, key) === undefined) dialogue.fail(tillBusy({}, key));
}
