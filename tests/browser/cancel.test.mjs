// The cashier cancels a payment while the pin-pad waits for the card (the simulator holds the wait
// for many interruption checks), with the page's cancel button and with Escape: one cancellation
// goes to the service, the page shows the library's notice and the cancelled result and takes the
// next payment, and nothing reaches the simulator's ledger or the sales API.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { readLedger } from '../e2e/transaction-support.mjs';
import { startTill } from './till.mjs';

// Long enough that the card is never "read" before the cancellation lands.
const CARD_WAIT = '[dialog]\ncard_polls=600\n[delay]\ncontinue_ms=50\n';

const byTestId = (id) => `[data-testid="${id}"]`;

describe('cancelling during the card wait', () => {
  let till;
  let page;

  before(async () => {
    till = await startTill({ simulatorIni: CARD_WAIT });
    page = till.page;
    await page.goto(till.address);
    await page.locator(`${byTestId('session-state')}[data-state="active"]`).waitFor();
  });

  after(async () => {
    await till?.stop();
  });

  const text = async (id) => (await page.locator(byTestId(id)).innerText()).replace(/\s+/g, ' ').trim();
  const cancellations = () => till.sent.filter((m) => m.route === '/transaction/cancel').length;

  for (const [how, cancel] of [
    ['the cancel button', () => page.locator(byTestId('cancel-button')).click()],
    ['Escape', () => page.keyboard.press('Escape')],
  ]) {
    test(`with ${how}: one cancellation, the notice, "Pagamento cancelado", nothing charged`, async () => {
      const before = cancellations();
      await page.locator(byTestId('amount-input')).fill('10,00');
      await page.locator(byTestId('payer-input')).fill('Maria Souza');
      await page.locator(byTestId('payment-operation-select')).selectOption('2');
      await page.locator(byTestId('pay-button')).click();

      await page.locator(`${byTestId('status-line')}:text-is("Insira ou passe o cartao")`).waitFor();
      await page.locator(`${byTestId('cancel-button')}:enabled`).waitFor();
      await cancel();

      await page.locator(`${byTestId('prompt-area')}[data-prompt="confirmation"]`).waitFor();
      assert.equal(await text('prompt-title'), 'Operação cancelada pelo operador');
      assert.equal(await page.locator(byTestId('cancel-button')).isDisabled(), true,
        'the service said cancelling is over');
      await page.locator(byTestId('prompt-ok')).click();

      await page.locator(`${byTestId('result-panel')}:not([hidden])`).waitFor();
      assert.equal(await page.locator(byTestId('result-panel')).getAttribute('data-status'), 'canceled');
      assert.equal(await text('result-title'), 'Pagamento cancelado');
      assert.equal(cancellations() - before, 1, 'one cancellation sent');
      assert.equal(await page.locator(byTestId('cancel-button')).isDisabled(), true);
      assert.equal(await page.locator(byTestId('pay-button')).isEnabled(), true, 'the forms take the next payment');

      assert.deepEqual(await readLedger(till.svc.baseDir), [], 'the simulator never approved it');
      assert.equal(till.api.requests.length, 0);
      assert.deepEqual(till.pageErrors, []);
    });
  }
});
