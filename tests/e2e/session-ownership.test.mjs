// Whose session, whose payment, over the real service and the simulator: the token's validity
// period, a second session that cannot redirect a running payment's report, a cancellation that
// only the payment's own session can make, and the sales API that cannot lead the report astray.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach, test } from 'node:test';
import { startSalesApi } from './lib/salesApi.mjs';
import { errorReply, exchange, sessionClaims, signToken } from './lib/index.mjs';
import {
  PAYMENT, PAYMENT_MENU, assertMessage, debitAnswers, failure, payByDebit, runToResult,
  serviceWithStopAfterEach,
} from './transaction-support.mjs';

const serviceWith = serviceWithStopAfterEach();
const extraApis = [];
afterEach(async () => {
  while (extraApis.length > 0) await extraApis.pop().close();
});

async function until(t, type, on) {
  for (;;) {
    const msg = await t.next(on);
    if (msg.type === type) return msg;
  }
}

test('a token is refused outside its exp/nbf period and accepted inside it', async () => {
  const t = await serviceWith();
  const now = Math.floor(Date.now() / 1000);
  const start = (claims) => exchange(t.client, {
    route: '/session/start', type: 'session', token: signToken(sessionClaims({ callback_url: t.api.url, ...claims })),
  });
  assert.deepEqual(await start({ exp: now - 3600 }), errorReply('Acesso não autorizado.'));
  assert.deepEqual(await start({ nbf: now + 3600 }), errorReply('Acesso não autorizado.'));
  assert.equal((await start({ nbf: now - 60, exp: now + 3600 })).status, 'created');
  const log = await t.logTexts();
  assert.ok(log.includes('Token de sessão recusado: expirado (exp).'), log.join('\n'));
  assert.ok(log.includes('Token de sessão recusado: ainda não válido (nbf).'), log.join('\n'));
});

test('a session started mid-payment elsewhere changes neither where it is reported nor its sale', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  const elsewhere = await startSalesApi();
  extraApis.push(elsewhere);
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  const tab = await t.connect();
  await t.session(tab, { callback_url: elsewhere.url, sale_id: '9999', company_id: '55' });
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  const seen = await runToResult(t, debitAnswers);
  const result = seen.at(-1);
  assert.equal(result.status, 'approved');
  assert.equal(result.transaction_data[0].sale_id, 4821);
  assert.equal(result.transaction_data[0].company_id, 7);
  assert.equal(elsewhere.requests.length, 0);
  assert.equal(t.api.requests.length, 1);
  assert.equal(t.api.requests[0].body.transaction_data[0].sale_id, 4821);
});

test('a cancellation from another session is ignored; the payment\'s own session cancels', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=300\n' });
  const tab = await t.connect();
  const otherSession = await t.session(tab);
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  await until(t, 'can_cancel');
  await t.cancel(tab, otherSession);
  assert.ok(await tab.silentFor(300), 'no reply');
  const log = await t.logTexts();
  assert.ok(log.includes('Cancelamento ignorado: a transação em andamento foi iniciada por outra sessão.'),
    log.join('\n'));
  await t.cancel(tab);
  const seen = await runToResult(t, debitAnswers);
  assertMessage(seen.at(-1), failure('canceled'));
});

test('a callback address that is no plain http(s) address refuses the session', async () => {
  const t = await serviceWith();
  for (const url of ['ftp://127.0.0.1/', 'https://user@127.0.0.1/', 'http://127.0.0.1/?a=1', '127.0.0.1/api']) {
    const reply = await exchange(t.client, {
      route: '/session/start', type: 'session', token: signToken(sessionClaims({ callback_url: url })),
    });
    assert.deepEqual(reply, errorReply('URL de callback inválida.'), url);
  }
});

test('a token may not send reports to link-local, unspecified or multicast addresses, nor to the service itself', async () => {
  const t = await serviceWith({ ini: '[metrics]\nlisten=127.0.0.1:39464\n' });
  const refused = [
    'http://169.254.169.254/latest/', 'http://[fe80::1%25lo]:8080/', 'http://0.0.0.0:8080/',
    'http://224.0.0.1/', 'http://255.255.255.255/', 'http://[ff02::1]/', 'http://[::ffff:169.254.1.1]/',
    `https://127.0.0.1:${t.svc.port}/`, 'http://0x7f.1:39464/', 'http://2130706433:39464/',
  ];
  for (const url of refused) {
    const reply = await exchange(t.client, {
      route: '/session/start', type: 'session', token: signToken(sessionClaims({ callback_url: url })),
    });
    assert.deepEqual(reply, errorReply('URL de callback inválida.'), url);
  }
  // The loopback and private networks stay open (a store's back end often lives there), and an
  // http address off the loopback is warned about once.
  for (const url of ['http://127.0.0.1:8080/', 'http://10.1.2.3/api', 'http://10.1.2.3/api']) {
    const reply = await exchange(t.client, {
      route: '/session/start', type: 'session', token: signToken(sessionClaims({ callback_url: url })),
    });
    assert.equal(reply.type, 'session', url);
  }
  const log = await t.logTexts();
  assert.ok(log.some((line) => line.startsWith('URL de callback recusada (endereço de enlace local): http://169.254.169.254/latest')),
    log.join('\n'));
  assert.equal(log.filter((line) => line.includes('usa http fora do loopback')).length, 1, log.join('\n'));
});

test('[sales_api] allowed_hosts limits where reports may go', async () => {
  const t = await serviceWith({ ini: '[sales_api]\nallowed_hosts=vendas.example, 127.0.0.1\n' });
  for (const [url, allowed] of [['https://vendas.example/api', true], ['https://VENDAS.example/', true],
    ['http://127.0.0.1:8080/', true], ['https://outra.example/', false], ['http://127.0.0.2/', false]]) {
    const reply = await exchange(t.client, {
      route: '/session/start', type: 'session', token: signToken(sessionClaims({ callback_url: url })),
    });
    assert.equal(reply.type === 'session', allowed, url);
  }
});

test('the sales API cannot redirect a report to plain http nor answer it with 2 MiB', async () => {
  for (const respond of [
    (request) => (request.path.endsWith('/moved') ? undefined
      : { status: 307, headers: { Location: `${request.path}/moved` } }),
    () => ({ status: 201, body: `{"data":1,"x":"${'x'.repeat(2 * 1024 * 1024)}"}` }),
  ]) {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n', respond });
    const result = (await payByDebit(t)).at(-1);
    assert.equal(result.status, 'approved');
    assert.equal(result.transaction_data[0].payment_id, 0);
    const log = await t.logTexts();
    assert.ok(log.some((text) => text.startsWith('Erro ao registrar transação na API: Request Error ')), log.join('\n'));
    await t.stop();
  }
});

test('the built-in key written out as the installation\'s own is warned about at every start', async () => {
  // The harness writes the built-in key into the configuration, as a careless upgrade might.
  const t = await serviceWith();
  const log = await t.logTexts();
  assert.ok(log.some((line) => line.startsWith('Aviso: a chave jwt_secret da seção security é a chave padrão')),
    log.join('\n'));
});

test('a report whose name leads to the service\'s own port is refused on the address it reaches, and set aside', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  // "localhost" is a name: the session starts, and the address it resolves to is judged when the
  // report connects.
  const page = await t.connect();
  const uuid = await t.session(page, { callback_url: `http://localhost:${t.svc.port}/` });
  const result = (await payByDebit(t, {}, { on: page, uuid })).at(-1);
  assert.equal(result.status, 'approved');
  assert.equal(result.transaction_data[0].payment_id, 0);
  const log = await t.logTexts();
  assert.ok(log.some((line) => line.includes('Destino recusado (porta do próprio serviço)')), log.join('\n'));
  const kept = await fs.readdir(path.join(t.svc.baseDir, 'TEF', 'RegistrosAPI'));
  assert.equal(kept.filter((name) => name.endsWith('.recusado')).length, 1, kept.join(' '));
  assert.equal(t.api.requests.length, 0);
});
