// The page's link to the service: one WebSocket that comes back after a lost connection (with a
// growing pause between tries), and one query at a time matched to its reply.

const BACKOFF_MS = [1000, 2000, 4000, 8000, 15000];

// A failure the service reported with an error reply; `message` is the service's own text.
export class ServiceError extends Error {
  constructor(message) {
    super(message);
    this.name = 'ServiceError';
  }
}

// The query never got its reply: the connection dropped or the service stayed silent.
export class NoReplyError extends Error {
  constructor(message) {
    super(message);
    this.name = 'NoReplyError';
  }
}

// Events: "state" ({ state: "connecting" | "connected" | "waiting" | "invalid", retryInMs }),
// "open", "close" and "message" (every JSON object that is not the reply of a query).
export class ServiceConnection extends EventTarget {
  constructor(url, { backoffMs = BACKOFF_MS } = {}) {
    super();
    this.url = url;
    this.backoffMs = backoffMs;
    this.socket = null;
    this.failures = 0;
    this.retryTimer = null;
    this.pending = null;
    this.queue = Promise.resolve();
  }

  // Opens the connection now; after a loss it reopens by itself.
  start() {
    clearTimeout(this.retryTimer);
    this.retryTimer = null;
    let socket;
    try {
      socket = new WebSocket(this.url);
    } catch {
      this.emit('state', { state: 'invalid' });
      return;
    }
    this.socket = socket;
    this.emit('state', { state: 'connecting' });
    socket.addEventListener('open', () => {
      this.failures = 0;
      this.emit('state', { state: 'connected' });
      this.emit('open');
    });
    socket.addEventListener('message', (event) => this.receive(event.data));
    socket.addEventListener('close', () => this.lost(socket));
  }

  // Tries again at once when the machine's network comes back, instead of waiting out the pause.
  retryNow() {
    if (this.retryTimer !== null) this.start();
  }

  get isOpen() {
    return this.socket?.readyState === WebSocket.OPEN;
  }

  // Sends one message as JSON text; false when the connection is not open.
  send(message) {
    if (!this.isOpen) return false;
    this.socket.send(JSON.stringify(message));
    return true;
  }

  // Sends a query and resolves with the first message whose "type" is one of replyTypes (and that
  // `accept` takes), or rejects with ServiceError on an error reply. Queries run one after the
  // other: the service answers in order, and an error reply names no query, so only one may be
  // outstanding for the reply to be attributed correctly.
  request(message, replyTypes, { timeoutMs = 20000, accept = () => true } = {}) {
    const run = () => new Promise((resolve, reject) => {
      if (!this.send(message)) {
        reject(new NoReplyError('Sem conexão com o serviço de pagamento.'));
        return;
      }
      const timer = setTimeout(() => {
        this.pending = null;
        reject(new NoReplyError('O serviço de pagamento não respondeu a tempo.'));
      }, timeoutMs);
      this.pending = {
        matches: (reply) => reply.type === 'error' || (replyTypes.includes(reply.type) && accept(reply)),
        settle: (reply, error) => {
          clearTimeout(timer);
          this.pending = null;
          if (error) reject(error);
          else if (reply.type === 'error') reject(new ServiceError(String(reply.message ?? '')));
          else resolve(reply);
        },
      };
    });
    const result = this.queue.then(run, run);
    this.queue = result.catch(() => {});
    return result;
  }

  // Resolves once every query sent so far has been answered or given up.
  whenIdle() {
    return this.queue;
  }

  receive(data) {
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    if (message === null || typeof message !== 'object' || Array.isArray(message)) return;
    if (this.pending?.matches(message)) this.pending.settle(message);
    else this.emit('message', message);
  }

  // A closed socket fails the query in flight and schedules the next try.
  lost(socket) {
    if (socket !== this.socket) return;
    this.socket = null;
    this.pending?.settle(null, new NoReplyError('A conexão com o serviço de pagamento caiu.'));
    const delay = this.backoffMs[Math.min(this.failures, this.backoffMs.length - 1)];
    this.failures += 1;
    this.retryTimer = setTimeout(() => this.start(), delay);
    this.emit('state', { state: 'waiting', retryInMs: delay });
    this.emit('close');
  }

  emit(type, detail = null) {
    this.dispatchEvent(new CustomEvent(type, { detail }));
  }
}
