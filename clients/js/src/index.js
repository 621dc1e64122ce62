// @kelvora/tef-client: the point-of-sale page's client of the Kelvora TEF service.
export { TefClient } from './client.js';
export { TefError } from './errors.js';
export { ERROR_CATALOGUE, RESULT_CODES, CLIENT_ERRORS, catalogueEntry } from './catalogue.js';
export { CANCEL_QUESTION, menuOption } from './dialogue.js';
export { newIdempotencyKey } from './keys.js';
export { DEFAULT_BACKOFF_MS } from './socket.js';
