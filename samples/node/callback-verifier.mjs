// Checks a report of an approved payment from the Kelvora TEF Server before the sales system
// trusts it: the v2 of the Kelvora-Signature header ("t=<unix seconds>,v1=<hex>,v2=<hex>") must be
// the HMAC-SHA-256 of "<t>.<event id>.<request path>.<exact bytes received>" under the report key,
// and t at most five minutes away from now; Kelvora-Event-Id names the report, the same on every
// retry of it, and the payment is known again by its "nsu_code". Node's standard library only.
import { createHmac, timingSafeEqual } from 'node:crypto';
import { checkSecret } from './session-token.mjs';

// How far the signing time may be from the receiver's clock, either way.
export const TOLERANCE_SECONDS = 5 * 60;

// The text whose HMAC under jwt_secret is the report key of a service without a signing_secret.
export const REPORT_KEY_LABEL = 'kelvora sales-api report signature v2';

// The reasons for a refusal, as the receiver answers them (the service logs them).
export const REASONS = {
  noSignature: 'Cabeçalho Kelvora-Signature ausente.',
  badSignatureHeader: 'Cabeçalho Kelvora-Signature malformado.',
  badEventId: 'Cabeçalho Kelvora-Event-Id ausente ou inválido.',
  mismatch: 'Assinatura não confere.',
  outsideTolerance: 'Assinatura fora da tolerância de 5 minutos.',
};

// The key v2 is checked with: the bytes of the service's [sales_api] signing_secret when it has
// one (32 to 128 visible ASCII characters), else the 32 raw bytes of HMAC-SHA-256 of
// REPORT_KEY_LABEL under its [security] jwt_secret. Throws with the reason for a key the service
// could not have. The report key verifies reports but mints no session token.
export function reportKey({ signingSecret, jwtSecret }) {
  if (signingSecret) {
    if (!/^[\x21-\x7e]{32,128}$/.test(signingSecret)) {
      throw new Error('the signing secret must be 32 to 128 visible ASCII characters');
    }
    return Buffer.from(signingSecret, 'ascii');
  }
  checkSecret(jwtSecret);
  return createHmac('sha256', Buffer.from(jwtSecret, 'ascii')).update(REPORT_KEY_LABEL).digest();
}

// The time (as signed) and the v2 signatures of a Kelvora-Signature header, or null when it is not
// one: exactly one "t" of decimal digits, one or more "v2" of 64 hex digits, any "v1" of 64 hex
// digits (v1 covers neither the event id nor the address, so it is not checked here); other
// schemes are left for later versions to use.
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
    } else if (key === 'v1' || key === 'v2') {
      if (!/^[0-9a-fA-F]{64}$/.test(value)) return null;
      if (key === 'v2') signatures.push(Buffer.from(value, 'hex'));
    }
  }
  return time !== null && signatures.length > 0 ? { time, signatures } : null;
}

// An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and ".".
export function isValidEventId(eventId) {
  return typeof eventId === 'string' && /^[A-Za-z0-9._-]{1,64}$/.test(eventId);
}

// The refusal reason for a report, or null when its signature is good. rawBody is a Buffer of the
// bytes received, before any parsing: a receiver that parsed and wrote them again would sign other
// bytes than the service did. requestPath is the path of the request line as received (no query),
// token segment included: a report posted to another address does not match.
export function checkCallback({
  key, rawBody, signatureHeader, eventId, requestPath, nowSeconds = Math.floor(Date.now() / 1000),
}) {
  if (!signatureHeader) return REASONS.noSignature;
  const parsed = parseSignatureHeader(signatureHeader);
  if (!parsed) return REASONS.badSignatureHeader;
  if (!isValidEventId(eventId)) return REASONS.badEventId;
  const expected = createHmac('sha256', key)
    .update(`${parsed.time}.${eventId}.${requestPath}.`).update(rawBody).digest();
  // timingSafeEqual takes as long wherever the bytes differ, so a forger learns nothing from timing.
  if (!parsed.signatures.some((signature) => timingSafeEqual(signature, expected))) return REASONS.mismatch;
  if (Math.abs(nowSeconds - Number(parsed.time)) > TOLERANCE_SECONDS) return REASONS.outsideTolerance;
  return null;
}

// The "nsu_code" of each payment in a report whose signature has passed (none when the body is not
// a report).
export function nsuCodes(rawBody) {
  let report;
  try {
    report = JSON.parse(rawBody.toString('utf8'));
  } catch {
    return [];
  }
  const elements = Array.isArray(report?.transaction_data) ? report.transaction_data : [];
  return elements.map((element) => element?.nsu_code).filter((code) => typeof code === 'string');
}

// The reports taken so far, with the payment id each one was given, by event id and by the NSU of
// each payment in it. In memory for the sample: a real sales system keeps both in its database,
// unique keys on the payment it records in the same transaction, so that a retry after a restart
// is still known (and, taking payments of several acquirers, the NSU with the acquirer's code).
export class TakenReports {
  #byEvent = new Map();
  #byNsu = new Map();
  #count = 0;

  // The payment id of the report with this event id and these NSUs (a new one the first time), and
  // whether it was taken before: under this event id (a retry), or under another with one of its
  // NSUs (the same payment reported again). Take only reports whose signature was good, or a
  // forger could block a real report by sending its id or NSU first.
  take(eventId, nsus) {
    const earlier = this.#byEvent.get(eventId)
      ?? nsus.map((nsu) => this.#byNsu.get(nsu)).find((id) => id !== undefined);
    if (earlier !== undefined) return { paymentId: earlier, repeated: true };
    const paymentId = 1000 + this.#count++;
    this.#byEvent.set(eventId, paymentId);
    for (const nsu of nsus) this.#byNsu.set(nsu, paymentId);
    return { paymentId, repeated: false };
  }
}
