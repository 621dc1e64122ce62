// The sales API's answers to the callback of an approved payment, over the real service and the
// SiTef simulator: whatever the API says, or when it cannot be reached, the page receives the
// approved result; the payment id is the API's when it gave one, and the failures are logged. The
// report is signed with the keys the configuration names, and held while they are not the
// installation's own.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { startSalesApi } from './lib/salesApi.mjs';
import { assertSignedReport, harnessIni } from './lib/index.mjs';
import { restartService, waitUntil } from './lib/processState.mjs';
import { APPROVED, assertMessage, payByDebit, startTransactionService } from './transaction-support.mjs';

let t;
let reply;
before(async () => {
  t = await startTransactionService({ simulatorIni: '[dialog]\ncard_polls=1\n', respond: () => reply });
});
after(async () => {
  await t?.stop();
});

const LOG = 'Erro ao registrar transação na API: ';
const OWN_SECRET = 'Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7';
const SIGNING_SECRET = 'Vendas-Relatorios-2026:chave-propria-do-caixa-7';
// The service log's line at the start under the built-in key, and at a report under a
// signing_secret it cannot use.
const BUILT_IN_KEY_HOLDS = 'Os registros de transação não são enviados à API enquanto a chave padrão estiver em uso: '
  + 'ficam guardados e serão enviados quando jwt_secret for configurada na seção security.';
const SIGNING_SECRET_HOLDS = 'Chave signing_secret da seção sales_api inválida (são exigidos de 32 a 128 caracteres '
  + 'ASCII visíveis): o registro da transação fica guardado e será enviado à API quando a chave for corrigida.';

// The sales-API reports kept on disk until the API answers them.
async function keptReports(baseDir) {
  try {
    return await fs.readdir(path.join(baseDir, 'TEF', 'RegistrosAPI'));
  } catch {
    return [];
  }
}

test('every answer of the sales API, and none, leaves the page with the approved result', async () => {
  const cases = [
    { name: '201 with "data" 42', reply: { status: 201, body: { data: 42 } }, paymentId: 42, log: null },
    { name: '200 with "data" "42"', reply: { status: 200, body: { data: '42' } }, paymentId: 42, log: null },
    { name: '204 without a body', reply: { status: 204 }, paymentId: 0, log: null },
    {
      name: '400 with "message"', reply: { status: 400, body: { message: 'Venda não encontrada' } },
      paymentId: 0, log: `${LOG}Code: 400 - Message: Venda não encontrada`,
    },
    {
      name: '502 with an HTML page', reply: { status: 502, body: '<html><body>Bad gateway</body></html>', headers: { 'Content-Type': 'text/html' } },
      paymentId: 0, log: `${LOG}502 - Bad Gateway`,
    },
    { name: 'no API listening', callbackUrl: 'http://127.0.0.1:1/', paymentId: 0, log: (text) => text.startsWith(`${LOG}Request Error `) },
  ];
  let sessionUuid = t.sessionUuid;
  for (const c of cases) {
    reply = c.reply;
    if (c.callbackUrl) sessionUuid = await t.session(t.client, { callback_url: c.callbackUrl });
    const logged = (await t.logTexts()).length;
    const calls = t.api.requests.length;
    const seen = await payByDebit(t, {}, { uuid: sessionUuid });
    const result = seen.at(-1);
    assertMessage({ ...result, transaction_data: undefined }, APPROVED, c.name);
    const element = result.transaction_data[0];
    assert.deepEqual(Object.keys(element).slice(-2), ['payment_id', 'company_id'], c.name);
    assert.equal(element.payment_id, c.paymentId, c.name);
    assert.equal(element.company_id, 7, c.name);
    assert.equal(t.api.requests.length, calls + (c.callbackUrl ? 0 : 1), c.name);

    if (!c.callbackUrl) assertSignedReport(t.api.requests.at(-1));

    const lines = (await t.logTexts()).slice(logged).filter((text) => text.startsWith(LOG));
    if (c.log === null) {
      assert.deepEqual(lines, [], c.name);
    } else {
      assert.equal(lines.length, 1, `${c.name}: ${lines}`);
      assert.ok(typeof c.log === 'function' ? c.log(lines[0]) : lines[0] === c.log, `${c.name}: ${lines[0]}`);
    }
  }
  const eventIds = t.api.requests.map((request) => request.headers['kelvora-event-id']);
  assert.equal(new Set(eventIds).size, eventIds.length, 'every report has an event id of its own');
});

// A sales API over HTTPS whose certificate comes from a CA of the store's own (here the one of the
// service's certificates): refused with curl's reason until the configuration names that CA.
test('an https sales API is trusted through [sales_api] ca_file, and refused in the log without it', async () => {
  const certificates = path.join(t.svc.baseDir, 'Certificado');
  const api = await startSalesApi({
    tls: {
      cert: await fs.readFile(path.join(certificates, 'server_cert.pem')),
      key: await fs.readFile(path.join(certificates, 'server_key.pem')),
    },
  });
  const ini = path.join(t.svc.baseDir, 'SvcKelvoraSiTef.ini');
  try {
    const sessionUuid = await t.session(t.client, { callback_url: api.url });
    const cases = [
      { name: 'no CA configured', ini: '', trusted: false },
      { name: 'the CA configured', ini: '[sales_api]\r\nca_file=Certificado/ca_cert.pem\r\n', trusted: true },
    ];
    for (const c of cases) {
      await fs.writeFile(ini, harnessIni(c.ini));
      const logged = (await t.logTexts()).length;
      const seen = await payByDebit(t, {}, { uuid: sessionUuid });
      const result = seen.at(-1);
      assertMessage({ ...result, transaction_data: undefined }, APPROVED, c.name);
      const lines = (await t.logTexts()).slice(logged).filter((text) => text.startsWith(LOG));
      if (c.trusted) {
        assert.ok(result.transaction_data[0].payment_id >= 1000, c.name);
        assert.deepEqual(lines, [], c.name);
      } else {
        assert.equal(result.transaction_data[0].payment_id, 0, c.name);
        assert.equal(lines.length, 1, `${c.name}: ${lines}`);
        assert.match(lines[0], /^Erro ao registrar transação na API: Request Error .*certificate/i, c.name);
      }
    }
  } finally {
    await fs.writeFile(ini, harnessIni());
    await api.close();
  }
});

// Last of the tests on the shared service: the report it holds is posted again 30 s later.
test('[sales_api] signing_secret signs v2, signature_v1=0 drops v1, and one it cannot use holds the report', async () => {
  const ini = path.join(t.svc.baseDir, 'SvcKelvoraSiTef.ini');
  const cases = [
    { name: 'a signing_secret, v1 dropped', ini: `[sales_api]\nsigning_secret=${SIGNING_SECRET}\nsignature_v1=0\n`,
      signed: { signingSecret: SIGNING_SECRET, v1: false } },
    { name: 'a signing_secret of 31 characters', ini: `[sales_api]\nsigning_secret=${'k'.repeat(31)}\n`,
      held: SIGNING_SECRET_HOLDS },
  ];
  try {
    for (const c of cases) {
      await fs.writeFile(ini, harnessIni(c.ini));
      const logged = (await t.logTexts()).length;
      const calls = t.api.requests.length;
      const keptBefore = new Set(await keptReports(t.svc.baseDir));
      const result = (await payByDebit(t)).at(-1);
      assertMessage({ ...result, transaction_data: undefined }, APPROVED, c.name);
      const added = (await t.logTexts()).slice(logged).filter((text) => text.startsWith(LOG) || text.includes('signing_secret'));
      if (c.signed) {
        assert.equal(t.api.requests.length, calls + 1, c.name);
        assertSignedReport(t.api.requests.at(-1), c.signed);
        assert.ok(result.transaction_data[0].payment_id >= 1000, c.name);
        assert.deepEqual(added, [], c.name);
      } else {
        assert.equal(t.api.requests.length, calls, `${c.name}: nothing posted`);
        assert.equal(result.transaction_data[0].payment_id, 0, c.name);
        assert.deepEqual(added, [c.held], c.name);
        const kept = (await keptReports(t.svc.baseDir)).filter((name) => !keptBefore.has(name));
        assert.equal(kept.length, 1, `${c.name}: the report is kept`);
        assert.ok(kept[0].endsWith('.json'), `${c.name}: to be posted again`);
      }
    }
  } finally {
    await fs.writeFile(ini, harnessIni());
  }
});

// A report signed with the key every copy of the program has would prove nothing: the service
// says so at its start, keeps every report, and posts them once the installation has a key of its
// own.
test('under the built-in key no report is posted: it is kept until the installation has its own key', async () => {
  const held = await startTransactionService({ simulatorIni: '[dialog]\ncard_polls=1\n', ini: '[security]\njwt_secret=\n' });
  let restarted;
  try {
    assert.ok((await held.logTexts()).includes(BUILT_IN_KEY_HOLDS), 'said at the start');
    const logged = (await held.logTexts()).length;
    const result = (await payByDebit(held)).at(-1);
    assertMessage({ ...result, transaction_data: undefined }, APPROVED);
    assert.equal(result.transaction_data[0].payment_id, 0);
    assert.equal(held.api.requests.length, 0, 'nothing posted');
    assert.equal((await keptReports(held.svc.baseDir)).length, 1, 'the report is kept');
    assert.deepEqual((await held.logTexts()).slice(logged).filter((text) => text.startsWith(LOG)), [],
      'no failure is reported: nothing was tried');

    await fs.writeFile(path.join(held.svc.baseDir, 'SvcKelvoraSiTef.ini'), `[security]\njwt_secret=${OWN_SECRET}\n`);
    await held.svc.service.stop();
    restarted = await restartService(held.svc.baseDir, held.svc.port);
    await waitUntil(() => held.api.requests.length === 1, 'the kept report posted');
    assertSignedReport(held.api.requests[0], { secret: OWN_SECRET });
    assert.equal(JSON.parse(held.api.requests[0].rawBody).transaction_data[0].nsu_code,
      result.transaction_data[0].nsu_code, 'the report of that payment');
    await waitUntil(async () => (await keptReports(held.svc.baseDir)).length === 0, 'the kept report deleted');
  } finally {
    await restarted?.stop();
    await held.stop();
  }
});
