// The service's events in a real systemd journal: the service runs as systemd runs it (stderr
// connected to the journal, JOURNAL_STREAM naming it) beside a systemd-journald of its own in a
// private mount namespace, and a real payment's events are read back with journalctl. Without
// JOURNAL_STREAM naming its stderr, nothing reaches the journal. Needs root for the namespace.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import { after, describe, test } from 'node:test';
import {
  connectClient, openSession, serviceBinary, sessionClaims, startProtocolService,
} from './lib/index.mjs';
import { restartService, waitUntil } from './lib/processState.mjs';
import {
  PAYMENT, debitAnswers, payByDebit, runToResult, startDebit, startTransactionService,
} from './transaction-support.mjs';

const launcher = fileURLToPath(new URL('./support/in-journal-namespace.sh', import.meta.url));
const journald = '/lib/systemd/systemd-journald';
const run = promisify(execFile);

async function canRun() {
  if (process.getuid?.() !== 0) return 'needs root for a mount namespace of its own';
  try {
    await fs.access(journald);
    await run('unshare', ['--mount', 'true']);
    await run('journalctl', ['--version']);
  } catch (error) {
    return `needs systemd-journald, journalctl and unshare: ${error.message}`;
  }
  return false;
}
const skip = await canRun();

const directories = [];
after(async () => {
  for (const dir of directories) await fs.rm(dir, { recursive: true, force: true });
});

// A journal folder of its own and the options that run the service beside its journald.
async function journalFor(stream) {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-journal-'));
  directories.push(dir);
  const service = {
    binary: launcher,
    env: { KELVORA_JOURNAL_DIR: dir, KELVORA_JOURNAL_STREAM: stream, KELVORA_JOURNAL_PROGRAM: serviceBinary },
  };
  // The service's entries (those with KELVORA_EVENT), in order.
  const events = async () => {
    const { stdout } = await run('journalctl', ['--directory', dir, '--output', 'json', '--no-pager'],
      { maxBuffer: 64 * 1024 * 1024 });
    return stdout.split('\n').filter(Boolean).map((line) => JSON.parse(line))
      .filter((entry) => entry.KELVORA_EVENT !== undefined);
  };
  return { service, events };
}

// SIGKILL to the service itself, which runs as a child of the launcher: the launcher then ends
// its journald and exits.
async function killServiceOf(launched) {
  const pid = launched.pid;
  const children = (await fs.readFile(`/proc/${pid}/task/${pid}/children`, 'latin1')).split(' ')
    .filter(Boolean);
  for (const child of children) {
    const exe = await fs.readlink(`/proc/${child}/exe`).catch(() => '');
    if (exe === serviceBinary) process.kill(Number(child), 'SIGKILL');
  }
  await launched.exited;
}

const fieldsOf = (entry) => Object.fromEntries(Object.entries(entry)
  .filter(([name]) => name === 'MESSAGE' || name === 'PRIORITY' || name.startsWith('KELVORA_')));

describe('events in the systemd journal', { skip }, () => {
  test('a service under systemd: its life, the library and real payments, with their fields', async () => {
    const journal = await journalFor('own');
    let reply = { status: 201, body: { data: 42 } };
    const t = await startTransactionService({
      simulatorIni: '[dialog]\ncard_polls=1\n', respond: () => reply, service: journal.service,
    });
    let approved;
    try {
      approved = (await payByDebit(t)).at(-1);
      assert.equal(approved.status, 'approved');
      assert.equal((await payByDebit(t, { transaction_value: '12,51' })).at(-1).status, 'unauthorized');
      // The page cancels while the card is awaited.
      await t.control('[dialog]\ncard_polls=300\n');
      await t.request({ ...PAYMENT, transaction_value: '5,00' });
      const canceled = await runToResult(t, (msg) => {
        if (msg.type === 'can_cancel' && msg.can_cancel) t.cancel();
        return debitAnswers(msg);
      });
      assert.equal(canceled.at(-1).status, 'canceled');
      await t.control('[dialog]\ncard_polls=1\n');
      reply = { status: 400, body: { message: 'Venda não encontrada' } };
      assert.equal((await payByDebit(t, { transaction_value: '7,25' })).at(-1).status, 'approved');
      await t.svc.service.pause();
      await t.svc.service.resume();
    } finally {
      await t.stop();
    }

    const names = ['service-started', 'library-loaded', 'payment-approved', 'payment-refused',
      'payment-canceled-by-client', 'payment-approved', 'sale-report-failed', 'service-paused',
      'service-continued', 'service-stopped'];
    let entries = [];
    await waitUntil(async () => {
      entries = await journal.events();
      return entries.length >= names.length;
    }, 'the service\'s events in the journal');
    assert.deepEqual(entries.map((e) => e.KELVORA_EVENT), names);

    const [started, library, payment, refused, canceledEntry, , reportFailed] = entries;
    assert.deepEqual(fieldsOf(started), {
      MESSAGE: 'O serviço foi inciado.', PRIORITY: '6',
      KELVORA_EVENT: 'service-started', KELVORA_EVENT_ID: '100',
    });
    assert.equal(library.KELVORA_EVENT_ID, '200');
    assert.equal(library.KELVORA_SIMULATOR, '1');
    const element = approved.transaction_data[0];
    assert.deepEqual(fieldsOf(payment), {
      MESSAGE: `Pagamento aprovado (debit): NSU ${element.nsu_code}, valor 10,00, venda ${element.sale_id}.`,
      PRIORITY: '6',
      KELVORA_EVENT: 'payment-approved',
      KELVORA_EVENT_ID: '300',
      KELVORA_NSU: element.nsu_code,
      KELVORA_AMOUNT: '10.00',
      KELVORA_SALE_ID: String(element.sale_id),
      KELVORA_OPERATION: 'debit',
    });
    assert.ok(element.nsu_code.length > 0);
    assert.deepEqual(fieldsOf(refused), {
      MESSAGE: `Transação TEF recusada: valor 12,51, venda ${element.sale_id}.`,
      PRIORITY: '4',
      KELVORA_EVENT: 'payment-refused',
      KELVORA_EVENT_ID: '301',
      KELVORA_AMOUNT: '12.51',
      KELVORA_SALE_ID: String(element.sale_id),
      KELVORA_REQUEST: 'transaction',
      KELVORA_STATUS: 'unauthorized',
    });
    assert.deepEqual(fieldsOf(canceledEntry), {
      MESSAGE: `Transação TEF cancelada pelo cliente: valor 5,00, venda ${element.sale_id}.`,
      PRIORITY: '6',
      KELVORA_EVENT: 'payment-canceled-by-client',
      KELVORA_EVENT_ID: '302',
      KELVORA_AMOUNT: '5.00',
      KELVORA_SALE_ID: String(element.sale_id),
      KELVORA_REQUEST: 'transaction',
      KELVORA_STATUS: 'canceled',
    });
    assert.deepEqual(fieldsOf(reportFailed), {
      MESSAGE: 'Erro ao registrar transação na API: Code: 400 - Message: Venda não encontrada',
      PRIORITY: '3',
      KELVORA_EVENT: 'sale-report-failed',
      KELVORA_EVENT_ID: '400',
    });

    // Neither the card nor the customer: no field of any event holds the card number the page
    // was given (whole or its digits) nor the payer's name.
    const cardDigits = element.card_number.replace(/\D/g, '');
    for (const entry of entries) {
      for (const [name, value] of Object.entries(fieldsOf(entry))) {
        assert.ok(!value.includes('Maria'), `${name} of ${entry.KELVORA_EVENT}: ${value}`);
        assert.ok(!value.includes(element.card_number), `${name}: ${value}`);
        assert.ok(cardDigits.length < 6 || !value.replace(/\D/g, '').includes(cardDigits), `${name}: ${value}`);
      }
    }
  });

  test('a payment a killed run left is reported as recovered when the next run confirms it', async () => {
    const journal = await journalFor('own');
    // The simulator holds the confirmation back, so that the run dies between the backup and it.
    const t = await startTransactionService({
      simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n', service: journal.service,
    });
    let next;
    let page;
    try {
      await startDebit(t);
      await waitUntil(async () => (await t.ledger()).some((e) => e.event === 'APPROVED')
        && (await fs.readdir(path.join(t.svc.baseDir, 'TEF'))).some((f) => f.endsWith('.tef')),
      'the approval and its backup');
      await t.control('[dialog]\ncard_polls=1\n');
      await killServiceOf(t.svc.service);

      next = await restartService(t.svc.baseDir, t.svc.port, 5000, journal.service);
      page = await connectClient(t.svc.port);
      const uuid = (await openSession(page, sessionClaims({ callback_url: t.api.url }))).session_uuid;
      await page.send(JSON.stringify({ route: '/initialize', type: 'initialize', session_uuid: uuid }));
      const result = JSON.parse(await page.next(15000));
      assert.equal(result.status, 'approved');
      const [element] = result.transaction_data;

      await page.next(5000);  // the request to reprint the receipt
      await page.send(JSON.stringify({ route: '/transaction', type: 'confirmation' }));
      await page.next(5000);  // the initialisation's answer

      const recovered = await waitUntil(async () => (await journal.events())
        .find((e) => e.KELVORA_EVENT === 'backup-recovered'), 'the recovered payment\'s event');
      assert.deepEqual(fieldsOf(recovered), {
        MESSAGE: 'Pagamento pendente de uma execução anterior confirmado (debit): '
          + `NSU ${element.nsu_code}, valor 10,00, venda ${element.sale_id}.`,
        PRIORITY: '4',
        KELVORA_EVENT: 'backup-recovered',
        KELVORA_EVENT_ID: '500',
        KELVORA_NSU: element.nsu_code,
        KELVORA_AMOUNT: '10.00',
        KELVORA_SALE_ID: String(element.sale_id),
        KELVORA_OPERATION: 'debit',
      });
    } finally {
      await page?.terminate();
      await next?.stop();
      await t.stop();
    }
  });

  for (const stream of ['unset', 'inherited']) {
    test(`a service whose JOURNAL_STREAM is ${stream} writes nothing to the journal`, async () => {
      const journal = await journalFor(stream);
      const svc = await startProtocolService({ service: journal.service });
      await svc.stop();
      assert.deepEqual(await journal.events(), []);
    });
  }
});
