// Values the request answers for the page (the instalments, a cancellation's NSU and date) that
// the SiTef library refuses: the library asks again, and the same answer would be refused for
// ever with the till held. The dialogue must end, with nothing charged, and the till stay usable.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';
import {
  localToday as today, payByDebit, runToResult, serviceWithStopAfterEach,
} from './transaction-support.mjs';

const serviceWith = serviceWithStopAfterEach();

// Answers menus by picking the credit card; everything else as the debit answers do.
function creditAnswers(msg) {
  if (msg.type === 'menu') {
    const credit = msg.options.find((option) => /Credito/.test(option)) ?? msg.options[0];
    return { type: 'menu', response: credit, back_menu: 'false' };
  }
  if (msg.type === 'confirmation') return { type: 'confirmation' };
  if (msg.type === 'question') return { type: 'question', response: 'Não' };
  return null;
}

// The TEF log's lines, from every month folder under <base>/Log.
async function tefLog(baseDir) {
  const root = path.join(baseDir, 'Log');
  let text = '';
  for (const folder of await fs.readdir(root)) {
    for (const file of await fs.readdir(path.join(root, folder)).catch(() => [])) {
      if (file.startsWith('TEF-')) text += await fs.readFile(path.join(root, folder, file), 'latin1');
    }
  }
  return text;
}

const cases = [
  ['instalments the library refuses', {
    type: 'transaction', operation: '3', payer_name: 'Maria', transaction_value: '100,00', number_of_installments: '13',
  }],
  ['an NSU the library refuses', {
    type: 'cancellation', operation: '200', cancellation_nsu: 'abc', transaction_date: today(), transaction_value: '10,00',
  }],
  ['a date the library refuses', {
    type: 'cancellation', operation: '200', cancellation_nsu: '000001', transaction_date: '2999-01-01', transaction_value: '10,00',
  }],
];

for (const [name, request] of cases) {
  test(`${name}: the dialogue ends, nothing is charged, the till takes the next payment`, async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    await t.request(request);
    const seen = await runToResult(t, creditAnswers);
    assert.notEqual(seen.at(-1).status, 'approved', JSON.stringify(seen));
    assert.deepEqual((await t.ledger()).filter((e) => e.event === 'APPROVED'), []);
    assert.match(await tefLog(t.svc.baseDir), /pedido de novo ap.s a resposta da requisi..o ser recusada/);
    assert.equal((await payByDebit(t)).at(-1).status, 'approved');
  });
}
