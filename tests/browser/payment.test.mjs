// The browser test: chromium takes an approved debit and an approved PIX payment through the
// point-of-sale page against the real service, the SiTef simulator and the stub sales API, and
// checks what the page shows at each step against what the service sent, what the sales API
// received and what the simulator's ledger remembers; full-page screenshots of both finished
// payments are kept under <build>/browser.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { buildDir } from '../e2e/lib/index.mjs';
import { readLedger } from '../e2e/transaction-support.mjs';
import { STEP_MS, startTill } from './till.mjs';

const SCREENSHOTS = path.join(buildDir, 'browser');

// The card and Pix waits last a few interruption checks, paced so that each prompt stays on the
// page long enough to be seen and photographed under a loaded machine.
const PACING = '[dialog]\ncard_polls=5\npix_polls=10\n[delay]\ncontinue_ms=100\n';

const byTestId = (id) => `[data-testid="${id}"]`;

// CRC-16/CCITT-FALSE, the checksum that closes every PIX "copia e cola" code (field 63).
function crc16(text) {
  let crc = 0xffff;
  for (const byte of Buffer.from(text, 'utf8')) {
    crc ^= byte << 8;
    for (let bit = 0; bit < 8; bit++) crc = crc & 0x8000 ? ((crc << 1) ^ 0x1021) & 0xffff : (crc << 1) & 0xffff;
  }
  return crc.toString(16).toUpperCase().padStart(4, '0');
}

// Polls until fn resolves to something truthy, within one step's time.
async function eventually(fn, what) {
  const deadline = Date.now() + STEP_MS;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out: ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

describe('payments in the browser', () => {
  let till;
  let page;

  before(async () => {
    await fs.mkdir(SCREENSHOTS, { recursive: true });
    till = await startTill({ simulatorIni: PACING });
    page = till.page;
  });

  after(async () => {
    await till?.stop();
  });

  // The visible text of an element, blanks (the currency's no-break space too) made plain.
  const text = async (id) => (await page.locator(byTestId(id)).innerText()).replace(/\s+/g, ' ').trim();

  // Waits for the result panel of a finished operation and returns its status and shown fields.
  async function shownResult() {
    await page.locator(`${byTestId('result-panel')}:not([hidden])`).waitFor();
    const fields = {};
    for (const id of ['result-title', 'result-message', 'result-operation', 'result-payer-name', 'result-nsu',
      'result-value', 'result-payment-id']) {
      fields[id] = await text(id);
    }
    return {
      status: await page.locator(byTestId('result-panel')).getAttribute('data-status'),
      warning: await page.locator(byTestId('result-warning')).count(),
      ...fields,
    };
  }

  // The receipts on the page: [copy number, text] each.
  async function shownReceipts() {
    return page.locator(byTestId('receipt')).evaluateAll((nodes) => nodes.map((node) => [
      node.dataset.copy, node.querySelector('pre').textContent,
    ]));
  }

  // The simulator approved one payment of that value, and the service confirmed it.
  async function assertConfirmed(value) {
    let ledger = [];
    await eventually(async () => {
      ledger = await readLedger(till.svc.baseDir);
      const approved = ledger.filter((e) => e.event === 'APPROVED' && e.value === value);
      return approved.length === 1
        && ledger.some((e) => e.event === 'CONFIRMED' && e.nsu?.split(',').includes(approved[0].nsu));
    }, `the confirmation of the payment of ${value}`).catch((error) => {
      throw new Error(`${error.message}; ledger: ${JSON.stringify(ledger)}`);
    });
  }

  test('the page opens a session and shows the service, the pin-pad and the simulation', async () => {
    await page.goto(till.address);
    await page.locator(`${byTestId('connection-state')}[data-state="connected"]`).waitFor();
    await page.locator(`${byTestId('session-state')}[data-state="active"]`).waitFor();
    await page.locator(`${byTestId('pinpad-state')}[data-state="connected"]`).waitFor();
    await page.locator(byTestId('simulation-banner')).waitFor({ state: 'visible' });

    assert.match(await text('session-state'), /^Sessão ativa/);
    assert.equal(await text('pinpad-state'), 'Pin-pad conectado');
    assert.equal(await text('version-clisitef'), '6.2.0.1-sim');
    assert.match(await text('version-service'), /^\d+\.\d+\.\d+\.\d+$/);
    assert.match(await page.title(), /^\[SIMULAÇÃO\] /);
    assert.equal(await page.locator(byTestId('pay-button')).isEnabled(), true);
    assert.deepEqual(till.pageErrors, []);
  });

  test('an approved debit: the card prompt, both receipts, the result and the sales API call', async () => {
    await page.locator(byTestId('amount-input')).fill('10,50');
    await page.locator(byTestId('payer-input')).fill('Maria Souza');
    await page.locator(byTestId('payment-operation-select')).selectOption('2');
    assert.equal(await text('pay-button'), 'Pagar R$ 10,50');

    // Watched at every frame from before the click, so that the prompt is seen while it is shown.
    const [cardPrompt] = await Promise.all([
      page.waitForFunction(({ status, panel }) => {
        const line = document.querySelector(status);
        return line?.textContent === 'Insira ou passe o cartao' && {
          panel: document.querySelector(panel).dataset.state,
          formLocked: document.querySelector('#payment-form fieldset').disabled,
        };
      }, { status: byTestId('status-line'), panel: byTestId('operation-panel') }, { polling: 'raf' }),
      page.locator(byTestId('pay-button')).click(),
    ]);
    assert.deepEqual(await cardPrompt.jsonValue(), { panel: 'running', formLocked: true },
      'a running payment locks the forms');

    const result = await shownResult();
    await page.screenshot({ path: path.join(SCREENSHOTS, 'debit-approved.png'), fullPage: true });
    const { 'result-nsu': nsu, ...shown } = result;
    assert.deepEqual(shown, {
      status: 'approved', warning: 0,
      'result-title': 'Pagamento aprovado',
      'result-message': 'Transação TEF concluída com sucesso.',
      'result-operation': 'Débito',
      'result-payer-name': 'Maria Souza',
      'result-value': 'R$ 10,50',
      'result-payment-id': '1000',
    });
    assert.match(nsu, /^\d+$/);

    const receipts = await shownReceipts();
    assert.deepEqual(receipts.map(([copy]) => copy), ['1', '2']);
    for (const [, lines] of receipts) assert.equal(lines.split('\n')[0].trim(), 'SIMULAÇÃO - SEM VALOR');
    assert.match(receipts[1][1], new RegExp(`NSU HOST ${nsu}\n`), 'the merchant copy names the NSU shown');

    assert.equal(till.api.requests.length, 1, 'the sales API was called once');
    const [posted] = till.api.requests[0].body.transaction_data;
    assert.equal(posted.operation, 'debit');
    assert.equal(posted.nsu_code, nsu);
    assert.equal(posted.transaction_value, 10.5);
    assert.equal(posted.payer_name, 'Maria Souza');
    await assertConfirmed('10,50');

    assert.equal(await page.locator(byTestId('amount-input')).inputValue(), '', 'an approved payment clears the form');
    assert.equal(await text('status-line'), '');
    assert.deepEqual(till.pageErrors, []);
  });

  test('an approved PIX payment chosen at the terminal\'s menu shows the QR code it was sent', async () => {
    await page.locator(byTestId('amount-input')).fill('7,89');
    await page.locator(byTestId('payer-input')).fill('Ana Lima');
    await page.locator(byTestId('payment-operation-select')).selectOption('0');
    await page.locator(byTestId('pay-button')).click();

    await page.locator(`${byTestId('prompt-area')}[data-prompt="menu"]`).waitFor();
    assert.equal(await text('prompt-title'), 'Selecione a forma de pagamento');
    const options = await page.locator(byTestId('prompt-option')).evaluateAll((nodes) => nodes.map((n) => n.dataset.option));
    assert.deepEqual(options, ['1:Debito', '2:Credito', '3:Pix']);

    // The QR code counts as shown once its image has been drawn, not merely inserted.
    const [qrShown] = await Promise.all([
      page.waitForFunction(({ image, code }) => {
        const img = document.querySelector(image);
        const area = document.querySelector(code);
        return img?.complete && img.naturalWidth > 0 && area
          && { src: img.src.slice(0, 15), width: img.naturalWidth, text: area.value };
      }, { image: byTestId('qr-image'), code: byTestId('qr-text') }, { polling: 'raf' }),
      page.locator(`${byTestId('prompt-option')}[data-option="3:Pix"]`).click(),
    ]);
    const qr = await qrShown.jsonValue();
    await page.screenshot({ path: path.join(SCREENSHOTS, 'pix-qrcode.png'), fullPage: true });

    const sent = till.received.filter((m) => m.type === 'qrcode');
    assert.equal(sent.length, 1, JSON.stringify(sent));
    assert.equal(qr.text, sent[0].data, 'the copia-e-cola text is the one the service sent');
    assert.match(qr.text, /^000201.*6304[0-9A-F]{4}$/);
    assert.equal(qr.text.slice(-4), crc16(qr.text.slice(0, -4)), 'the code arrived whole');
    assert.equal(qr.src, 'data:image/gif;');
    assert.ok(qr.width >= 21 * 8, `a QR image of ${qr.width} px`);

    const result = await shownResult();
    await page.screenshot({ path: path.join(SCREENSHOTS, 'pix-approved.png'), fullPage: true });
    assert.equal(result.status, 'approved');
    assert.equal(result.warning, 0);
    assert.equal(result['result-title'], 'Pagamento aprovado');
    assert.equal(result['result-operation'], 'PIX');
    assert.equal(result['result-payer-name'], 'Ana Lima');
    assert.equal(result['result-value'], 'R$ 7,89');
    assert.equal(result['result-payment-id'], '1001');
    assert.equal(await page.locator(byTestId('qr-area')).isHidden(), true, 'the finished payment takes the QR code away');
    const receipts = await shownReceipts();
    assert.deepEqual(receipts.map(([copy]) => copy), ['1', '2'], 'only this payment\'s receipts');
    assert.match(receipts[1][1], new RegExp(`NSU HOST ${result['result-nsu']}\n`));

    assert.equal(till.api.requests.length, 2);
    const [posted] = till.api.requests[1].body.transaction_data;
    assert.equal(posted.operation, 'pix');
    assert.equal(posted.nsu_code, result['result-nsu']);
    assert.equal(posted.transaction_value, 7.89);
    await assertConfirmed('7,89');
    assert.deepEqual(till.pageErrors, []);
  });
});
