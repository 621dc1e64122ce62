// Knowing what happened to a sale's payment in the browser: the page stores each payment's
// idempotency key with its sale and, after a reload, asks the service the status of that key, so
// that an attempt interrupted by the reload or refused can be paid again (with a new key) and an
// approved one is shown as paid and cannot be charged twice; and a payment whose service was
// killed while its confirmation waited is recovered by the service's next run, shown in the
// page's notice with its sale and amount, and its confirmation answered through the page's
// dialog. The stub sales API's reports and the simulator's ledger count the charges; screenshots
// of the paid sale and of a recovered payment's confirmation are kept under <build>/browser.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { buildDir, writeSimulatorControl } from '../e2e/lib/index.mjs';
import { waitUntil } from '../e2e/lib/processState.mjs';
import { readLedger } from '../e2e/transaction-support.mjs';
import { STEP_MS, startTill } from './till.mjs';

const QUICK = '[dialog]\ncard_polls=1\n';
// The card wait lasts many interruption checks: the page is reloaded in the middle of it.
const CARD_WAIT = '[dialog]\ncard_polls=600\n[delay]\ncontinue_ms=50\n';
// The simulator sleeps in FinalizaTransacaoSiTefInterativo: the payment is approved and kept in
// the service's backup, its confirmation not yet in the library.
const SLOW_CONFIRMATION = '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n';
const TOKEN_SALE = 4821; // the sale of the till's session token (sessionClaims)
const SCREENSHOTS = path.join(buildDir, 'browser');

const byTestId = (id) => `[data-testid="${id}"]`;

// What the payment form says of the token's sale whose last attempt ended without a charge; the
// journal's reason, when it has one, stands before the advice.
const endedText = (amount, how) => new RegExp(`^Tentativa anterior da venda ${TOKEN_SALE} não concluída `
  + `R\\$ ${amount} · ${how} (.+ )?Nada foi cobrado: pode cobrar de novo\\.$`);

describe('knowing what happened to a sale', () => {
  let till;
  let page;

  before(async () => {
    await fs.mkdir(SCREENSHOTS, { recursive: true });
    till = await startTill({ simulatorIni: QUICK });
    page = till.page;
  });

  after(async () => {
    await till?.stop();
  });

  const text = async (id) => (await page.locator(byTestId(id)).innerText()).replace(/\s+/g, ' ').trim();
  const payments = () => till.sent.filter((m) => m.route === '/transaction' && m.type === 'transaction');
  const statusQueries = () => till.sent.filter((m) => m.route === '/transaction/status');
  const ledgerEvents = async (event) => (await readLedger(till.svc.baseDir)).filter((e) => e.event === event);
  const stored = (saleId) => page.evaluate((name) => JSON.parse(localStorage.getItem(name)), `kelvora-tef:sale:${saleId}`);

  async function open() {
    await page.goto(till.address);
    await page.locator(`${byTestId('session-state')}[data-state="active"]`).waitFor();
    await page.locator(`${byTestId('pinpad-state')}[data-state="connected"]`).waitFor();
  }

  async function pay(amount, { saleId = '' } = {}) {
    await page.locator(byTestId('amount-input')).fill(amount);
    await page.locator(byTestId('payer-input')).fill('Maria Souza');
    await page.locator(byTestId('payment-operation-select')).selectOption('2');
    await page.locator(byTestId('sale-id-input')).fill(saleId);
    await page.locator(byTestId('pay-button')).click();
  }

  async function resultStatus() {
    await page.locator(`${byTestId('result-panel')}:not([hidden])`).waitFor();
    return page.locator(byTestId('result-panel')).getAttribute('data-status');
  }

  // Reloads the page and waits until it has shown what the service says of the sale's attempt.
  async function reloadAndAsk(expectedState) {
    const asked = statusQueries().length;
    await page.reload();
    await page.locator(`${byTestId('session-state')}[data-state="active"]`).waitFor();
    await page.locator(`${byTestId('sale-state')}[data-state="${expectedState}"]`).waitFor();
    return statusQueries().slice(asked);
  }

  test('reloaded during the card wait: the attempt shows as interrupted, nothing charged', async () => {
    await open();
    await writeSimulatorControl(till.svc.baseDir, CARD_WAIT);
    await pay('10,00');
    await page.locator(`${byTestId('status-line')}:text-is("Insira ou passe o cartao")`).waitFor();
    const key = payments().at(-1).idempotency_key;

    const asked = await reloadAndAsk('ended');
    assert.ok(asked.some((m) => m.idempotency_key === key), 'the reloaded page asked about the stored key');
    assert.match(await text('sale-state'), endedText('10,00', 'interrompida'));
    assert.equal(await page.locator(byTestId('pay-button')).isVisible(), true, 'the sale may be paid again');
    assert.deepEqual(await readLedger(till.svc.baseDir), [], 'the simulator approved nothing');
    await writeSimulatorControl(till.svc.baseDir, QUICK);
  });

  test('a refused attempt, reloaded: shown as ended, and the next payment goes out with a new key', async () => {
    await pay('10,51');
    await page.locator(`${byTestId('prompt-area')}[data-prompt="confirmation"]`).waitFor();
    assert.equal(await text('prompt-title'), 'Negada pelo autorizador (51)');
    await page.locator(byTestId('prompt-ok')).click();
    assert.equal(await resultStatus(), 'unauthorized');
    assert.equal(await text('result-reason'), 'Negada pelo autorizador (51)');
    const refusedKey = payments().at(-1).idempotency_key;
    assert.match(refusedKey ?? '', /^[A-Za-z0-9_-]{1,64}$/, 'the payment carried a key');
    assert.equal((await stored(TOKEN_SALE)).key, refusedKey, 'the key was stored with the sale');

    const asked = await reloadAndAsk('ended');
    assert.ok(asked.some((m) => m.idempotency_key === refusedKey), 'the reloaded page asked about the stored key');
    assert.match(await text('sale-state'), endedText('10,51', 'recusada'));
    assert.equal(await page.locator(byTestId('pay-button')).isVisible(), true, 'the sale may be paid again');

    await pay('10,00');
    assert.equal(await resultStatus(), 'approved');
    const paidKey = payments().at(-1).idempotency_key;
    assert.notEqual(paidKey, refusedKey, 'a new attempt, a new key');
    assert.equal((await ledgerEvents('REFUSED')).length, 1);
    assert.equal((await ledgerEvents('APPROVED')).length, 1);
    assert.deepEqual(till.pageErrors, []);
  });

  test('reloaded after the approval: the sale shows as paid and cannot be charged again', async () => {
    const paidKey = payments().at(-1).idempotency_key;
    const asked = await reloadAndAsk('paid');
    assert.ok(asked.some((m) => m.idempotency_key === paidKey), 'the reloaded page asked about the approved key');
    await page.screenshot({ path: path.join(SCREENSHOTS, 'sale-paid-after-reload.png'), fullPage: true });
    assert.match(await text('sale-state'),
      new RegExp(`^Venda ${TOKEN_SALE} paga R\\$ 10,00 · Cartão \\d{6}\\*{6}\\d{4} · NSU \\d+ Reimprimir comprovante$`));
    assert.equal(await page.locator(byTestId('pay-button')).isHidden(), true, 'the pay button gave way to "paid"');
    await page.locator(byTestId('sale-reprint')).waitFor();

    // Enter in the amount field submits the form: it must not start a payment either.
    const sentBefore = payments().length;
    await page.locator(byTestId('amount-input')).fill('10,00');
    await page.locator(byTestId('amount-input')).press('Enter');
    await new Promise((resolve) => setTimeout(resolve, 1000));
    assert.equal(payments().length, sentBefore, 'no payment request left the page');
    assert.equal(till.api.requests.filter((r) => r.body?.transaction_data?.[0]?.operation === 'debit').length, 1,
      'the sales API heard of one debit');
    assert.equal((await ledgerEvents('APPROVED')).length, 1, 'the simulator approved one payment');
    assert.equal((await ledgerEvents('CONFIRMED')).length, 1);
    assert.deepEqual(till.pageErrors, []);
  });

  // The page that paid either stays (the library learns the outcome when the service is back) or
  // is reloaded while the service is down (the new page's initialisation brings the leftover).
  for (const [how, saleId, amount, reload] of [
    ['the paying page stays', 5150, '12,34', false],
    ['the page is reloaded while the service is down', 5151, '23,45', true],
  ]) {
    test(`the service killed while the confirmation waits and started again, ${how}: the page shows the recovered payment and answers its confirmation`, async () => {
      const reports = till.api.requests.length;
      const approvals = (await ledgerEvents('APPROVED')).length;
      await writeSimulatorControl(till.svc.baseDir, SLOW_CONFIRMATION);
      await pay(amount, { saleId: String(saleId) });
      await waitUntil(async () => (await ledgerEvents('APPROVED')).some((e) => e.value === amount)
        && (await page.locator(byTestId('receipt')).count()) === 2, 'the approval and both receipts', STEP_MS);
      const [approved] = (await ledgerEvents('APPROVED')).filter((e) => e.value === amount);
      assert.ok(!(await ledgerEvents('CONFIRMED')).some((e) => e.doc === approved.doc), 'not confirmed yet');
      const backups = await fs.readdir(path.join(till.svc.baseDir, 'TEF'));
      assert.equal(backups.filter((name) => name.endsWith('.tef')).length, 1, 'the approval is in the backup');

      await writeSimulatorControl(till.svc.baseDir, QUICK);
      if (reload) {
        await till.killService();
        await page.reload();
        await page.locator(`${byTestId('connection-state')}[data-state="waiting"]`).waitFor();
        await till.startServiceAgain();
      } else {
        await till.restartService();
      }

      await page.locator(`${byTestId('prompt-area')}[data-prompt="confirmation"]`).waitFor();
      assert.match(await text('prompt-title'),
        new RegExp(`^Transação TEF efetuada\\. Favor reimprimir último Cupom\\. NSU: ${approved.nsu}`));
      if (reload) await page.screenshot({ path: path.join(SCREENSHOTS, 'recovered-confirmation.png'), fullPage: true });
      await page.locator(byTestId('prompt-ok')).click();
      const shown = page.locator(`${byTestId('recovered-payment')}[data-sale-id="${saleId}"]`);
      await shown.waitFor();
      assert.match((await shown.innerText()).replace(/\s+/g, ' '),
        new RegExp(`^Venda ${saleId} · R\\$ ${amount} · Débito · NSU \\d+$`));

      await waitUntil(async () => (await ledgerEvents('CONFIRMED')).some((e) => e.doc === approved.doc),
        'the confirmation at the restart', STEP_MS);
      const confirmed = (await ledgerEvents('CONFIRMED')).filter((e) => e.doc === approved.doc && e.date === approved.date);
      assert.deepEqual(confirmed.map((e) => [e.count, e.nsu]), [['1', approved.nsu]], 'confirmed once');
      await waitUntil(() => till.api.requests.length === reports + 1, 'the report of the recovered payment', STEP_MS);
      assert.equal(till.api.requests.at(-1).body.transaction_data[0].sale_id, saleId);
      await page.locator(`${byTestId('pinpad-state')}[data-state="connected"]`).waitFor();
      assert.equal(await page.locator(byTestId('prompt-area')).getAttribute('data-prompt'), 'none', 'the dialog went away');

      // The page's record of the sale knows it was paid: naming the sale shows it so.
      await page.locator(byTestId('sale-id-input')).fill(String(saleId));
      await page.locator(`${byTestId('sale-state')}[data-state="paid"]`).waitFor();
      assert.equal(await page.locator(byTestId('pay-button')).isHidden(), true);
      assert.equal((await ledgerEvents('APPROVED')).length, approvals + 1, 'no other charge');
      assert.deepEqual(till.pageErrors, []);
    });
  }
});
