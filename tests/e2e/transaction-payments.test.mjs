// Payments, cancellations and reprints over the real service, the SiTef simulator and a stub
// sales API: every message the page receives, in order and with its members in order, what the
// sales API is sent, and what the simulator's ledger remembers.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import {
  APPROVED, CAN_CANCEL, PAYMENT_MENU, assertMessage, debitAnswers, failure, message, payByDebit,
  pendingIn, runToResult, serviceWithStopAfterEach,
  localToday as today,
} from './transaction-support.mjs';

const serviceWith = serviceWithStopAfterEach();

// The members of an approved element of a payment, in order, before the sales API's two.
const PAYMENT_KEYS = [
  'sale_id', 'operation', 'operator', 'payer_name', 'institution', 'payment_method_code',
  'payment_method_description', 'hash', 'nsu_code', 'authorization_code', 'establishment_code',
  'number_of_installments', 'transaction_value', 'transaction_date_time', 'gateway', 'receipt',
  'payment_id', 'company_id',
];
const CARD_KEYS = [...PAYMENT_KEYS.slice(0, 2), 'card_number', ...PAYMENT_KEYS.slice(2)];

// The result's element must carry the receipts the page was sent while they were printed.
function receiptsOf(seen) {
  return seen.filter((m) => m.type === 'receipt').map(({ copy_number, data }) => ({ copy_number, data }));
}


describe('payments', () => {
  test('an approved debit: prompts, receipts, the sales API call and the result', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=3\n' });
    const before = Date.now();
    const seen = await payByDebit(t);

    const expected = [
      PAYMENT_MENU,
      message('Aguardando o cartao do cliente'),
      message('Insira ou passe o cartao'),
      CAN_CANCEL,
      // Approved: the page may no longer cancel, and is told so before anything of the payment.
      { type: 'can_cancel', can_cancel: false },
    ];
    assert.equal(seen.length, expected.length + 3, JSON.stringify(seen));
    expected.forEach((m, i) => assertMessage(seen[i], m, `message ${i}`));
    const receipts = seen.slice(5, 7);
    assert.deepEqual(receipts.map((r) => [r.type, r.copy_number]), [['receipt', 1], ['receipt', 2]]);
    for (const r of receipts) {
      assert.deepEqual(Object.keys(r), ['type', 'copy_number', 'data']);
      assert.equal(r.data[0].trim(), 'SIMULAÇÃO - SEM VALOR');
    }

    const result = seen.at(-1);
    assert.deepEqual(Object.keys(result), ['type', 'status', 'message', 'transaction_data']);
    assertMessage({ ...result, transaction_data: undefined }, APPROVED);
    assert.equal(result.transaction_data.length, 1);
    const element = result.transaction_data[0];
    assert.deepEqual(Object.keys(element), CARD_KEYS);
    assert.equal(element.sale_id, 4821);
    assert.equal(element.operation, 'debit');
    assert.match(element.card_number, /^\d{6}\*{6}\d{4}$/);
    assert.equal(element.operator, 'REDE');
    assert.equal(element.payer_name, 'Maria');
    assert.equal(element.payment_method_code, '0100');
    assert.equal(element.payment_method_description, 'Cartão de Débito');
    assert.equal(element.establishment_code, '000000000000001');
    assert.notEqual(element.authorization_code, element.establishment_code);
    assert.equal(element.number_of_installments, 0);
    assert.equal(element.transaction_value, 10);
    assert.match(element.transaction_date_time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    const at = Date.parse(element.transaction_date_time);
    assert.ok(at >= before - 2000 && at <= Date.now() + 1000, element.transaction_date_time);
    assert.equal(element.gateway, 'Software Express');
    assertMessage(element.receipt, receiptsOf(seen));
    assert.equal(element.payment_id, 1000);
    assert.equal(element.company_id, 7);

    assert.equal(t.api.requests.length, 1);
    const [call] = t.api.requests;
    assert.equal(call.method, 'POST');
    assert.match(call.path, /^\/v1\/sales\/tef\/callback\/[\w-]+\.[\w-]+\.[\w-]+$/);
    assert.match(call.headers['content-type'], /^application\/json/);
    const { payment_id, company_id, ...posted } = element;
    assertMessage(call.body, { ...result, transaction_data: [posted] });

    const ledger = await t.ledger();
    assert.deepEqual(ledger.map((e) => [e.event, e.value ?? e.count]), [['APPROVED', '10,00'], ['CONFIRMED', '1']]);
    assert.deepEqual(pendingIn(ledger), []);
  });

  test('a credit in three instalments asks for their number', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    await t.request({ type: 'transaction', operation: 0, payer_name: 'João', transaction_value: '30,00', sale_id: 77 });
    const collect = {
      type: 'collect', title: 'Forneca o numero de parcelas', minimum_size: 1, maximum_size: 2,
      field_type: 505, field_operation: 'string', can_cancel: false, back_menu: false, typed: true,
    };
    const seen = await runToResult(t, (msg) => {
      if (msg.type === 'menu' && msg.options[0] === '1:Debito') return { type: 'menu', response: '2:CREDITO', back_menu: 'false' };
      if (msg.type === 'menu') return { type: 'menu', response: '2:Parcelado pelo Estabelecimento', back_menu: 'false' };
      if (msg.type === 'collect') return { type: 'collect', typed: 'true', response: '3', back_menu: 'false' };
      return null;
    });
    assertMessage(seen[1], {
      type: 'menu', title: 'Selecione a forma de financiamento',
      options: ['1:A Vista', '2:Parcelado pelo Estabelecimento', '3:Parcelado pela Administradora'],
      can_cancel: false, back_menu: false,
    });
    assertMessage(seen[2], collect);
    const element = seen.at(-1).transaction_data[0];
    assert.equal(seen.at(-1).status, 'approved');
    assert.deepEqual(Object.keys(element), CARD_KEYS);
    assert.equal(element.sale_id, 77);
    assert.equal(element.operation, 'credit');
    assert.equal(element.payer_name, 'João');
    assert.equal(element.payment_method_code, '0202');
    assert.equal(element.number_of_installments, 3);
    assert.equal(element.transaction_value, 30);
    const [approved] = await t.ledger();
    assert.equal(approved.instalments, '3');
  });

  test('a Pix payment shows the simulator\'s code', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\npix_polls=2\n' });
    await t.request({ type: 'transaction', operation: '0', payer_name: 'Ana', transaction_value: '15,25' });
    const seen = await runToResult(t, (msg) => (msg.type === 'menu' ? { type: 'menu', response: '3:Pix', back_menu: 'false' } : null));
    const qrcode = seen[1];
    assert.deepEqual(Object.keys(qrcode), ['type', 'data']);
    assert.equal(qrcode.type, 'qrcode');
    assert.match(qrcode.data, /^000201.*KELVORASIM\d+.*6304[0-9A-F]{4}$/);
    assertMessage(seen[2], CAN_CANCEL);
    const element = seen.at(-1).transaction_data[0];
    assert.deepEqual(Object.keys(element), PAYMENT_KEYS);
    assert.equal(element.operation, 'pix');
    assert.equal(element.operator, 'PIX');
    assert.equal(element.transaction_value, 15.25);
  });

  test('a refused payment ends "unauthorized" and reaches no sales API', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const seen = await payByDebit(t, { transaction_value: '12,51' });
    const expected = [
      PAYMENT_MENU,
      message('Aguardando o cartao do cliente'),
      message('Insira ou passe o cartao'),
      CAN_CANCEL,
      { type: 'can_cancel', can_cancel: false },
      message('Transacao negada pelo autorizador (51)'),
      message('Transacao negada pelo autorizador (51)'),
      { type: 'confirmation', message: 'Negada pelo autorizador (51)', options: [], can_cancel: false },
      failure('unauthorized'),
    ];
    assertMessage(seen, expected);
    assert.equal(t.api.requests.length, 0);
    const ledger = await t.ledger();
    assert.deepEqual(ledger.map((e) => [e.event, e.code]), [['REFUSED', '51']]);
  });
});

describe('cancellations and reprints', () => {
  test('a cancellation is answered from the request and reported as such', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const paid = (await payByDebit(t)).at(-1).transaction_data[0];
    const nsu = (await t.ledger())[0].nsu;

    await t.request({
      type: 'cancellation', operation: '200', cancellation_nsu: nsu, transaction_date: today(),
      transaction_value: '10,00', sale_id: '4822',
    });
    const seen = await runToResult(t, debitAnswers);
    assert.deepEqual(seen.map((m) => m.type), ['receipt', 'receipt', 'result'], 'no prompt: the request answered them');
    const element = seen.at(-1).transaction_data[0];
    assert.equal(seen.at(-1).status, 'approved');
    assert.deepEqual(Object.keys(element), PAYMENT_KEYS);
    assert.equal(element.sale_id, 4822);
    assert.equal(element.operation, 'cancellation');
    // Never the payer of the payment made before it: another customer's name in a result is a leak.
    assert.equal(paid.payer_name, 'Maria');
    assert.equal(element.payer_name, '');
    assert.equal(element.transaction_value, 10);
    assertMessage(element.receipt, receiptsOf(seen));

    const ledger = await t.ledger();
    const cancellation = ledger.find((e) => e.event === 'APPROVED' && e.function === '200');
    const [y, m, d] = today().split('-');
    assert.equal(cancellation.orig_nsu, nsu);
    assert.equal(cancellation.orig_date, `${d}${m}${y}`);
    assert.equal(cancellation.value, '10,00');
    assert.deepEqual(pendingIn(ledger), []);
    assert.equal(t.api.requests.length, 2);
    assert.equal(t.api.requests[1].body.transaction_data[0].operation, 'cancellation');
  });

  test('a reprint of the default function 112 is reported as a reprint', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    await payByDebit(t);
    await t.requestRaw({ type: 'reprint', operation: '112', sale_id: 'not read' });
    const seen = await runToResult(t, debitAnswers);
    assert.deepEqual(seen.map((m) => m.type), ['receipt', 'receipt', 'result']);
    assert.ok(seen[0].data.some((line) => line.includes('REIMPRESSÃO')));
    const result = seen.at(-1);
    assert.equal(result.status, 'approved');
    assertMessage(result.transaction_data, [{
      sale_id: 4821, operation: 'reprint', receipt: receiptsOf(seen), payment_id: 1001, company_id: 7,
    }]);
    assert.equal((await t.ledger()).length, 2, 'a reprint leaves nothing in the ledger');
  });
});
