// The sales API's answers to the callback of an approved payment, over the real service and the
// SiTef simulator: whatever the API says, or when it cannot be reached, the page receives the
// approved result; the payment id is the API's when it gave one, and the failures are logged.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { startSalesApi } from './lib/salesApi.mjs';
import { assertSignedReport } from './lib/index.mjs';
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
      await fs.writeFile(ini, c.ini);
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
    await fs.rm(ini, { force: true });
    await api.close();
  }
});
