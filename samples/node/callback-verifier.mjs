// Checks a report of an approved payment from the Kelvora TEF Server before the sales system
// trusts it: the Kelvora-Signature header ("t=<unix seconds>,v1=<hex HMAC-SHA-256>") must match the
// exact bytes received, keyed with the installation's jwt_secret, and be at most five minutes away
// from now; Kelvora-Event-Id names the report, the same on every retry of it. Node's standard
// library only.
import { createHmac, timingSafeEqual } from 'node:crypto';

// How far the signing time may be from the receiver's clock, either way.
export const TOLERANCE_SECONDS = 5 * 60;

// The reasons for a refusal, as the receiver answers them (the service logs them).
export const REASONS = {
  noSignature: 'Cabeçalho Kelvora-Signature ausente.',
  badSignatureHeader: 'Cabeçalho Kelvora-Signature malformado.',
  badEventId: 'Cabeçalho Kelvora-Event-Id ausente ou inválido.',
  mismatch: 'Assinatura não confere.',
  outsideTolerance: 'Assinatura fora da tolerância de 5 minutos.',
};

// The time (as signed) and the v1 signatures of a Kelvora-Signature header, or null when it is not
// one: exactly one "t" of decimal digits, one or more "v1" of 64 hex digits; other schemes are left
// for later versions to use.
export function parseSignatureHeader(header) {
  let time = null;
  const signatures = [];
  for (const item of header.split(',')) {
    const at = item.indexOf('=');
    if (at < 0) return null;
    const [key, value] = [item.slice(0, at), item.slice(at + 1)];
    if (key === 't') {
      if (time !== null || !/^[0-9]{1,15}$/.test(value)) return null;
      time = value;
    } else if (key === 'v1') {
      if (!/^[0-9a-fA-F]{64}$/.test(value)) return null;
      signatures.push(Buffer.from(value, 'hex'));
    }
  }
  return time !== null && signatures.length > 0 ? { time, signatures } : null;
}

// An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and ".".
export function isValidEventId(eventId) {
  return typeof eventId === 'string' && /^[A-Za-z0-9._-]{1,64}$/.test(eventId);
}

// The refusal reason for a report (rawBody: a Buffer of the bytes received, before any parsing),
// or null when its signature is good. The body is never decoded here: a receiver that parsed and
// wrote it again would sign other bytes than the service did.
export function checkCallback({ secret, rawBody, signatureHeader, eventId, nowSeconds = Math.floor(Date.now() / 1000) }) {
  if (!signatureHeader) return REASONS.noSignature;
  const parsed = parseSignatureHeader(signatureHeader);
  if (!parsed) return REASONS.badSignatureHeader;
  if (!isValidEventId(eventId)) return REASONS.badEventId;
  const expected = createHmac('sha256', Buffer.from(secret, 'ascii'))
    .update(`${parsed.time}.`).update(rawBody).digest();
  // timingSafeEqual takes as long wherever the bytes differ, so a forger learns nothing from timing.
  if (!parsed.signatures.some((signature) => timingSafeEqual(signature, expected))) return REASONS.mismatch;
  if (Math.abs(nowSeconds - Number(parsed.time)) > TOLERANCE_SECONDS) return REASONS.outsideTolerance;
  return null;
}

// The reports taken so far, by event id, with the payment id each one was given. In memory for the
// sample: a real sales system keeps the event id in its database, a unique key on the payment it
// records, so that a retry after a restart is still known.
export class TakenReports {
  #paymentIds = new Map();

  // The payment id of the report with this event id (a new one the first time), and whether the
  // report was taken before. Take only reports whose signature was good, or a forger could block
  // a real report by sending its id first.
  take(eventId) {
    const earlier = this.#paymentIds.get(eventId);
    if (earlier !== undefined) return { paymentId: earlier, repeated: true };
    const paymentId = 1000 + this.#paymentIds.size;
    this.#paymentIds.set(eventId, paymentId);
    return { paymentId, repeated: false };
  }
}
