// kelvora-token, checked with Node's crypto and against the real service; and the installation's
// own token secret in the service's configuration file.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { createHmac } from 'node:crypto';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import { promisify } from 'node:util';
import {
  DEFAULT_SECRET, errorReply, exchange, readServiceLogTexts, sessionClaims, signToken,
  startProtocolService, tokenBinary,
} from './lib/index.mjs';

const run = promisify(execFile);
const HASHES = { HS256: 'sha256', HS384: 'sha384', HS512: 'sha512' };
const OWN_SECRET = 'Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// The tool's environment without a key in it, plus extra.
function toolEnv(extra = {}) {
  const env = { ...process.env, ...extra };
  if (!('KELVORA_JWT_SECRET' in extra)) delete env.KELVORA_JWT_SECRET;
  return env;
}

// A token signed with the built-in key, the one the test services verify with.
async function mint(...args) {
  const { stdout } = await run(tokenBinary, ['--builtin-secret', ...args], { env: toolEnv() });
  return stdout.trim();
}

// The header and claims of a token whose signature Node's crypto finds made with secret.
function verified(token, secret) {
  const [header, claims, signature] = token.split('.');
  const head = JSON.parse(Buffer.from(header, 'base64url').toString('utf8'));
  const expected = createHmac(HASHES[head.alg], secret).update(`${header}.${claims}`).digest('base64url');
  assert.equal(signature, expected, 'signature');
  return { header: head, claims: JSON.parse(Buffer.from(claims, 'base64url').toString('utf8')) };
}

// A file holding text in a directory of its own, removed after the test.
async function tempFile(name, text) {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-token-'));
  cleanups.push(() => fs.rm(dir, { recursive: true, force: true }));
  const file = path.join(dir, name);
  await fs.writeFile(file, text);
  return file;
}
const configFile = (text) => tempFile('SvcKelvoraSiTef.ini', text);

const CLAIM_OPTIONS = [
  '--secctional-code', '12', '--ip-address', '127.0.0.1', '--store-code', '00000001',
  '--additional-parameters', '[ParmsClient=1];', '--operator', 'CAIXA01', '--sale-id', '4821',
  '--company-id', '7', '--callback-url', 'http://127.0.0.1:9/',
];

describe('kelvora-token', () => {
  test('signs the claims given as options, as strings, with HS256', async () => {
    const { header, claims } = verified(await mint('--ttl', '0', ...CLAIM_OPTIONS), DEFAULT_SECRET);
    assert.deepEqual(header, { typ: 'JWT', alg: 'HS256' });
    assert.deepEqual(claims, sessionClaims());
    for (const alg of ['HS384', 'HS512']) {
      assert.equal(verified(await mint('--alg', alg, '--sale-id', '1'), DEFAULT_SECRET).header.alg, alg);
    }
  });

  test('signs only with the key it is told to use', async () => {
    const OTHER = 'Z9y8X7w6V5u4T3s2R1q0P9o8N7m6L5k4';
    const cases = [
      ['--config', async () => ['--config', await configFile(`[Security]\njwt_secret=${OWN_SECRET}\n`)], {}, OWN_SECRET],
      ['--secret-file', async () => ['--secret-file', await tempFile('key', `${OWN_SECRET}\n`)], {}, OWN_SECRET],
      ['KELVORA_JWT_SECRET', async () => [], { KELVORA_JWT_SECRET: OWN_SECRET }, OWN_SECRET],
      ['--builtin-secret', async () => ['--builtin-secret'], {}, DEFAULT_SECRET],
      ['an option over the environment', async () => ['--builtin-secret'], { KELVORA_JWT_SECRET: OTHER }, DEFAULT_SECRET],
      ['--secret, with a warning', async () => ['--secret', OWN_SECRET], {}, OWN_SECRET, /visible to other users/],
    ];
    for (const [what, args, env, secret, warning = /^$/] of cases) {
      const { stdout, stderr } = await run(tokenBinary, [...await args(), '--sale-id', '1'], { env: toolEnv(env) });
      verified(stdout.trim(), secret);
      assert.match(stderr, warning, what);
    }
  });

  test('refuses to sign without a usable key', async () => {
    const cases = [
      ['no key at all', async () => [], {}, /no signing key/],
      ['a configuration without a key', async () => ['--config', await configFile('[security]\njwt_secret=\n')], {},
        /sets no \[security\] jwt_secret/],
      ['a configuration file that is not there', async () => ['--config', '/nonexistent/SvcKelvoraSiTef.ini'], {},
        /cannot read/],
      ['a short key in the configuration', async () => ['--config', await configFile('[security]\njwt_secret=too-short\n')], {},
        /not 32 ASCII letters and digits/],
      ['a key file with a blank', async () => ['--secret-file', await tempFile('key', `${OWN_SECRET.slice(1)} \n`)], {},
        /not 32 ASCII letters and digits/],
      ['a short key in the environment', async () => [], { KELVORA_JWT_SECRET: OWN_SECRET.slice(1) },
        /not 32 ASCII letters and digits/],
      ['an empty environment variable', async () => [], { KELVORA_JWT_SECRET: '' }, /not 32 ASCII letters and digits/],
      ['a key with a letter outside ASCII', async () => ['--secret', `${OWN_SECRET.slice(1)}é`], {},
        /not 32 ASCII letters and digits/],
    ];
    for (const [what, args, env, reason] of cases) {
      const error = await run(tokenBinary, [...await args(), '--sale-id', '1'], { env: toolEnv(env) })
        .then(() => assert.fail(`${what}: a token was signed`), (e) => e);
      assert.notEqual(error.code, 0, what);
      assert.equal(error.stdout, '', what);
      assert.match(error.stderr, reason, what);
    }
  });

  test('takes a claims object, with options replacing its members', async () => {
    const token = await mint('--ttl', '0', '--claims', '{"sale_id":1,"extra":{"a":[1,2]}}', '--sale-id', '9');
    assert.deepEqual(verified(token, DEFAULT_SECRET).claims, { extra: { a: [1, 2] }, sale_id: '9' });
  });

  test('adds "exp" 12 hours ahead unless --ttl says otherwise or the claims carry one', async () => {
    const cases = [
      { args: [], exp: 43200 },
      { args: ['--ttl', '90'], exp: 90 },
      { args: ['--ttl', '0'], exp: undefined },
      { args: ['--claims', '{"exp":1}'], exp: 'given' },
    ];
    for (const { args, exp } of cases) {
      const now = Math.floor(Date.now() / 1000);
      const { claims } = verified(await mint(...args, '--sale-id', '1'), DEFAULT_SECRET);
      const what = args.join(' ') || 'no option';
      if (exp === undefined) {
        assert.equal('exp' in claims, false, what);
      } else if (exp === 'given') {
        assert.equal(claims.exp, 1, what);
      } else {
        assert.ok(Math.abs(claims.exp - (now + exp)) <= 5, `${what}: exp ${claims.exp}, now ${now}`);
      }
    }
  });

  test('refuses a command line it cannot follow', async () => {
    for (const args of [['--alg', 'none'], ['--claims', '[1]'], ['--sale-id'], ['--secret', 'a', '--config', 'b'],
      ['--builtin-secret', '--secret-file', 'f'], ['--bogus'], ['--ttl', '-1'], ['--ttl', '12h'], ['--ttl']]) {
      await assert.rejects(run(tokenBinary, args), (error) => error.code === 2, args.join(' '));
    }
  });

  test('--help explains every option and the claims', async () => {
    const { stdout } = await run(tokenBinary, ['--help']);
    for (const word of ['--alg', '--secret', '--secret-file', '--config', '--builtin-secret', 'KELVORA_JWT_SECRET', '--claims', '--ttl', ...CLAIM_OPTIONS.filter((a) => a.startsWith('--')),
      'secctional_code', 'callback_url', 'jwt_secret']) {
      assert.ok(stdout.includes(word), word);
    }
  });

  test('its tokens open sessions on the service', async () => {
    const svc = await startProtocolService();
    cleanups.push(() => svc.stop());
    const client = await svc.connect();
    cleanups.push(() => client.terminate());
    for (const alg of ['HS256', 'HS384', 'HS512']) {
      const reply = await exchange(client, { route: '/session/start', type: 'session', token: await mint('--alg', alg, ...CLAIM_OPTIONS) });
      assert.equal(reply.status, 'created', alg);
    }
  });
});

describe('the installation\'s own token secret', () => {
  test('replaces the built-in one for the service and for kelvora-token --config', async () => {
    const ini = `[security]\njwt_secret=${OWN_SECRET}\n`;
    const svc = await startProtocolService({ ini });
    cleanups.push(() => svc.stop());
    const client = await svc.connect();
    cleanups.push(() => client.terminate());
    const start = (token) => exchange(client, { route: '/session/start', type: 'session', token });

    assert.equal((await start(signToken(sessionClaims(), { secret: OWN_SECRET }))).status, 'created');
    const { stdout } = await run(tokenBinary, ['--config', path.join(svc.baseDir, 'SvcKelvoraSiTef.ini'), ...CLAIM_OPTIONS],
      { env: toolEnv() });
    assert.equal((await start(stdout.trim())).status, 'created');
    assert.deepEqual(await start(signToken(sessionClaims())), errorReply('Acesso não autorizado.'));
  });

  test('an unusable value refuses every session, the built-in key\'s tokens included', async () => {
    const svc = await startProtocolService({ ini: '[security]\njwt_secret=abc\n' });
    cleanups.push(() => svc.stop());
    const client = await svc.connect();
    cleanups.push(() => client.terminate());
    const reply = await exchange(client, { route: '/session/start', type: 'session', token: signToken(sessionClaims()) });
    assert.deepEqual(reply, errorReply('Acesso não autorizado.'));
    const log = await readServiceLogTexts(svc.baseDir);
    assert.ok(log.includes('Chave jwt_secret da seção security inválida (são exigidas 32 letras ou dígitos ASCII): '
      + 'abertura de sessão recusada.'), log.join('\n'));
    assert.ok(log.some((text) => text.endsWith('toda abertura de sessão será recusada até que seja corrigida.')), log.join('\n'));
  });
});
