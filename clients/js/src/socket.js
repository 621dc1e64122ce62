// One WebSocket to the service that comes back after a loss, with a growing pause between tries,
// and that delivers each JSON object the service sends. A handshake the service or the platform
// refused for good (the page's origin, an untrusted certificate) stops the tries.

export const DEFAULT_BACKOFF_MS = [500, 1000, 2000, 4000, 8000, 15000];
const OPEN = 1;
// Closes before the open, in a row and without any detail, after which the page is warned.
const UNOPENED_WARNING_AFTER = 3;

// Node's TLS error codes for a certificate the client does not trust.
const UNTRUSTED_CERTIFICATE = new Set([
  'SELF_SIGNED_CERT_IN_CHAIN', 'DEPTH_ZERO_SELF_SIGNED_CERT', 'UNABLE_TO_VERIFY_LEAF_SIGNATURE',
  'UNABLE_TO_GET_ISSUER_CERT', 'UNABLE_TO_GET_ISSUER_CERT_LOCALLY', 'CERT_HAS_EXPIRED', 'CERT_NOT_YET_VALID',
  'CERT_UNTRUSTED', 'CERT_REJECTED', 'CERT_SIGNATURE_FAILURE', 'ERR_TLS_CERT_ALTNAME_INVALID',
]);

// The code of a handshake failure another try cannot mend, from the error a socket reported
// before it opened; null for a transient one or one without details. npm "ws" reports the
// service's HTTP 403 (origin not allowed) as "Unexpected server response: 403" and passes Node's
// TLS errors on; a browser's WebSocket tells neither, it only closes (code 1006).
export function handshakeRefusal(error) {
  if (!error) return null;
  if (UNTRUSTED_CERTIFICATE.has(error.code)) return 'CERTIFICATE_UNTRUSTED';
  if (/Unexpected server response: 403\b/.test(String(error.message ?? ''))) return 'ORIGIN_REFUSED';
  return null;
}

// The details an 'error' event carries: npm "ws" gives an ErrorEvent with `error`; a browser's
// Event has none.
function errorDetails(event) {
  if (event?.error instanceof Error) return event.error;
  if (event instanceof Error) return event;
  return typeof event?.message === 'string' && event.message !== '' ? { message: event.message } : null;
}

// The browser's WebSocket unless the page (or Node, with npm "ws") gives its own.
function defaultFactory(WebSocketClass) {
  const Socket = WebSocketClass ?? globalThis.WebSocket;
  if (typeof Socket !== 'function') {
    throw new TypeError('No WebSocket available: pass the WebSocket option (npm "ws" in Node).');
  }
  return (url) => new Socket(url);
}

export class ReconnectingSocket {
  // listeners: onOpen(), onMessage(object), onClose(), onWaiting(retryInMs),
  // onRefused(code, cause) (the tries stopped), onUnopened(count) (closes without details).
  constructor(url, { WebSocket, createWebSocket, backoffMs = DEFAULT_BACKOFF_MS }, listeners) {
    this.url = url;
    this.create = createWebSocket ?? defaultFactory(WebSocket);
    this.backoffMs = backoffMs;
    this.listeners = listeners;
    this.socket = null;
    this.failures = 0;
    this.unopened = 0;
    this.retryTimer = null;
    this.stopped = false;
    this.halted = false;
  }

  get isOpen() {
    return this.socket !== null && this.socket.readyState === OPEN;
  }

  // Opens a connection now; after a loss another one follows by itself until stop() or halt().
  open() {
    clearTimeout(this.retryTimer);
    this.retryTimer = null;
    if (this.stopped) return;
    this.halted = false;
    let socket;
    try {
      socket = this.create(this.url);
    } catch {
      this.scheduleRetry();
      return;
    }
    this.socket = socket;
    let opened = false;
    let failure = null;
    socket.addEventListener('open', () => {
      opened = true;
      this.unopened = 0;
      if (socket === this.socket) this.listeners.onOpen();
    });
    socket.addEventListener('message', (event) => {
      if (socket === this.socket) this.receive(event.data);
    });
    socket.addEventListener('close', () => this.lost(socket, opened ? null : failure, opened));
    // An error is always followed by a close, which does the work with the details kept here.
    socket.addEventListener('error', (event) => { failure ??= errorDetails(event); });
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
    this.lost(socket, null, true);
    socket.close();
  }

  // Closes the connection and makes no more tries until open() is called again.
  halt() {
    this.halted = true;
    this.closeCurrent();
  }

  // Closes for good: no more tries.
  stop() {
    this.stopped = true;
    this.closeCurrent();
  }

  closeCurrent() {
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

  lost(socket, failure, opened) {
    if (socket !== this.socket) return;
    this.socket = null;
    this.listeners.onClose();
    const refusal = handshakeRefusal(failure);
    if (refusal) {
      this.halted = true;
      this.listeners.onRefused(refusal, failure);
      return;
    }
    // A browser cannot say why a handshake failed: a service that is down, a page origin it
    // refuses and an untrusted certificate all look the same, so the tries go on and the page
    // is only warned.
    if (!opened && failure === null && ++this.unopened === UNOPENED_WARNING_AFTER) {
      this.listeners.onUnopened(this.unopened);
    }
    this.scheduleRetry();
  }

  scheduleRetry() {
    if (this.stopped || this.halted) return;
    const delay = this.backoffMs[Math.min(this.failures, this.backoffMs.length - 1)];
    this.failures += 1;
    this.retryTimer = setTimeout(() => this.open(), delay);
    this.listeners.onWaiting(delay);
  }
}
