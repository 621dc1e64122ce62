// One WebSocket to the service that comes back after a loss, with a growing pause between tries,
// and that delivers each JSON object the service sends.

export const DEFAULT_BACKOFF_MS = [500, 1000, 2000, 4000, 8000, 15000];
const OPEN = 1;

// The browser's WebSocket unless the page (or Node, with npm "ws") gives its own.
function defaultFactory(WebSocketClass) {
  const Socket = WebSocketClass ?? globalThis.WebSocket;
  if (typeof Socket !== 'function') {
    throw new TypeError('No WebSocket available: pass the WebSocket option (npm "ws" in Node).');
  }
  return (url) => new Socket(url);
}

export class ReconnectingSocket {
  // listeners: onOpen(), onMessage(object), onClose(), onWaiting(retryInMs).
  constructor(url, { WebSocket, createWebSocket, backoffMs = DEFAULT_BACKOFF_MS }, listeners) {
    this.url = url;
    this.create = createWebSocket ?? defaultFactory(WebSocket);
    this.backoffMs = backoffMs;
    this.listeners = listeners;
    this.socket = null;
    this.failures = 0;
    this.retryTimer = null;
    this.stopped = false;
  }

  get isOpen() {
    return this.socket !== null && this.socket.readyState === OPEN;
  }

  // Opens a connection now; after a loss another one follows by itself until stop().
  open() {
    clearTimeout(this.retryTimer);
    this.retryTimer = null;
    if (this.stopped) return;
    let socket;
    try {
      socket = this.create(this.url);
    } catch {
      this.scheduleRetry();
      return;
    }
    this.socket = socket;
    socket.addEventListener('open', () => {
      if (socket === this.socket) this.listeners.onOpen();
    });
    socket.addEventListener('message', (event) => {
      if (socket === this.socket) this.receive(event.data);
    });
    socket.addEventListener('close', () => this.lost(socket));
    // An error is always followed by a close, which does the work.
    socket.addEventListener('error', () => {});
  }

  // The connection proved usable (its session started): the next loss starts again from the
  // shortest pause.
  markHealthy() {
    this.failures = 0;
  }

  // Sends one message as JSON text; false when no connection is open.
  send(message) {
    if (!this.isOpen) return false;
    this.socket.send(JSON.stringify(message));
    return true;
  }

  // Gives up the current connection (its replies can no longer be trusted) and opens another.
  drop() {
    const socket = this.socket;
    if (socket === null) return;
    this.lost(socket);
    socket.close();
  }

  // Closes for good: no more tries.
  stop() {
    this.stopped = true;
    clearTimeout(this.retryTimer);
    this.retryTimer = null;
    const socket = this.socket;
    this.socket = null;
    socket?.close(1000);
  }

  receive(data) {
    let message;
    try {
      message = JSON.parse(typeof data === 'string' ? data : String(data));
    } catch {
      return;
    }
    if (message !== null && typeof message === 'object' && !Array.isArray(message)) {
      this.listeners.onMessage(message);
    }
  }

  lost(socket) {
    if (socket !== this.socket) return;
    this.socket = null;
    this.listeners.onClose();
    this.scheduleRetry();
  }

  scheduleRetry() {
    if (this.stopped) return;
    const delay = this.backoffMs[Math.min(this.failures, this.backoffMs.length - 1)];
    this.failures += 1;
    this.retryTimer = setTimeout(() => this.open(), delay);
    this.listeners.onWaiting(delay);
  }
}
