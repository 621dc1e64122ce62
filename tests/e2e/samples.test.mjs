// The back-end samples of samples/ in their four languages, each run by its own toolchain: the
// session token each one mints opens a session on the real service, and each one's receiver checks
// a report the service really sent after a real payment, replayed with its body and headers exactly
// as the stub sales API received them, then altered the ways a forger, a copy off the wire or a
// delay would alter it. A missing toolchain fails its language's tests: the test command installs
// all four.
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { createHmac } from 'node:crypto';
import fs from 'node:fs/promises';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { startStubSalesApi } from '../../tools/stub-sales-api.mjs';
import {
  exchange, freePort, sessionClaims, signToken, startProtocolService,
} from './lib/index.mjs';
import { debitAnswers, runToResult } from './transaction-support.mjs';

const SAMPLES = fileURLToPath(new URL('../../samples/', import.meta.url));
// The installation's own key, so that nothing passes by the built-in one.
const SECRET = 'Smp7Kq2Wx9Lr4Tz8Vb1Nc5Hd3Fg6Jy0A';
const OTHER_SECRET = 'Zz9Yy8Xx7Ww6Vv5Uu4Tt3Ss2Rr1Qq0Pp';

// The report key a service with SECRET and no signing_secret signs v2 with, derived here as
// docs/protocol/signature-vectors.md says, independently of the samples and of the service.
const REPORT_KEY = createHmac('sha256', SECRET).update('kelvora sales-api report signature v2').digest();
const SIGNING_SECRET = 'Vendas-Relatorios-2026:chave-propria-do-caixa-7';

// Java reads its command line in the locale's encoding, so the claims' accents need a UTF-8 one.
// KELVORA_SIGNING_SECRET is cleared: a receiver takes it over jwt_secret when it is set.
const SAMPLE_ENV = {
  ...process.env, KELVORA_JWT_SECRET: SECRET, KELVORA_SIGNING_SECRET: '', LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8',
};

// What the tests share: the stub sales API, the service, the report it sent, and a folder for the
// compiled Java classes and the PHP receivers' files.
let api;
let svc;
let report;
let tempDir;
let javaClasses;

const LANGUAGES = [
  {
    name: 'node',
    mint: () => [process.execPath, [path.join(SAMPLES, 'node/session-token.mjs')]],
    receiver: (port) => [process.execPath, [path.join(SAMPLES, 'node/callback-receiver.mjs'), '--port', String(port)]],
  },
  {
    // Debian's Python: the first python3 on the PATH may be another.
    name: 'python',
    mint: () => ['/usr/bin/python3', [path.join(SAMPLES, 'python/session_token.py')]],
    receiver: (port) => ['/usr/bin/python3', [path.join(SAMPLES, 'python/callback_receiver.py'), '--port', String(port)]],
  },
  {
    name: 'php',
    mint: () => ['php', [path.join(SAMPLES, 'php/session_token.php')]],
    receiver: (port) => ['php', ['-S', `127.0.0.1:${port}`, path.join(SAMPLES, 'php/callback_receiver.php')]],
  },
  {
    name: 'java',
    mint: () => ['java', ['-cp', javaClasses, 'SessionToken']],
    receiver: (port) => ['java', ['-cp', javaClasses, 'CallbackReceiver', '--port', String(port)]],
  },
];

// What a missing program looks like, said plainly instead of as a bare ENOENT.
function toolchainError(command, error) {
  if (error.code !== 'ENOENT') return error;
  return new Error(`${command} is not installed: the samples need nodejs, python3, php-cli and ` +
    'default-jdk-headless (scripts/install-deps.sh installs them)');
}

// Runs a program to its end: { code, stdout, stderr }.
function run([command, args], { env = SAMPLE_ENV } = {}) {
  return new Promise((resolve, reject) => {
    execFile(command, args, { env, timeout: 60000 }, (error, stdout, stderr) => {
      if (error && typeof error.code !== 'number') reject(toolchainError(command, error));
      else resolve({ code: error ? error.code : 0, stdout, stderr });
    });
  });
}

// Runs a language's token command with these arguments.
function mint(language, args, options) {
  const [command, base] = language.mint();
  return run([command, [...base, ...args]], options);
}

// The claims a sample is given, as name=value arguments.
function claimArguments(claims) {
  return Object.entries(claims).map(([name, value]) => `${name}=${value}`);
}

// The header and claims of a compact token.
function decodeToken(token) {
  const [header, claims] = token.split('.');
  const json = (segment) => JSON.parse(Buffer.from(segment, 'base64url').toString('utf8'));
  return { header: json(header), claims: json(claims) };
}

// A receiver started on a free port (with these variables added to its environment), resolved once
// it accepts connections.
async function startReceiver(language, extraEnv = {}) {
  const port = await freePort();
  const [command, args] = language.receiver(port);
  // The PHP receiver keeps the ids it took in this file, as it forgets everything between requests.
  const env = {
    ...SAMPLE_ENV, KELVORA_TAKEN_REPORTS_FILE: path.join(tempDir, `${language.name}-${port}-reports`), ...extraEnv,
  };
  const proc = spawn(command, args, { env, stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  proc.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve, reject) => {
    proc.on('error', (error) => reject(toolchainError(command, error)));
    proc.on('exit', (code) => reject(new Error(`${language.name} receiver exited (${code}): ${stderr}`)));
  });
  exited.catch(() => {});
  const stop = () => {
    proc.kill('SIGKILL');
  };
  const deadline = Date.now() + 20000;
  for (;;) {
    const listening = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => { socket.destroy(); resolve(true); });
      socket.on('error', () => resolve(false));
    });
    if (listening) return { port, stop };
    if (Date.now() > deadline) {
      stop();
      throw new Error(`${language.name} receiver did not listen on ${port}: ${stderr}`);
    }
    await Promise.race([exited, new Promise((resolve) => { setTimeout(resolve, 100); })]);
  }
}

// POSTs body (bytes) with exactly these headers; resolves to { status, body (parsed) }.
function post(port, urlPath, headers, body) {
  return new Promise((resolve, reject) => {
    const request = http.request({ host: '127.0.0.1', port, method: 'POST', path: urlPath, headers }, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        try {
          resolve({ status: response.statusCode, body: JSON.parse(text) });
        } catch {
          reject(new Error(`answer ${response.statusCode} is not JSON: ${text}`));
        }
      });
    });
    request.on('error', reject);
    // A receiver that never answers fails its case instead of holding the whole run.
    request.setTimeout(10000, () => request.destroy(new Error(`no answer from 127.0.0.1:${port} within 10 s`)));
    request.end(body);
  });
}

// The v2 of a Kelvora-Signature made here, independently of the samples, for bytes signed at a given
// time under an event id for a request path (the real report's unless told otherwise).
function mac2(body, time, eventId, { key = REPORT_KEY, urlPath = report.path } = {}) {
  return createHmac('sha256', key).update(`${time}.${eventId}.${urlPath}.`).update(body).digest('hex');
}

// A whole Kelvora-Signature header with that v2 (v1 is not what the samples check).
function signature(body, time, eventId, options) {
  return `t=${time},v2=${mac2(body, time, eventId, options)}`;
}

const REASONS = {
  noSignature: 'Cabeçalho Kelvora-Signature ausente.',
  badSignatureHeader: 'Cabeçalho Kelvora-Signature malformado.',
  badEventId: 'Cabeçalho Kelvora-Event-Id ausente ou inválido.',
  mismatch: 'Assinatura não confere.',
  outsideTolerance: 'Assinatura fora da tolerância de 5 minutos.',
};

// Generous limits, so that a hang names the step that hung instead of ending the whole run.
const LIMIT = { timeout: 120000 };

before(async () => {
  tempDir = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-samples-'));
  javaClasses = path.join(tempDir, 'classes');
  const javaSources = (await fs.readdir(path.join(SAMPLES, 'java'))).filter((name) => name.endsWith('.java'))
    .map((name) => path.join(SAMPLES, 'java', name));
  const compiled = await run(['javac', ['-Xlint:all', '-Werror', '-d', javaClasses, ...javaSources]]);
  assert.equal(compiled.code, 0, `javac: ${compiled.stderr}`);

  api = await startStubSalesApi();
  svc = await startProtocolService({ ini: `[security]\njwt_secret=${SECRET}\n` });

  // One real debit, whose report the receivers are then given.
  const client = await svc.connect();
  const { session_uuid: sessionUuid } = await exchange(client, {
    route: '/session/start', type: 'session',
    token: signToken(sessionClaims({ callback_url: api.url }), { secret: SECRET }),
  });
  await client.send(JSON.stringify({
    route: '/transaction', session_uuid: sessionUuid, type: 'transaction', operation: '0',
    payer_name: 'Maria', transaction_value: '10,00',
  }));
  // What runToResult reads and answers the dialogue through.
  const page = {
    next: async (on) => JSON.parse(await on.next(15000)),
    answer: (members, on) => on.send(JSON.stringify({ route: '/transaction', ...members })),
  };
  const seen = await runToResult(page, debitAnswers, client);
  assert.equal(seen.at(-1).status, 'approved', JSON.stringify(seen.at(-1)));
  await client.terminate();
  assert.equal(api.requests.length, 1, 'one report of the payment');
  report = api.requests[0];
  // The stub keeps the body as UTF-8 text: the same bytes only when nothing was replaced.
  assert.equal(Buffer.byteLength(report.rawBody), Number(report.headers['content-length']));
  assert.ok(!report.rawBody.includes('\uFFFD'));
  assert.match(report.headers['kelvora-signature'], /^t=\d+,v1=[0-9a-f]{64},v2=[0-9a-f]{64}$/);
  assert.match(report.rawBody, /"nsu_code":"[^"]+"/, 'the report names its payment\'s NSU');
}, LIMIT);

after(async () => {
  await svc?.stop();
  await api?.close();
  if (tempDir) await fs.rm(tempDir, { recursive: true, force: true });
});

// The report's replay: its headers as received (the stub's host aside), its body, and the changes
// one case makes to them; a header set to undefined is left out.
function replay(changes = {}) {
  const headers = { ...report.headers, ...changes.headers };
  delete headers.host;
  const body = changes.body ?? Buffer.from(report.rawBody, 'utf8');
  headers['content-length'] = String(body.length);
  for (const [name, value] of Object.entries(headers)) if (value === undefined) delete headers[name];
  return { headers, body };
}

// The real report's body for another payment: its NSU replaced.
function bodyWithNsu(nsu) {
  return Buffer.from(report.rawBody.replace(/"nsu_code":"[^"]*"/, `"nsu_code":"${nsu}"`), 'utf8');
}

// The cases every receiver is given, in this order: the first relies on it (a forged report must
// not make the real one look repeated), and so do those that expect a duplicate. A case answered
// 201 registers a payment and gets the next payment id; a duplicate gets the real report's and
// registers nothing, so the next 201 still gets the next id.
function receiverCases() {
  const body = Buffer.from(report.rawBody, 'utf8');
  const eventId = report.headers['kelvora-event-id'];
  const [sentTime] = /^t=(\d+)/.exec(report.headers['kelvora-signature']).slice(1);
  const now = Math.floor(Date.now() / 1000);
  // A report of another payment, signed here with the right key, under an event id of its own.
  const another = (name, nsu, time = now) => {
    const other = bodyWithNsu(nsu);
    return { body: other, headers: { 'kelvora-signature': signature(other, time, name), 'kelvora-event-id': name } };
  };
  const tampered = Buffer.from(report.rawBody.replace('"approved"', '"aproved!"'), 'utf8');
  assert.notDeepEqual(tampered, body, 'the report says "approved"');
  const notUtf8 = Buffer.concat([Buffer.from('{"payer_name":"Jo'), Buffer.from([0xe3]), Buffer.from('o"}')]);
  const goodMac = `v2=${mac2(body, now, 'sem-tempo')}`;
  const v1Only = report.headers['kelvora-signature'].replace(/,v2=.*$/, '');
  const otherPath = report.path.replace(/[^/]+$/, 'eyJhbGciOiJIUzM4NCJ9.e30.outro');
  return [
    { name: 'signed with another key, naming the real report',
      headers: { 'kelvora-signature': signature(body, now, eventId, { key: 'x'.repeat(32) }) },
      status: 401, message: REASONS.mismatch },
    // Replayed within minutes of the payment, so its own time is still inside the window.
    { name: 'the report as the service sent it', status: 201 },
    { name: 'the same report copied under a new event id', headers: { 'kelvora-event-id': 'copia-1' },
      status: 401, message: REASONS.mismatch },
    { name: 'the same report again, as a retry', status: 200, duplicate: true },
    { name: 'the same payment reported under a new event id, signed for it',
      headers: { 'kelvora-signature': signature(body, sentTime, 'reenviado'), 'kelvora-event-id': 'reenviado' },
      status: 200, duplicate: true },
    { name: 'another payment (another NSU)', ...another('outro-pagamento', '900000777'), status: 201 },
    { name: 'the report signed for another address', urlPath: otherPath, status: 401, message: REASONS.mismatch },
    { name: 'a body altered after signing', body: tampered, headers: { 'kelvora-event-id': 'tampered' },
      status: 401, message: REASONS.mismatch },
    { name: 'signed six minutes ago', ...another('old', '1', now - 360), status: 401, message: REASONS.outsideTolerance },
    { name: 'signed six minutes ahead', ...another('ahead', '2', now + 360), status: 401, message: REASONS.outsideTolerance },
    { name: 'signed four minutes ago', ...another('late', '3', now - 240), status: 201 },
    { name: 'bytes that are not UTF-8, signed as they are', body: notUtf8,
      headers: { 'kelvora-signature': signature(notUtf8, now, 'latin1'), 'kelvora-event-id': 'latin1' }, status: 201 },
    { name: 'a signature of another key beside the right one',
      body: bodyWithNsu('4'),
      headers: {
        'kelvora-signature': `${signature(bodyWithNsu('4'), now, 'rotated', { key: 'x'.repeat(32) })},v2=${mac2(bodyWithNsu('4'), now, 'rotated')}`,
        'kelvora-event-id': 'rotated',
      },
      status: 201 },
    { name: 'v1 alone, as a service before v2 signs', headers: { 'kelvora-signature': v1Only, 'kelvora-event-id': 'v1' },
      status: 400, message: REASONS.badSignatureHeader },
    { name: 'no Kelvora-Signature', headers: { 'kelvora-signature': undefined, 'kelvora-event-id': 'unsigned' },
      status: 400, message: REASONS.noSignature },
    { name: 'a signature without its time', headers: { 'kelvora-signature': goodMac, 'kelvora-event-id': 'sem-tempo' },
      status: 400, message: REASONS.badSignatureHeader },
    { name: 'a time that is not a number',
      headers: { 'kelvora-signature': `t=${now}.0,${goodMac}`, 'kelvora-event-id': 'sem-tempo' },
      status: 400, message: REASONS.badSignatureHeader },
    { name: 'two times',
      headers: { 'kelvora-signature': `t=${now},${signature(body, now, 'two')}`, 'kelvora-event-id': 'two' },
      status: 400, message: REASONS.badSignatureHeader },
    { name: 'no Kelvora-Event-Id',
      headers: { 'kelvora-signature': signature(body, now, 'x'), 'kelvora-event-id': undefined },
      status: 400, message: REASONS.badEventId },
    { name: 'an event id that could not be stored as it is',
      headers: { 'kelvora-signature': signature(body, now, 'a/b;c'), 'kelvora-event-id': 'a/b;c' },
      status: 400, message: REASONS.badEventId },
  ];
}

for (const language of LANGUAGES) {
  describe(`the ${language.name} sample`, () => {
    const claims = sessionClaims({ operator: 'João "Caixa\\1"', callback_url: 'https://vendas.example/api/' });

    test('mints a token whose session start the service accepts', LIMIT, async () => {
      const from = Math.floor(Date.now() / 1000);
      const minted = await mint(language, ['--ttl', '120', ...claimArguments(claims)]);
      const until = Math.floor(Date.now() / 1000);
      assert.equal(minted.code, 0, minted.stderr);
      const token = minted.stdout.trim();

      const { header, claims: signed } = decodeToken(token);
      assert.equal(header.alg, 'HS256');
      const { exp, ...rest } = signed;
      assert.deepEqual(rest, claims);
      assert.ok(exp >= from + 120 && exp <= until + 120, `exp ${exp} is 120 s after ${from}..${until}`);

      const client = await svc.connect();
      try {
        const reply = await exchange(client, { route: '/session/start', type: 'session', token });
        assert.equal(reply.status, 'created', JSON.stringify(reply));
      } finally {
        await client.terminate();
      }
    });

    test('refuses to mint a token the service would refuse', LIMIT, async () => {
      const cases = [
        { args: claimArguments(sessionClaims({ sale_id: undefined })), error: 'missing claim "sale_id"' },
        { args: claimArguments(sessionClaims({ sale_id: '0' })),
          error: 'claim "sale_id" must be an integer from 1 to 2147483647' },
        { args: claimArguments(sessionClaims({ company_id: '7a' })),
          error: 'claim "company_id" must be an integer from 0 to 2147483647' },
        { args: claimArguments(sessionClaims({ callback_url: 'https://user@vendas.example/' })),
          error: 'claim "callback_url" must be an http or https address' },
        { args: claimArguments(sessionClaims({ operator: 'x'.repeat(2049) })), error: 'claim "operator" is over 2 KiB' },
        { args: ['--ttl', '0', ...claimArguments(claims)], error: 'the lifetime must be 1 to 43200 seconds' },
        { args: claimArguments(claims), env: { ...SAMPLE_ENV, KELVORA_JWT_SECRET: `${SECRET}!` },
          error: 'the key must be 32 ASCII letters and digits' },
      ];
      for (const c of cases) {
        const result = await mint(language, c.args, { env: c.env });
        assert.deepEqual(result, { code: 2, stdout: '', stderr: `session-token: ${c.error}\n` }, c.error);
      }
    });

    test('takes the real report once and refuses every copy and alteration', LIMIT, async () => {
      const receiver = await startReceiver(language);
      try {
        let realPaymentId;
        let nextPaymentId;
        for (const c of receiverCases()) {
          const { headers, body } = replay(c);
          const answer = await post(receiver.port, c.urlPath ?? report.path, headers, body);
          assert.equal(answer.status, c.status, `${c.name}: ${JSON.stringify(answer.body)}`);
          if (c.message) assert.deepEqual(answer.body, { message: c.message }, c.name);
          if (c.status === 201) {
            assert.ok(Number.isInteger(answer.body.data), c.name);
            realPaymentId ??= answer.body.data;
            // Registered once each: nothing in between took an id.
            assert.equal(answer.body.data, nextPaymentId ?? realPaymentId, c.name);
            nextPaymentId = answer.body.data + 1;
          }
          // A repeat is answered as the first time, so that the service shows the page the same id.
          if (c.duplicate) assert.deepEqual(answer.body, { data: realPaymentId, duplicate: true }, c.name);
        }
      } finally {
        receiver.stop();
      }
    });

    test('checks v2 with the signing_secret when it is given, not with jwt_secret\'s key', LIMIT, async () => {
      const receiver = await startReceiver(language, { KELVORA_SIGNING_SECRET: SIGNING_SECRET });
      try {
        const now = Math.floor(Date.now() / 1000);
        const cases = [
          { key: REPORT_KEY, eventId: 'derivada', status: 401 },
          { key: Buffer.from(SIGNING_SECRET, 'ascii'), eventId: 'propria', status: 201 },
        ];
        for (const c of cases) {
          const { headers, body } = replay({
            headers: { 'kelvora-signature': signature(Buffer.from(report.rawBody, 'utf8'), now, c.eventId, c),
              'kelvora-event-id': c.eventId },
          });
          const answer = await post(receiver.port, report.path, headers, body);
          assert.equal(answer.status, c.status, `${c.eventId}: ${JSON.stringify(answer.body)}`);
        }
      } finally {
        receiver.stop();
      }
    });
  });
}
