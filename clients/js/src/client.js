// The point-of-sale page's client of the Kelvora TEF service: a connection that comes back by
// itself, a session kept open and renewed, and one typed call per operation. One operation runs
// at a time: a call made while another runs fails at once with the code BUSY and sends nothing,
// because the service answers requests in order, names no request in its error replies, and
// takes any message sent during a payment's prompt as that prompt's answer.
import { SESSION_REFUSALS } from './catalogue.js';
import { Dialogue, isOwnResult } from './dialogue.js';
import { clientError, serviceError, withKey } from './errors.js';
import { isIdempotencyKey, newIdempotencyKey } from './keys.js';
import { recoveredEvent, transactionResult } from './outcome.js';
import {
  assertTillFree, checkLateStart, recoverOutcome, statusRequest,
} from './reconcile.js';
import { ReconnectingSocket } from './socket.js';

const DEFAULTS = {
  replyTimeoutMs: 20000,
  startTimeoutMs: 60000,
  lateStartMs: 5000,
  silenceMs: 300000,
  renewBeforeMs: 120000,
  settleMs: 500,
  outcomeWaitMs: 60000,
};

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Amounts go to the service with a comma before the cents, as it reads them.
function amountText(amount) {
  if (amount === undefined || typeof amount === 'string') return amount;
  if (!Number.isFinite(amount)) throw new TypeError(`Not an amount: ${amount}`);
  return amount.toFixed(2).replace('.', ',');
}

// The members a payment and a cancellation share; those the caller left out are not sent.
function amountMembers({ amount, installments, saleId }) {
  const members = {
    transaction_value: amountText(amount),
    number_of_installments: installments === undefined ? undefined : String(installments),
    sale_id: saleId === undefined ? undefined : String(saleId),
  };
  return Object.fromEntries(Object.entries(members).filter(([, value]) => value !== undefined));
}

// Failures after which the operation's outcome is unknown to the page but known to the service.
const OUTCOME_UNKNOWN = new Set(['CONNECTION_LOST', 'NO_REPLY']);

export class TefClient {
  constructor(options) {
    if (!options?.url) throw new TypeError('TefClient needs the service\'s address (url).');
    if (typeof options.getToken !== 'function') throw new TypeError('TefClient needs getToken().');
    this.options = { ...DEFAULTS, ...options };
    this.listeners = new Map();
    this.state = 'idle';
    this.session = null;
    this.failure = null;        // the refusal that stopped the connection ("failed")
    this.current = null;        // the request or dialogue whose messages the service is sending
    this.userBusy = false;      // an operation of the page holds the connection
    this.operation = null;      // the payment, cancellation or reprint running: { abortRequested }
    this.sessionWork = Promise.resolve();
    this.renewTimer = null;
    this.renewDue = false;
    this.readyWaiters = [];
    this.socket = new ReconnectingSocket(options.url, this.options, {
      onOpen: () => this.opened(),
      onMessage: (message) => this.received(message),
      onClose: () => this.closedConnection(),
      onWaiting: (retryInMs) => this.setState('waiting', { retryInMs }),
      onRefused: (code, cause) => this.refuse(clientError(code, { cause })),
      onUnopened: () => this.emit('error', clientError('HANDSHAKE_FAILED')),
    });
  }

  // Subscribes to "state", "session", "recovered" (the result of a leftover payment the service
  // confirmed now), "message" (a message no operation was waiting for) and "error" (a failure
  // in the background, such as a session that could not be renewed).
  on(event, listener) {
    if (!this.listeners.has(event)) this.listeners.set(event, new Set());
    this.listeners.get(event).add(listener);
    return () => this.listeners.get(event).delete(listener);
  }

  emit(event, detail) {
    for (const listener of this.listeners.get(event) ?? []) {
      try {
        listener(detail);
      } catch {
        // A listener's failure is the page's own; the connection goes on.
      }
    }
  }

  setState(state, detail = {}) {
    this.state = state;
    this.emit('state', { state, ...detail });
    if (state === 'ready') for (const waiter of this.readyWaiters.splice(0)) waiter.resolve(this.session);
    if (state === 'closed') for (const waiter of this.readyWaiters.splice(0)) waiter.reject(clientError('CLOSED'));
    if (state === 'failed') for (const waiter of this.readyWaiters.splice(0)) waiter.reject(detail.error);
  }

  // Connects and starts a session; resolves with it once the client is ready. After a loss the
  // client reconnects by itself and starts a new session. Rejects without trying again when the
  // service refuses the token or the page's origin, or the certificate is not trusted; a later
  // connect() tries anew.
  connect() {
    if (this.state === 'closed') return Promise.reject(clientError('CLOSED'));
    if (this.state === 'idle' || this.state === 'failed') {
      this.failure = null;
      this.setState('connecting');
      this.socket.open();
    }
    return this.ready();
  }

  // Resolves with the session once the client is connected with a session.
  ready() {
    if (this.state === 'ready') return Promise.resolve(this.session);
    if (this.state === 'closed') return Promise.reject(clientError('CLOSED'));
    if (this.state === 'failed') return Promise.reject(this.failure);
    return new Promise((resolve, reject) => this.readyWaiters.push({ resolve, reject }));
  }

  // True once ready, with the session work (finishing the previous session) done, within ms;
  // false when the time ran out or the connection stopped for good.
  async readyWithin(ms) {
    const deadline = Date.now() + ms;
    for (;;) {
      const left = deadline - Date.now();
      if (left <= 0) return false;
      let timer;
      const timeout = new Promise((resolve) => { timer = setTimeout(resolve, left, false); });
      try {
        if (!(await Promise.race([this.ready().then(() => true, () => false), timeout]))) return false;
      } finally {
        clearTimeout(timer);
      }
      await this.sessionWork.catch(() => {});
      if (this.state === 'ready') return true;
    }
  }

  // A failure no reconnection can mend: the tries stop until the page calls connect() again.
  refuse(error) {
    this.failure = error;
    this.socket.halt();
    clearTimeout(this.renewTimer);
    this.session = null;
    this.current?.lost();
    this.current = null;
    this.setState('failed', { error });
    this.emit('error', error);
  }

  opened() {
    this.setState('connecting');
    this.sessionWork = this.sessionWork.then(() => this.openSession()).catch((error) => {
      if (this.state === 'closed') return;
      if (SESSION_REFUSALS.has(error.code)) {
        this.refuse(error);
        return;
      }
      this.emit('error', error);
      this.socket.drop();
    });
  }

  // A new session on the connection just opened (the service closes a connection that starts
  // none), then the previous one, if any, is finished.
  async openSession() {
    const previous = this.session;
    await this.startSession();
    this.socket.markHealthy();
    this.setState('ready');
    if (previous) await this.finishQuietly(previous);
  }

  async startSession() {
    const token = await this.options.getToken();
    const reply = await this.request({ route: '/session/start', type: 'session', token }, 'session');
    this.renewDue = false;
    this.session = {
      sessionUuid: String(reply.session_uuid),
      expiration: String(reply.expiration),
      storeCode: String(reply.store_code ?? ''),
      terminalNumber: String(reply.terminal_number ?? ''),
    };
    this.scheduleRenewal();
    this.emit('session', this.session);
    return this.session;
  }

  async finishQuietly(session) {
    try {
      await this.request({ route: '/session/finish', type: 'session', session_uuid: session.sessionUuid }, 'session');
    } catch {
      // The session expires by itself; a failure to finish it early costs nothing.
    }
  }

  // The session is replaced shortly before the service would let it expire; while an operation
  // runs the renewal waits for its end.
  scheduleRenewal() {
    clearTimeout(this.renewTimer);
    const expiresAt = Date.parse(this.session.expiration);
    const wait = Math.max(1000, expiresAt - Date.now() - this.options.renewBeforeMs);
    this.renewTimer = setTimeout(() => {
      this.renewDue = true;
      this.renewIfIdle();
    }, wait);
  }

  renewIfIdle() {
    if (!this.renewDue || this.userBusy || this.state !== 'ready') return;
    this.renewDue = false;
    this.sessionWork = this.sessionWork.then(() => this.openSession()).catch((error) => this.emit('error', error));
  }

  // Sends one request and resolves with the reply of the given type; an error reply rejects with
  // its TefError. Without a reply in time the connection is dropped, so that a late reply cannot
  // be taken for the next request's. An initialisation may first deliver leftovers an earlier
  // run of the service left approved: their results go to the "recovered" event (or, when one
  // carries `key`, to onOwnResult), and their confirmations to handlers.onConfirmation.
  request(message, replyType, { key = null, handlers, onOwnResult } = {}) {
    return new Promise((resolve, reject) => {
      let timer;
      let settled = false;
      const arm = () => {
        clearTimeout(timer);
        timer = setTimeout(() => {
          settle(clientError('NO_REPLY'));
          this.socket.drop();
        }, this.options.replyTimeoutMs);
      };
      const settle = (error, reply) => {
        if (settled) return;
        settled = true;
        clearTimeout(timer);
        if (this.current === pending) this.current = null;
        if (error) reject(error); else resolve(reply);
      };
      const pending = {
        receive: (reply) => {
          if (reply.type === 'error') settle(serviceError(String(reply.message ?? '')));
          else if (reply.type === replyType) settle(null, reply);
          else if (reply.type === 'result' && key !== null && onOwnResult && isOwnResult(reply, key)) {
            onOwnResult(transactionResult(reply, { key }));
          } else if (reply.type === 'result') this.leftover(reply);
          else if (reply.type === 'confirmation') {
            // The service waits for the operator to read it; the reply's time starts again after.
            clearTimeout(timer);
            this.acknowledge(reply, handlers).then(() => { if (!settled) arm(); });
          } else this.emit('message', reply);
        },
        lost: () => settle(clientError('CONNECTION_LOST')),
        fail: (error) => settle(error),
      };
      this.current = pending;
      arm();
      if (!this.socket.send(message)) settle(clientError('NOT_CONNECTED'));
    });
  }

  // Answers a confirmation that came outside a dialogue (a leftover's) once the page's handler,
  // if any, has shown it; a failing handler does not keep the service waiting.
  async acknowledge(message, handlers) {
    try {
      await handlers?.onConfirmation?.({ message: String(message.message ?? ''), recovered: true });
    } catch {
      // Acknowledged all the same: the leftover is confirmed whether or not the page showed it.
    }
    this.socket.send({ route: '/transaction', type: 'confirmation' });
  }

  // A result that belongs to no running operation.
  leftover(message) {
    if (message.recovered === true) this.emit('recovered', recoveredEvent(message));
    else this.emit('message', message);
  }

  received(message) {
    if (this.current) this.current.receive(message);
    else if (message.type === 'result') this.leftover(message);
    else if (message.type === 'confirmation' && message.recovered === true) this.acknowledge(message);
    else this.emit('message', message);
  }

  closedConnection() {
    this.current?.lost();
    this.current = null;
    if (this.state !== 'closed' && this.state !== 'failed') this.setState('connecting');
  }

  // Runs one operation of the page: BUSY at once when another runs, NOT_CONNECTED without a
  // session; the session renewal that fell due meanwhile runs after it. `transaction` marks a
  // payment, cancellation or reprint, which abort() can reach from the call on.
  async exclusive(operation, transaction = null) {
    if (this.state === 'closed') throw clientError('CLOSED');
    if (this.userBusy) throw clientError('BUSY');
    this.userBusy = true;
    this.operation = transaction;
    try {
      await this.sessionWork;
      if (this.state !== 'ready' || !this.session) throw clientError('NOT_CONNECTED');
      return await operation(this.session.sessionUuid);
    } finally {
      this.userBusy = false;
      this.operation = null;
      this.renewIfIdle();
    }
  }

  query(members, replyType, handlers) {
    return this.exclusive((sessionUuid) => this.request({ ...members, session_uuid: sessionUuid }, replyType, { handlers }));
  }

  async initialize(handlers) {
    const reply = await this.query({ route: '/initialize', type: 'initialize' }, 'initialize', handlers);
    return { message: String(reply.message ?? '') };
  }

  async pinpadStatus(handlers) {
    const reply = await this.query({ route: '/pinpad/status', type: 'status' }, 'status', handlers);
    return { status: String(reply.status ?? ''), message: String(reply.message ?? '') };
  }

  // The operations the service's journal holds for a key or a sale, and what runs on the till.
  async status({ idempotencyKey, saleId } = {}) {
    if (idempotencyKey === undefined && saleId === undefined) {
      throw new TypeError('status() needs idempotencyKey or saleId.');
    }
    if (idempotencyKey !== undefined && !isIdempotencyKey(idempotencyKey)) {
      throw new TypeError('idempotencyKey must be 1 to 64 letters, digits, "_" or "-".');
    }
    const reply = await this.exclusive((sessionUuid) => this.request(
      statusRequest(sessionUuid, { idempotencyKey, saleId }), 'transaction_status'));
    const status = { operations: Array.isArray(reply.operations) ? reply.operations : [], running: reply.running === true };
    if (reply.running_operation) status.running_operation = reply.running_operation;
    return status;
  }

  // The version needs no session, but goes through the same single line to the service.
  async version(category) {
    const reply = await this.exclusive(() => this.request({ route: '/version', type: 'version', category }, 'version'));
    return { category: String(reply.category ?? ''), version: String(reply.version ?? '') };
  }

  // Replaces the session now with one from a new token (after a sale changed, say), and
  // finishes the old one.
  renewSession() {
    return this.exclusive(async () => {
      this.renewDue = false;
      await this.openSession();
      return this.session;
    });
  }

  async pay(payment, handlers) {
    return this.transaction({
      type: 'transaction',
      operation: String(payment.operation ?? 0),
      payer_name: String(payment.payerName),
      ...amountMembers(payment),
    }, handlers, payment.idempotencyKey ?? null);
  }

  async cancelPayment(cancellation, handlers) {
    return this.transaction({
      type: 'cancellation',
      operation: String(cancellation.operation ?? 200),
      cancellation_nsu: String(cancellation.nsu),
      transaction_date: String(cancellation.date),
      ...amountMembers(cancellation),
    }, handlers, cancellation.idempotencyKey ?? null);
  }

  async reprint(reprint, handlers) {
    return this.transaction({ type: 'reprint', operation: String(reprint?.operation ?? 112) }, handlers, undefined);
  }

  // Ends the running payment, cancellation or reprint as soon as the service allows; false when
  // none runs. The operation's promise then resolves with the ending "canceled_by_page" (or
  // "approved", when the cancellation came too late).
  abort() {
    if (this.operation === null) return false;
    if (this.current instanceof Dialogue) return this.current.abort();
    // Asked before the dialogue started (while the till's status is asked): it is left at once.
    this.operation.abortRequested = true;
    return true;
  }

  // The key of a payment or cancellation: the page's, or a new one handed to the page before
  // anything is sent (pageKey undefined: a reprint, which takes none).
  async keyFor(pageKey, handlers) {
    if (pageKey === undefined) return null;
    const key = pageKey ?? newIdempotencyKey();
    if (!isIdempotencyKey(key)) {
      throw new TypeError('idempotencyKey must be 1 to 64 letters, digits, "_" or "-".');
    }
    try {
      await handlers?.onKey?.(key);
    } catch (cause) {
      throw clientError('HANDLER_FAILED', { cause, idempotencyKey: key });
    }
    return key;
  }

  transaction(members, handlers, pageKey) {
    return this.exclusive(() => this.runOperation(members, handlers, pageKey), { abortRequested: false });
  }

  // A payment or cancellation: its key, the till free, the dialogue, and its outcome from the
  // service's journal when the dialogue could not be followed to its end. A reprint has no key.
  async runOperation(members, handlers, pageKey) {
    const key = await this.keyFor(pageKey, handlers);
    if (key !== null) await assertTillFree(this, key);
    let result;
    let dialogue = null;
    try {
      result = await this.runDialogue(members, key, handlers, (started) => { dialogue = started; });
    } catch (error) {
      if (key === null || !OUTCOME_UNKNOWN.has(error.code)) throw key === null ? error : withKey(error, key);
      result = await recoverOutcome(this, { members, key, handlers, cause: error, pageLeft: dialogue?.pageLeft });
    }
    // After a refusal the service may send a second result for the same transaction; it
    // must not be read as the next operation's.
    if (result.status !== 'approved') await delay(this.options.settleMs);
    return result;
  }

  // Sends one "/transaction" request and follows its dialogue to its result.
  async runDialogue(members, key, handlers, started) {
    const sessionUuid = this.session?.sessionUuid;
    const dialogue = new Dialogue({
      handlers,
      sessionUuid,
      key,
      send: (message) => this.socket.send(message),
      dropConnection: () => this.socket.drop(),
      startTimeoutMs: this.options.startTimeoutMs,
      silenceMs: this.options.silenceMs,
      lateMs: this.options.lateStartMs,
      onLate: key === null ? undefined : () => checkLateStart(this, dialogue, key),
      onLeftover: (message) => this.leftover(message),
    });
    started?.(dialogue);
    this.current = dialogue;
    if (this.operation?.abortRequested) dialogue.abort();
    const request = { route: '/transaction', session_uuid: sessionUuid, ...members };
    if (key !== null) request.idempotency_key = key;
    if (sessionUuid === undefined || !this.socket.send(request)) dialogue.fail(clientError('NOT_CONNECTED'));
    try {
      return await dialogue.promise;
    } finally {
      if (this.current === dialogue) this.current = null;
    }
  }

  // Finishes the session when nothing runs, ends the running operation with CLOSED, and closes
  // the connection for good.
  async close() {
    if (this.state === 'closed') return;
    clearTimeout(this.renewTimer);
    if (!this.userBusy && this.state === 'ready' && this.session) {
      await this.sessionWork.catch(() => {});
      await this.finishQuietly(this.session);
    }
    this.current?.fail(clientError('CLOSED'));
    this.current = null;
    this.session = null;
    this.setState('closed');
    this.socket.stop();
  }
}
