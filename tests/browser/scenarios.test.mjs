// Scenario dialogues through the reference page in chromium: a menu left with "Voltar" and then
// answered, and the library's "Transacao ja efetuada", each played by the simulator from a
// scenario file and answered by clicking as the operator would.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { writeSimulatorControl } from '../e2e/lib/index.mjs';
import { readLedger } from '../e2e/transaction-support.mjs';
import { scenarioIni } from '../e2e/scenario-support.mjs';
import { startTill } from './till.mjs';

const byTestId = (id) => `[data-testid="${id}"]`;

describe('scenarios in the browser', () => {
  let till;
  let page;

  before(async () => {
    till = await startTill({ simulatorIni: '' });
    page = till.page;
    await page.goto(till.address);
    await page.locator(`${byTestId('session-state')}[data-state="active"]`).waitFor();
  });

  after(async () => {
    await till?.stop();
  });

  const text = async (id) => (await page.locator(byTestId(id)).innerText()).replace(/\s+/g, ' ').trim();

  // Waits for a prompt of that kind and returns its title as shown.
  async function prompt(kind) {
    await page.locator(`${byTestId('prompt-area')}[data-prompt="${kind}"]`).waitFor();
    return text('prompt-title');
  }

  async function pay(scenario) {
    await writeSimulatorControl(till.svc.baseDir, scenarioIni(scenario));
    await page.locator(byTestId('amount-input')).fill('10,00');
    await page.locator(byTestId('payer-input')).fill('Maria Souza');
    await page.locator(byTestId('payment-operation-select')).selectOption('0');
    await page.locator(byTestId('pay-button')).click();
  }

  async function resultStatus() {
    await page.locator(`${byTestId('result-panel')}:not([hidden])`).waitFor();
    return page.locator(byTestId('result-panel')).getAttribute('data-status');
  }

  test('a menu left with "Voltar", the cancellation declined, then answered: approved', async () => {
    await pay('menu-back.scenario');
    assert.equal(await prompt('menu'), 'Selecione a forma de pagamento');
    await page.locator(byTestId('prompt-back')).click();
    assert.equal(await prompt('question'), 'Deseja realmente cancelar esta operação?');
    await page.locator(`${byTestId('prompt-option')}[data-option="Não"]`).click();
    assert.equal(await prompt('menu'), 'Selecione a forma de pagamento');
    await page.locator(`${byTestId('prompt-option')}[data-option="1:Debito"]`).click();

    assert.equal(await resultStatus(), 'approved');
    const ledger = await readLedger(till.svc.baseDir);
    assert.deepEqual(ledger.map((e) => e.event), ['APPROVED', 'CONFIRMED'], 'the library got the answers it expected');
    assert.deepEqual(till.pageErrors, []);
  });

  test('"Transacao ja efetuada" asks the operator to settle the payment by hand, then fails', async () => {
    await pay('already-done.scenario');
    assert.equal(await prompt('confirmation'),
      'Transação já efetuada no sitef Imprima o ultimo comprovante de pagamento e informe o pagamento manual.');
    await page.locator(byTestId('prompt-ok')).click();
    assert.equal(await prompt('confirmation'), 'Operação cancelada pelo operador');
    await page.locator(byTestId('prompt-ok')).click();

    assert.equal(await resultStatus(), 'unauthorized');
    const ledger = await readLedger(till.svc.baseDir);
    assert.deepEqual(ledger.filter((e) => e.event === 'MISMATCH'), []);
    assert.deepEqual(till.pageErrors, []);
  });
});
