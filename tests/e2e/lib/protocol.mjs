// The client protocol as the tests speak it: session tokens signed with Node's own crypto (so the
// service's verification is checked independently of its code), a service laid out with the
// SiTef simulator as its library, and request/reply helpers.
import { createHmac } from 'node:crypto';
import fs from 'node:fs/promises';
import path from 'node:path';
import { makeBaseDir, freePort, removeBaseDir } from './baseDir.mjs';
import { generateCertificates } from './certificates.mjs';
import { buildDir } from './paths.mjs';
import { startService } from './service.mjs';
import { connectClient } from './wsClient.mjs';

export const simulatorLibrary = path.join(buildDir, 'bin', 'dll', 'CliSiTef32I.dll');
export const tokenBinary = path.join(buildDir, 'bin', 'kelvora-token');

// The service's built-in token secret, used while its configuration file sets no jwt_secret.
export const DEFAULT_SECRET = 'C7Wvvi7x4WTLZzwBQnB5thxer4DRFORi';

const HASHES = { HS256: 'sha256', HS384: 'sha384', HS512: 'sha512' };

export function base64url(data) {
  return Buffer.from(data).toString('base64url');
}

// A compact JWS over the given header and claims (objects, or texts used as they are), signed
// with HMAC for header.alg; an alg Node cannot serve leaves the signature segment empty.
export function signToken(claims, { secret = DEFAULT_SECRET, alg = 'HS256', header } = {}) {
  const head = header ?? { alg, typ: 'JWT' };
  const segment = (value) => base64url(typeof value === 'string' ? value : JSON.stringify(value));
  const signingInput = `${segment(head)}.${segment(claims)}`;
  const hash = HASHES[typeof head === 'object' ? head.alg : alg];
  const signature = hash ? createHmac(hash, secret).update(signingInput).digest('base64url') : '';
  return `${signingInput}.${signature}`;
}

// The key v2 of Kelvora-Signature is signed with when no [sales_api] signing_secret is set: the raw
// HMAC-SHA-256 of a fixed label under jwt_secret.
export function reportKey(secret = DEFAULT_SECRET) {
  return createHmac('sha256', secret).update('kelvora sales-api report signature v2').digest();
}

// Checks a sales-API report as the stub API recorded it, the way a sales system should: the
// Kelvora-Signature's v1 (HMAC-SHA-256 over "<t>.<raw body>" with the installation's secret, unless
// v1 is false: then it must be absent) and v2 (over "<t>.<event id>.<request path>.<raw body>" with
// signingSecret, or the key derived from secret), its time near now, and an event id present.
// Returns { time, eventId }; throws with the reason otherwise.
export function assertSignedReport(request, {
  secret = DEFAULT_SECRET, signingSecret, v1 = true, now = Date.now(),
} = {}) {
  const header = request.headers['kelvora-signature'] ?? '';
  const match = /^t=(\d+)(?:,v1=([0-9a-f]{64}))?,v2=([0-9a-f]{64})$/.exec(header);
  if (!match || Boolean(match[2]) !== v1) throw new Error(`no well-formed Kelvora-Signature: ${JSON.stringify(header)}`);
  const eventId = request.headers['kelvora-event-id'];
  if (!/^[0-9a-f-]{36}$/.test(eventId ?? '')) throw new Error(`no Kelvora-Event-Id: ${eventId}`);
  const [, time, mac1, mac2] = match;
  if (v1 && createHmac('sha256', secret).update(`${time}.`).update(request.rawBody).digest('hex') !== mac1) {
    throw new Error(`Kelvora-Signature's v1 does not match the body: ${header}`);
  }
  const expected = createHmac('sha256', signingSecret ?? reportKey(secret))
    .update(`${time}.${eventId}.${request.path}.`).update(request.rawBody).digest('hex');
  if (expected !== mac2) throw new Error(`Kelvora-Signature's v2 does not match: ${header}`);
  if (Math.abs(now / 1000 - Number(time)) > 300) throw new Error(`Kelvora-Signature's time is off: ${time}`);
  return { time: Number(time), eventId };
}

// The claims a sales system puts in a session token, all as strings; overrides replace members
// (undefined removes one).
export function sessionClaims(overrides = {}) {
  const claims = {
    secctional_code: '12',
    ip_address: '127.0.0.1',
    store_code: '00000001',
    additional_parameters: '[ParmsClient=1];',
    operator: 'CAIXA01',
    sale_id: '4821',
    company_id: '7',
    callback_url: 'http://127.0.0.1:9/',
  };
  for (const [name, value] of Object.entries(overrides)) {
    if (value === undefined) delete claims[name]; else claims[name] = value;
  }
  return claims;
}

// The configuration file the harness gives a service: ini as the test wrote it, with a
// [security] jwt_secret added unless ini names one itself. A service without one runs under the
// built-in key and holds every sales-API report, so the harness's services have a key configured;
// it is the built-in key's text, so that tokens signed as ever (signToken's default) still open
// sessions. A test of the built-in key itself names an empty one ("[security]\njwt_secret=\n").
export function harnessIni(ini = '') {
  if (/^[ \t]*jwt_secret[ \t]*=/im.test(ini)) return ini;
  return `${ini}${ini === '' || ini.endsWith('\n') ? '' : '\n'}[security]\njwt_secret=${DEFAULT_SECRET}\n`;
}

// A running service in a fresh base directory: certificates, the configuration file (harnessIni of
// the ini text), and unless simulator is false the simulator in <base>/dll with its control file
// (simulatorIni text). stop() ends it and removes the directory; allowContractViolations is for a
// test that drives the library outside its contract on purpose (see ServiceProcess.stop);
// service holds further options of startService (another binary, its environment).
export async function startProtocolService({
  ini, simulator = true, simulatorIni, allowContractViolations = false, service: serviceOptions = {},
} = {}) {
  const baseDir = await makeBaseDir('kelvora-protocol-');
  try {
    await generateCertificates(baseDir);
    await fs.writeFile(path.join(baseDir, 'SvcKelvoraSiTef.ini'), harnessIni(ini));
    if (simulator) {
      await fs.mkdir(path.join(baseDir, 'dll'));
      await fs.copyFile(simulatorLibrary, path.join(baseDir, 'dll', 'CliSiTef32I.dll'));
      if (simulatorIni !== undefined) await writeSimulatorControl(baseDir, simulatorIni);
    }
    const port = await freePort();
    const service = await startService({ baseDir, port, allowContractViolations, ...serviceOptions });
    return {
      baseDir,
      port,
      service,
      connect: () => connectClient(port),
      async stop() {
        try {
          await service.stop();
        } finally {
          await removeBaseDir(baseDir);
        }
      },
    };
  } catch (error) {
    await removeBaseDir(baseDir);
    throw error;
  }
}

// The simulator's control file beside its library; read afresh at each of its calls.
export function writeSimulatorControl(baseDir, text) {
  return fs.writeFile(path.join(baseDir, 'dll', 'CliSiTefSim.ini'), text);
}

// Sends one request (an object is written as JSON, a string as it is) and returns the raw text of
// the next message. With raw the request is not held to the protocol reference: for requests
// that break it on purpose.
export async function exchangeText(client, request, timeoutMs = 5000, { raw = false } = {}) {
  const text = typeof request === 'string' ? request : JSON.stringify(request);
  await (raw ? client.sendRaw(text) : client.send(text));
  return client.next(timeoutMs);
}

// The same, with the reply parsed.
export async function exchange(client, request, timeoutMs = 5000, options = {}) {
  return JSON.parse(await exchangeText(client, request, timeoutMs, options));
}

// exchange for a request that breaks the protocol reference on purpose.
export function exchangeRaw(client, request, timeoutMs = 5000) {
  return exchange(client, request, timeoutMs, { raw: true });
}

// Starts a session with a token signed over claims and returns the reply (session_uuid et al.).
export async function openSession(client, claims = sessionClaims(), options = {}) {
  const reply = await exchange(client, {
    route: '/session/start', type: 'session', token: signToken(claims, options),
  });
  if (reply.type !== 'session') throw new Error(`session refused: ${JSON.stringify(reply)}`);
  return reply;
}

// The error reply the service sends for message.
export function errorReply(message) {
  return { type: 'error', message };
}

// A request answered from memory alone, so that no file the service reads can change the answer:
// the tests send it to see whether a connection is still served. Its category is unknown on
// purpose, so it goes out through exchangeRaw.
export const PROBE = { route: '/version', type: 'version', category: 'x' };
export const PROBE_REPLY = errorReply('Categoria inválida. Valores permitidos [service_exe, clisitef_dll]');
