// The client protocol over the real service: the envelope and routing, every error reply of the
// route table and of the session requests with its exact text, and sessions opened with tokens
// signed by Node's crypto.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import {
  errorReply, exchange, exchangeRaw, exchangeText, openSession, sessionClaims, signToken,
  startProtocolService,
} from './lib/index.mjs';

let svc;
let client;
before(async () => {
  svc = await startProtocolService({ ini: '[sitef]\npdv_number=3\n' });
  client = await svc.connect();
});
after(async () => {
  client?.terminate();
  await svc?.stop();
});

// The reply to a session start whose token is signed over claims.
function startWith(claims, options) {
  return exchange(client, { route: '/session/start', type: 'session', token: signToken(claims, options) });
}

describe('routing', () => {
  test('a request without "route" is told so, whatever else it carries', async () => {
    for (const request of [{ type: 'version' }, { Route: '/version', type: 'version' }, {}]) {
      assert.deepEqual(await exchangeRaw(client, request), errorReply('Campo route nao encontrado.'));
    }
  });

  test('"/version" needs no session; every other route does', async () => {
    const version = await exchange(client, { route: '/version', type: 'version', category: 'service_exe' });
    assert.deepEqual(version, { type: 'version', category: 'service_exe', version: '1.0.0.4' });
    for (const route of ['/initialize', '/pinpad/status', '/session/finish', '/transaction',
      '/transaction/cancel', '/Version', '/anything']) {
      assert.deepEqual(await exchangeRaw(client, { route, type: 'x' }),
        errorReply('Campo session_uuid nao encontrado.'), route);
      assert.deepEqual(await exchangeRaw(client, { route, type: 'x', session_uuid: 'NOPE' }),
        errorReply('Sessão inválida.'), route);
    }
  });

  test('a route outside the table gets no reply once its session is valid', async () => {
    const { session_uuid } = await openSession(client);
    for (const route of ['/anything', '/Version', '/INITIALIZE']) {
      await client.sendRaw(JSON.stringify({ route, type: 'version', category: 'service_exe', session_uuid }));
      assert.ok(await client.silentFor(200), route);
    }
  });

  test('frames that hold no request object get no reply and the connection stays usable', async () => {
    for (const text of ['plain words', '{"route":', '[{"route":"/version"}]', '"/version"', '42',
      'null']) {
      await client.sendRaw(text);
      assert.ok(await client.silentFor(150), text);
    }
    const reply = await exchange(client, { route: '/version', type: 'version', category: 'service_exe' });
    assert.equal(reply.version, '1.0.0.4');
  });

  test('replies are compact, with the service\'s escaping', async () => {
    const text = await exchangeText(client, { route: '/initialize', type: 'initialize', session_uuid: 'x/y' });
    assert.equal(text, '{"type":"error","message":"Sess\\u00E3o inv\\u00E1lida."}');
  });

  test('the first of two members with the same name counts', async () => {
    const text = '{"route":"/version","type":"version","category":"service_exe","category":"nope"}';
    assert.equal((await exchangeRaw(client, text)).version, '1.0.0.4');
  });
});

describe('session start', () => {
  test('opens a session and tells the store and the terminal', async () => {
    const before = Date.now();
    const reply = await openSession(client);
    assert.deepEqual(Object.keys(reply),
      ['type', 'status', 'message', 'expiration', 'session_uuid', 'store_code', 'terminal_number']);
    assert.equal(reply.status, 'created');
    assert.equal(reply.message, 'Sessão criada com sucesso.');
    assert.match(reply.session_uuid, /^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$/);
    assert.equal(reply.store_code, '00000001');
    assert.equal(reply.terminal_number, 'AG001203');
    assert.match(reply.expiration, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/);
    const lifetime = Date.parse(reply.expiration) - before;
    assert.ok(lifetime > 1795e3 && lifetime <= 1801e3, `${lifetime} ms`);
  });

  test('accepts tokens signed with HS256, HS384 and HS512 and gives each session its own id', async () => {
    const ids = new Set();
    for (const alg of ['HS256', 'HS384', 'HS512']) ids.add((await openSession(client, sessionClaims(), { alg })).session_uuid);
    assert.equal(ids.size, 3);
    for (const session_uuid of ids) {
      await client.sendRaw(JSON.stringify({ route: '/other', session_uuid }));
      assert.ok(await client.silentFor(100));
    }
  });

  test('a wrong "type", a missing "type" or "token", and a token that cannot be read', async () => {
    const cases = [
      [{ route: '/session/start', type: 'Session', token: signToken(sessionClaims()) },
        'Configuração de entrada inválida: type diferente de "session".'],
      [{ route: '/session/start', token: signToken(sessionClaims()) }, 'Campo type nao encontrado.'],
      [{ route: '/session/start', type: 'session' }, 'Campo token nao encontrado.'],
      [{ route: '/session/start', type: 'session', token: 'abc.def' }, 'Dados de sessão inválidos.'],
      [{ route: '/session/start', type: 'session', token: `${signToken(sessionClaims())}.x.y` },
        'Dados de sessão inválidos.'],
      [{ route: '/session/start', type: 'session', token: signToken(sessionClaims(), { header: { alg: 'none' } }) },
        'Dados de sessão inválidos.'],
      [{ route: '/session/start', type: 'session', token: signToken(sessionClaims(), { header: { typ: 'JWT' } }) },
        'Dados de sessão inválidos.'],
      [{ route: '/session/start', type: 'session', token: signToken(sessionClaims(), { header: { alg: 'RS256' } }) },
        'Dados de sessão inválidos.'],
    ];
    for (const [request, message] of cases) {
      assert.deepEqual(await exchangeRaw(client, request), errorReply(message), message);
    }
  });

  test('a token signed with another secret, or altered, is not authorised', async () => {
    assert.deepEqual(await startWith(sessionClaims(), { secret: 'Xq8mR2vL9tKp4WnB7cY1zH6dF3sJ5gAe' }),
      errorReply('Acesso não autorizado.'));
    const token = signToken(sessionClaims());
    const [header, , signature] = token.split('.');
    const forged = `${header}.${Buffer.from(JSON.stringify(sessionClaims({ sale_id: '1' }))).toString('base64url')}.${signature}`;
    assert.deepEqual(await exchange(client, { route: '/session/start', type: 'session', token: forged }),
      errorReply('Acesso não autorizado.'));
  });

  test('each missing claim is named', async () => {
    for (const claim of ['secctional_code', 'ip_address', 'store_code', 'additional_parameters',
      'operator', 'sale_id', 'company_id', 'callback_url']) {
      assert.deepEqual(await startWith(sessionClaims({ [claim]: undefined })),
        errorReply(`Campo ${claim} nao encontrado.`), claim);
    }
  });

  test('sale and company ids must be integers, the sale above 0, the callback address not blank', async () => {
    const cases = [
      [{ sale_id: 'abc' }, "'abc' is not a valid integer value"],
      [{ company_id: '1.5' }, "'1.5' is not a valid integer value"],
      [{ sale_id: ' 7 ' }, "' 7 ' is not a valid integer value"],
      [{ sale_id: '0' }, 'ID de venda não informado.'],
      [{ sale_id: '-3' }, 'ID de venda não informado.'],
      [{ callback_url: ' \t ' }, 'URL de callback não informada.'],
      [{ callback_url: '' }, 'URL de callback não informada.'],
    ];
    for (const [overrides, message] of cases) {
      assert.deepEqual(await startWith(sessionClaims(overrides)), errorReply(message), message);
    }
  });

  test('claims that are JSON numbers are read through their text', async () => {
    const reply = await startWith(sessionClaims({ sale_id: 4821, company_id: 7, secctional_code: 7 }));
    assert.equal(reply.terminal_number, 'AG000703');
  });
});

describe('session check and finish', () => {
  test('ids are compared exactly', async () => {
    const { session_uuid } = await openSession(client);
    assert.deepEqual(await exchangeRaw(client, { route: '/initialize', type: 'x', session_uuid: session_uuid.toLowerCase() }),
      errorReply('Sessão inválida.'));
  });

  test('finishing a session needs type "session" and ends it', async () => {
    const { session_uuid } = await openSession(client);
    assert.deepEqual(await exchangeRaw(client, { route: '/session/finish', type: 'finish', session_uuid }),
      errorReply('Campo type diferente de session.'));
    assert.deepEqual(await exchangeRaw(client, { route: '/session/finish', session_uuid }),
      errorReply('Campo type nao encontrado.'));
    assert.equal(await exchangeText(client, { route: '/session/finish', type: 'session', session_uuid }),
      '{"type":"session","status":"finished","message":"Sess\\u00E3o finalizada com sucesso."}');
    assert.deepEqual(await exchange(client, { route: '/session/finish', type: 'session', session_uuid }),
      errorReply('Sessão inválida.'));
  });

  test('a session outlives its connection and serves whoever presents it', async () => {
    const first = await svc.connect();
    const { session_uuid } = await openSession(first);
    await first.terminate();
    assert.deepEqual(await exchangeRaw(client, { route: '/initialize', type: 'nope', session_uuid }),
      errorReply('Campo type diferente de initialize.'));
  });
});
