// Mints the session token a sales system's back end hands to its point-of-sale page: a compact JWS
// (HS256) signed with the installation's [security] jwt_secret, which the Kelvora TEF Server checks
// at "/session/start". Node's standard library only.
//
//   KELVORA_JWT_SECRET=... node session-token.mjs [--ttl SECONDS] name=value...
//
// prints a token for the given claims; without --ttl it expires ten minutes after it is made.
import { createHmac } from 'node:crypto';
import { pathToFileURL } from 'node:url';

// The claims the service requires; it reads each one as text.
export const REQUIRED_CLAIMS = [
  'secctional_code', 'ip_address', 'store_code', 'additional_parameters',
  'operator', 'sale_id', 'company_id', 'callback_url',
];
// The page presents its token right after it loads; a short life leaves little use to a copy.
export const DEFAULT_TTL_SECONDS = 600;
export const MAX_TTL_SECONDS = 12 * 60 * 60;
// The service refuses a claim longer than 2 KiB and a token longer than 16 KiB.
const MAX_CLAIM_BYTES = 2048;
const MAX_TOKEN_LENGTH = 16 * 1024;
const INT32_MAX = 2147483647;

// Throws with the reason when the key cannot be the service's: every key is 32 ASCII letters and
// digits, used as the HMAC key as they are.
export function checkSecret(secret) {
  if (typeof secret !== 'string' || !/^[A-Za-z0-9]{32}$/.test(secret)) {
    throw new Error('the key must be 32 ASCII letters and digits');
  }
}

// An integer claim as the service reads it, checked before the page finds out it is wrong.
function checkInteger(claims, name, min) {
  if (!/^[0-9]{1,10}$/.test(claims[name]) || Number(claims[name]) < min || Number(claims[name]) > INT32_MAX) {
    throw new Error(`claim "${name}" must be an integer from ${min} to ${INT32_MAX}`);
  }
}

// Throws with the reason for a claim set the service would refuse: a required claim missing, any
// claim not text or over 2 KiB, a sale or company id that is not a decimal integer (the sale's
// above 0), a callback address that is not http or https with a host and nothing after a "?",
// "#" or "@".
export function checkClaims(claims) {
  for (const name of REQUIRED_CLAIMS) {
    if (!Object.hasOwn(claims, name)) throw new Error(`missing claim "${name}"`);
  }
  for (const [name, value] of Object.entries(claims)) {
    if (typeof value !== 'string') throw new Error(`claim "${name}" must be text`);
    if (Buffer.byteLength(value, 'utf8') > MAX_CLAIM_BYTES) throw new Error(`claim "${name}" is over 2 KiB`);
  }
  checkInteger(claims, 'sale_id', 1);
  checkInteger(claims, 'company_id', 0);
  if (!/^https?:\/\/[^\s/?#@]+(\/[^\s?#]*)?$/.test(claims.callback_url)) {
    throw new Error('claim "callback_url" must be an http or https address');
  }
}

// The token for `claims` (texts), expiring ttlSeconds after nowSeconds. No "nbf": a till whose
// clock lags the back end's would refuse a token that is not valid yet.
export function mintSessionToken(claims, secret, { ttlSeconds = DEFAULT_TTL_SECONDS, nowSeconds } = {}) {
  checkSecret(secret);
  checkClaims(claims);
  if (!Number.isInteger(ttlSeconds) || ttlSeconds < 1 || ttlSeconds > MAX_TTL_SECONDS) {
    throw new Error(`the lifetime must be 1 to ${MAX_TTL_SECONDS} seconds`);
  }
  const now = nowSeconds ?? Math.floor(Date.now() / 1000);
  const segment = (value) => Buffer.from(JSON.stringify(value), 'utf8').toString('base64url');
  const signingInput = `${segment({ alg: 'HS256', typ: 'JWT' })}.${segment({ ...claims, exp: now + ttlSeconds })}`;
  const signature = createHmac('sha256', Buffer.from(secret, 'ascii')).update(signingInput).digest('base64url');
  const token = `${signingInput}.${signature}`;
  if (token.length > MAX_TOKEN_LENGTH) throw new Error('the token is over 16 KiB');
  return token;
}

// The command line: --ttl SECONDS and name=value claims; the key from KELVORA_JWT_SECRET, so that
// it never shows in the process list.
function main(args) {
  const claims = {};
  let ttlSeconds = DEFAULT_TTL_SECONDS;
  for (let i = 0; i < args.length; i++) {
    if (args[i] === '--ttl') {
      const value = args[++i] ?? '';
      ttlSeconds = /^[0-9]{1,6}$/.test(value) ? Number(value) : NaN;
    } else if (args[i].includes('=')) {
      const at = args[i].indexOf('=');
      claims[args[i].slice(0, at)] = args[i].slice(at + 1);
    } else {
      throw new Error(`unknown argument: ${args[i]}`);
    }
  }
  process.stdout.write(`${mintSessionToken(claims, process.env.KELVORA_JWT_SECRET, { ttlSeconds })}\n`);
}

if (process.argv[1] && import.meta.url === pathToFileURL(process.argv[1]).href) {
  try {
    main(process.argv.slice(2));
  } catch (error) {
    process.stderr.write(`session-token: ${error.message}\n`);
    process.exitCode = 2;
  }
}
