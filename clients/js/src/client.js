// The point-of-sale page's client of the Kelvora TEF service: a connection that comes back by
// itself, a session kept open and renewed, and one typed call per operation. One operation runs
// at a time: a call made while another runs fails at once with the code BUSY and sends nothing,
// because the service answers requests in order, names no request in its error replies, and
// takes any message sent during a payment's prompt as that prompt's answer.
import { Dialogue } from './dialogue.js';
import { clientError, serviceError } from './errors.js';
import { ReconnectingSocket } from './socket.js';

const DEFAULTS = {
  replyTimeoutMs: 20000,
  startTimeoutMs: 60000,
  silenceMs: 300000,
  renewBeforeMs: 120000,
  settleMs: 500,
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

export class TefClient {
  constructor(options) {
    if (!options?.url) throw new TypeError('TefClient needs the service\'s address (url).');
    if (typeof options.getToken !== 'function') throw new TypeError('TefClient needs getToken().');
    this.options = { ...DEFAULTS, ...options };
    this.listeners = new Map();
    this.state = 'idle';
    this.session = null;
    this.current = null;        // the request or dialogue whose messages the service is sending
    this.userBusy = false;      // an operation of the page holds the connection
    this.sessionWork = Promise.resolve();
    this.renewTimer = null;
    this.renewDue = false;
    this.readyWaiters = [];
    this.socket = new ReconnectingSocket(options.url, this.options, {
      onOpen: () => this.opened(),
      onMessage: (message) => this.received(message),
      onClose: () => this.closedConnection(),
      onWaiting: (retryInMs) => this.setState('waiting', { retryInMs }),
    });
  }

  // Subscribes to "state", "session", "message" (a message no operation was waiting for) and
  // "error" (a failure in the background, such as a session that could not be renewed).
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
  }

  // Connects and starts a session; resolves with it once the client is ready. After a loss the
  // client reconnects by itself and starts a new session.
  connect() {
    if (this.state === 'closed') return Promise.reject(clientError('CLOSED'));
    const ready = this.ready();
    if (this.state === 'idle') {
      this.setState('connecting');
      this.socket.open();
    }
    return ready;
  }

  // Resolves with the session once the client is connected with a session.
  ready() {
    if (this.state === 'ready') return Promise.resolve(this.session);
    if (this.state === 'closed') return Promise.reject(clientError('CLOSED'));
    return new Promise((resolve, reject) => this.readyWaiters.push({ resolve, reject }));
  }

  opened() {
    this.setState('connecting');
    this.sessionWork = this.sessionWork.then(() => this.openSession()).catch((error) => {
      if (this.state === 'closed') return;
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
  // be taken for the next request's.
  request(message, replyType) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.current = null;
        reject(clientError('NO_REPLY'));
        this.socket.drop();
      }, this.options.replyTimeoutMs);
      const settle = (error, reply) => {
        clearTimeout(timer);
        this.current = null;
        if (error) reject(error); else resolve(reply);
      };
      this.current = {
        receive: (reply) => {
          if (reply.type === 'error') settle(serviceError(String(reply.message ?? '')));
          else if (reply.type === replyType) settle(null, reply);
        },
        lost: () => settle(clientError('CONNECTION_LOST')),
        fail: (error) => settle(error),
      };
      if (!this.socket.send(message)) settle(clientError('NOT_CONNECTED'));
    });
  }

  received(message) {
    if (this.current) this.current.receive(message);
    else this.emit('message', message);
  }

  closedConnection() {
    this.current?.lost();
    this.current = null;
    if (this.state !== 'closed') this.setState('connecting');
  }

  // Runs one operation of the page: BUSY at once when another runs, NOT_CONNECTED without a
  // session; the session renewal that fell due meanwhile runs after it.
  async exclusive(operation) {
    if (this.state === 'closed') throw clientError('CLOSED');
    if (this.userBusy) throw clientError('BUSY');
    this.userBusy = true;
    try {
      await this.sessionWork;
      if (this.state !== 'ready' || !this.session) throw clientError('NOT_CONNECTED');
      return await operation(this.session.sessionUuid);
    } finally {
      this.userBusy = false;
      this.renewIfIdle();
    }
  }

  query(members, replyType) {
    return this.exclusive((sessionUuid) => this.request({ ...members, session_uuid: sessionUuid }, replyType));
  }

  async initialize() {
    const reply = await this.query({ route: '/initialize', type: 'initialize' }, 'initialize');
    return { message: String(reply.message ?? '') };
  }

  async pinpadStatus() {
    const reply = await this.query({ route: '/pinpad/status', type: 'status' }, 'status');
    return { status: String(reply.status ?? ''), message: String(reply.message ?? '') };
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
    }, handlers);
  }

  async cancelPayment(cancellation, handlers) {
    return this.transaction({
      type: 'cancellation',
      operation: String(cancellation.operation ?? 200),
      cancellation_nsu: String(cancellation.nsu),
      transaction_date: String(cancellation.date),
      ...amountMembers(cancellation),
    }, handlers);
  }

  async reprint(reprint, handlers) {
    return this.transaction({ type: 'reprint', operation: String(reprint?.operation ?? 112) }, handlers);
  }

  // Ends the running payment, cancellation or reprint as soon as the service allows; false when
  // none runs. The operation's promise then resolves with the status "canceled".
  abort() {
    return this.current instanceof Dialogue ? this.current.abort() : false;
  }

  transaction(members, handlers) {
    return this.exclusive(async (sessionUuid) => {
      const dialogue = new Dialogue({
        handlers,
        sessionUuid,
        send: (message) => this.socket.send(message),
        dropConnection: () => this.socket.drop(),
        startTimeoutMs: this.options.startTimeoutMs,
        silenceMs: this.options.silenceMs,
      });
      this.current = dialogue;
      if (!this.socket.send({ route: '/transaction', session_uuid: sessionUuid, ...members })) {
        dialogue.fail(clientError('NOT_CONNECTED'));
      }
      try {
        const result = await dialogue.promise;
        // After a refusal the service may send a second result for the same transaction; it
        // must not be read as the next operation's.
        if (result.status !== 'approved') await delay(this.options.settleMs);
        return result;
      } finally {
        if (this.current === dialogue) this.current = null;
      }
    });
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
