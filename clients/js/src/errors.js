// Errors as values with a stable code: every failure the library reports is a TefError whose
// `code` a page can branch on and whose `message` it can show.
import { CLIENT_ERRORS, catalogueEntry } from './catalogue.js';

export class TefError extends Error {
  // `details` may carry: serviceMessage (the service's own text), field, result, cause,
  // idempotencyKey (the operation's key, to ask its outcome later), runningSaleId (TILL_BUSY).
  constructor(code, message, details = {}) {
    super(message, details.cause === undefined ? undefined : { cause: details.cause });
    this.name = 'TefError';
    this.code = code;
    this.serviceMessage = details.serviceMessage ?? null;
    this.field = details.field ?? null;
    this.result = details.result ?? null;
    this.idempotencyKey = details.idempotencyKey ?? null;
    this.runningSaleId = details.runningSaleId ?? null;
  }

  // True when the failure came from the service's error reply rather than from the library.
  get fromService() {
    return this.serviceMessage !== null;
  }
}

// A library failure by its code, shown with the library's own text.
export function clientError(code, details) {
  return new TefError(code, CLIENT_ERRORS[code], details);
}

// The same error with the operation's key added, for a page that asks its outcome later.
export function withKey(error, idempotencyKey) {
  if (!(error instanceof TefError) || error.idempotencyKey === idempotencyKey) return error;
  return new TefError(error.code, error.message, {
    serviceMessage: error.serviceMessage, field: error.field, result: error.result, cause: error.cause,
    runningSaleId: error.runningSaleId, idempotencyKey,
  });
}

// The service's error reply text as a TefError; a text the catalogue lacks gets SERVICE_ERROR.
export function serviceError(text) {
  const entry = catalogueEntry(text);
  const field = entry?.code === 'FIELD_MISSING' ? text.match(/^Campo (.+) nao encontrado\.$/s)[1] : null;
  return new TefError(entry?.code ?? 'SERVICE_ERROR', text, { serviceMessage: text, field });
}
