// Idempotency keys: one per payment or cancellation attempt. The service remembers each key with
// the operation's outcome, so a request sent again with the same key (after a lost connection or
// a reloaded page) gets that outcome back instead of charging twice.

const KEY_PATTERN = /^[A-Za-z0-9_-]{1,64}$/;

export function isIdempotencyKey(value) {
  return typeof value === 'string' && KEY_PATTERN.test(value);
}

// A new random key of letters, digits and "-" (a UUID where the platform makes them).
export function newIdempotencyKey() {
  const crypto = globalThis.crypto;
  if (typeof crypto?.randomUUID === 'function') return crypto.randomUUID();
  if (typeof crypto?.getRandomValues === 'function') {
    return Array.from(crypto.getRandomValues(new Uint8Array(16)), (byte) => byte.toString(16).padStart(2, '0')).join('');
  }
  // No cryptographic source (an old browser on plain http): unique enough for one till's attempts.
  return `${Date.now().toString(36)}-${Math.random().toString(36).slice(2)}-${Math.random().toString(36).slice(2)}`;
}
