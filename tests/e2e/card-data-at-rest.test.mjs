// A card typed at the page (number, expiry date, security code) goes to the SiTef library as typed
// and nowhere else in clear: no file the service or the simulator keeps under the base directory
// holds it, while the payment waits for confirmation or after it, and the page and the sales API
// see the number masked. Every file and folder the service makes is closed to other users.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { startTransactionService } from './transaction-support.mjs';

const NUMBER = '5555666677778884';
const MASKED = '555566******8884';
const CODE = '987';
// A December expiry two years ahead: valid for the simulator, and written as "12" + two digits.
const EXPIRY = `12${String(new Date().getFullYear() + 2).slice(2)}`;

let t;
let previousUmask;
before(async () => {
  // The usual umask of a service manager: files would be readable by others unless the service
  // sets their modes itself.
  previousUmask = process.umask(0o022);
  t = await startTransactionService({
    // Confirmation is held back long enough to look at the backup of the approved payment, and
    // the sales API fails, so its report stays on disk to be looked at too.
    simulatorIni: '[dialog]\ntyped_card=1\n[delay]\nfinalize_ms=3000\n',
    respond: () => ({ status: 500, body: { message: 'fora do ar' } }),
  });
});
after(async () => {
  await t?.stop();
  process.umask(previousUmask);
});

// Every file under dir (the certificates and the library aside) with its text and mode.
async function filesUnder(dir) {
  const found = [];
  for (const entry of await fs.readdir(dir, { withFileTypes: true, recursive: true })) {
    const full = path.join(entry.parentPath ?? entry.path, entry.name);
    if (!entry.isFile() || full.includes(`${path.sep}Certificado${path.sep}`) || entry.name.endsWith('.dll')) continue;
    found.push({ file: full, text: await fs.readFile(full, 'latin1'), mode: (await fs.stat(full)).mode & 0o777 });
  }
  return found;
}

// Fails when a file holds the typed number, or the expiry date or security code as an answer
// would show them ("= 1228" in a log line or record, "1228" as a JSON string).
function assertNoCardData(files, when) {
  for (const { file, text } of files) {
    assert.ok(!text.includes(NUMBER), `${when}: ${file} holds the card number`);
    for (const secret of [EXPIRY, CODE]) {
      const shown = new RegExp(`(= ?|")${secret}(?![0-9])`);
      assert.ok(!shown.test(text), `${when}: ${file} holds ${text.match(shown)?.[0]}`);
    }
  }
}

test('a typed card is never kept in clear, and the page gets the number masked', async () => {
  await t.request({ type: 'transaction', operation: '0', payer_name: 'Maria', transaction_value: '10,00' });
  const answers = { 512: NUMBER, 513: EXPIRY, 514: CODE };
  const collects = [];
  let duringConfirmation = null;
  let result;
  for (;;) {
    const msg = await t.next();
    if (msg.type === 'result' || msg.type === 'error') {
      result = msg;
      break;
    }
    if (msg.type === 'menu') await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
    if (msg.type === 'confirmation') await t.answer({ type: 'confirmation' });
    if (msg.type === 'collect') {
      collects.push(msg);
      await t.answer({ type: 'collect', typed: 'true', response: answers[msg.field_type], back_menu: 'false' });
    }
    // Receipts are printed after the backup is written and before the confirmation.
    if (msg.type === 'receipt' && duringConfirmation === null) duringConfirmation = await filesUnder(t.svc.baseDir);
  }

  assert.deepEqual(collects.map((c) => [c.field_type, c.minimum_size, c.maximum_size, c.field_operation]),
    [[512, 13, 19, 'string'], [513, 4, 4, 'string'], [514, 3, 4, 'segurança']]);
  assert.equal(result.status, 'approved', JSON.stringify(result));
  assert.equal(result.transaction_data[0].card_number, MASKED);

  assert.ok(duringConfirmation.some(({ file }) => file.endsWith('.tef')), 'the backup was on disk');
  assert.ok(duringConfirmation.find(({ file }) => file.endsWith('.tef')).text.includes(MASKED));
  assertNoCardData(duringConfirmation, 'before the confirmation');

  const afterwards = await filesUnder(t.svc.baseDir);
  const reports = afterwards.filter(({ file }) => file.includes(`${path.sep}RegistrosAPI${path.sep}`));
  assert.equal(reports.length, 1, 'the report the API refused waits on disk');
  assert.ok(reports[0].text.includes(MASKED));
  assert.equal(t.api.requests[0].body.transaction_data[0].card_number, MASKED);
  const tefLog = afterwards.find(({ file }) => path.basename(file).startsWith('TEF-'));
  assert.ok(tefLog.text.includes(`Buffer = ${MASKED}`), 'the TEF log shows the typed number masked');
  assert.ok(tefLog.text.includes('Buffer = ****\r\n'), 'and the expiry date as asterisks');
  assertNoCardData(afterwards, 'after the payment');
});

test('files and folders the service made are readable by owner and group only', async () => {
  const made = ['Log', 'TEF'].map((name) => path.join(t.svc.baseDir, name));
  for (const top of made) {
    assert.equal((await fs.stat(top)).mode & 0o777, 0o750, top);
    for (const entry of await fs.readdir(top, { withFileTypes: true, recursive: true })) {
      const full = path.join(entry.parentPath ?? entry.path, entry.name);
      assert.equal((await fs.stat(full)).mode & 0o777, entry.isDirectory() ? 0o750 : 0o640, full);
    }
  }
  const files = await filesUnder(path.join(t.svc.baseDir, 'Log'));
  assert.ok(files.length >= 2, 'the service log and the TEF log were written');
});
