// The page's wish to cancel over the real service and the SiTef simulator: honoured at the
// library's interruption checks while it is allowed, refused before, confirmed when a prompt is
// left, and too late once the library has confirmed the payment.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  APPROVED, CANCEL_QUESTION, PAYMENT, PAYMENT_MENU, assertMessage, debitAnswers, failure, message,
  pendingIn, runToResult, serviceWithStopAfterEach,
} from './transaction-support.mjs';

const serviceWith = serviceWithStopAfterEach();

// The wait for the card is over: the page hears that it may no longer cancel.
const CANCEL_ENDED = { type: 'can_cancel', can_cancel: false };
const CANCELLED_BY_OPERATOR = {
  type: 'confirmation', message: 'Operação cancelada pelo operador', options: [], can_cancel: false,
};

// Reads until a message of the given type, returning it.
async function until(t, type, on) {
  for (;;) {
    const msg = await t.next(on);
    if (msg.type === type) return msg;
  }
}

test('the page cancels while the card is awaited: "canceled", nothing pending', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=300\n' });
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  await until(t, 'can_cancel');
  await t.cancel();
  const seen = await runToResult(t, debitAnswers);
  assertMessage(seen, [CANCEL_ENDED, message(''), CANCELLED_BY_OPERATOR, failure('canceled')]);
  const ledger = await t.ledger();
  assert.deepEqual(ledger, [], 'the simulator never approved it');
  assert.equal(t.api.requests.length, 0);
});

test('a cancellation before cancelling is allowed changes nothing', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  // The payment's own session, sending from another connection (a second tab of the same page).
  const other = await t.connect();
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.cancel(other);
  assert.ok(await other.silentFor(300), 'a cancellation gets no reply');
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  const seen = await runToResult(t, debitAnswers);
  assert.equal(seen.at(-1).status, 'approved');
  const log = await t.logTexts();
  const at = log.indexOf('Entrou no cancelamento.');
  assert.deepEqual(log.slice(at, at + 2), ['Entrou no cancelamento.', 'Não pode cancelar']);
});

test('leaving the menu asks for confirmation: "Não" goes on, "Sim" cancels', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.answer({ type: 'menu', response: '', back_menu: 'false' });
  assertMessage(await t.next(), CANCEL_QUESTION);
  await t.answer({ type: 'question', response: 'Não' });
  assertMessage(await t.next(), PAYMENT_MENU, 'the same menu again');
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  const paid = await runToResult(t, debitAnswers);
  assertMessage({ ...paid.at(-1), transaction_data: undefined }, APPROVED);

  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.answer({ type: 'menu', response: '', back_menu: 'false' });
  assertMessage(await t.next(), CANCEL_QUESTION);
  await t.answer({ type: 'question', response: 'Sim' });
  const seen = await runToResult(t, debitAnswers);
  assertMessage(seen, [message(''), CANCELLED_BY_OPERATOR, failure('canceled')]);
  assert.deepEqual(pendingIn(await t.ledger()), []);
  assert.equal(t.api.requests.length, 1);
});

test('going back from the menu and answering "Não" shows it again through the library', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.answer({ type: 'menu', response: '', back_menu: 'true' });
  assertMessage(await t.next(), CANCEL_QUESTION);
  await t.answer({ type: 'question', response: 'Não' });
  const seen = await runToResult(t, debitAnswers);
  assertMessage(seen.slice(0, 2), [message(''), PAYMENT_MENU]);
  assert.equal(seen.at(-1).status, 'approved');
});

test('a cancellation after the approval cannot undo the confirmed payment', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=1500\n' });
  // The payment's own session, sending from another connection (a second tab of the same page).
  const other = await t.connect();
  await t.request(PAYMENT);
  assertMessage(await t.next(), PAYMENT_MENU);
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  await until(t, 'can_cancel');
  await until(t, 'receipt');
  await until(t, 'receipt');
  // The library is confirming the payment now.
  await t.cancel(other);
  const result = await t.next();
  assertMessage({ ...result, transaction_data: undefined }, APPROVED);
  assert.equal(result.transaction_data[0].payment_id, 1000);
  assert.ok(await t.client.silentFor(500), 'no second result');

  const ledger = await t.ledger();
  assert.deepEqual(ledger.map((e) => e.event), ['APPROVED', 'CONFIRMED']);
  assert.equal(t.api.requests.length, 1);
  // Approved: the permission to cancel ended there (and the page was told), so the late
  // cancellation is refused at once rather than left for the confirmation to ignore.
  const log = await t.logTexts();
  assert.ok(log.includes('Não pode cancelar'), log.join('\n'));
  assert.ok(!log.includes('Setou no cancelamento = true'), log.join('\n'));
});
