// The "/transaction" request's refusals over the real service: each error with its exact text,
// none of them holding the service, and the failures of the component answered with theirs.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { errorReply, exchangeRaw } from './lib/index.mjs';
import { PAYMENT, debitAnswers, runToResult, startTransactionService } from './transaction-support.mjs';

let t;
before(async () => {
  t = await startTransactionService({ simulatorIni: '[config]\nresult=3\n' });
});
after(async () => {
  await t?.stop();
});

// Sent unchecked: most of these requests break the protocol reference on purpose.
function request(members) {
  return exchangeRaw(t.client, { route: '/transaction', session_uuid: t.sessionUuid, ...members });
}

const CANCELLATION = {
  type: 'cancellation', operation: '200', cancellation_nsu: '000001', transaction_date: '2024-01-05',
  transaction_value: '10,00',
};

function without(object, key) {
  const { [key]: _, ...rest } = object;
  return rest;
}

test('a library that cannot be initialised is reported, and tried again next time', async () => {
  assert.deepEqual(await request(PAYMENT), errorReply('Erro ao conectar com servidor TEF'));
  await t.control('[dialog]\ncard_polls=1\n');
  await t.request(PAYMENT);
  assert.equal((await runToResult(t, debitAnswers)).at(-1).status, 'approved');
});

test('each invalid request is refused with its own text', async () => {
  const notFilled = (key) => `O campo "${key}" não foi preenchido.`;
  const cases = [
    [without(PAYMENT, 'type'), 'Campo type nao encontrado.'],
    [{ ...PAYMENT, type: 'Transaction' }, 'O campo type diferente de transaction'],
    [{ ...PAYMENT, type: 'payment' }, 'O campo type diferente de transaction'],
    [without(PAYMENT, 'operation'), 'Campo operation nao encontrado.'],
    [{ ...PAYMENT, operation: 'zero' }, "'zero' is not a valid integer value"],
    [without(PAYMENT, 'payer_name'), 'Campo payer_name nao encontrado.'],
    [{ ...PAYMENT, sale_id: '12a' }, "'12a' is not a valid integer value"],
    [{ ...PAYMENT, transaction_value: '10.50' }, "'10.50' is not a valid floating point value"],
    [{ ...PAYMENT, number_of_installments: 2.5 }, "'2,5' is not a valid integer value"],
    [without(CANCELLATION, 'cancellation_nsu'), 'Campo cancellation_nsu nao encontrado.'],
    [{ ...without(CANCELLATION, 'transaction_date'), cancellation_nsu: '   ' }, notFilled('cancellation_nsu')],
    [without(CANCELLATION, 'transaction_date'), 'Campo transaction_date nao encontrado.'],
    [{ ...CANCELLATION, transaction_date: ' ' }, notFilled('transaction_date')],
    [{ ...CANCELLATION, transaction_date: '2024-01-05 10:3' }, 'O campo "transaction_date" não foi preenchido corretamente.'],
    [{ ...CANCELLATION, transaction_date: '2024-02-30' }, 'O campo "transaction_date" não foi preenchido corretamente.'],
    [{ ...CANCELLATION, transaction_date: '05/01/2024' }, 'O campo "transaction_date" não foi preenchido corretamente.'],
    [{ type: 'reprint' }, 'Campo operation nao encontrado.'],
    // Accepted by the request, refused by the component's amount check.
    [without(PAYMENT, 'transaction_value'), 'Valor inválido'],
  ];
  for (const [members, text] of cases) {
    assert.deepEqual(await request(members), errorReply(text), JSON.stringify(members));
  }
});

test('a reprint reads neither sale, amount nor instalments', async () => {
  await t.requestRaw({ type: 'reprint', operation: '113', sale_id: 'x', transaction_value: 'x', number_of_installments: 'x' });
  const result = (await runToResult(t, debitAnswers)).at(-1);
  assert.equal(result.status, 'approved');
  assert.deepEqual(result.transaction_data.map((e) => [e.sale_id, e.operation]), [[4821, 'reprint']]);
});
