// The service killed with SIGKILL at each dangerous point of an approved debit, started again and
// initialised by a new page: the simulator's ledger must show the payment settled exactly once (or
// never approved), no backup file may be left behind, the new page is told what the service
// tells it about a payment it confirmed at start-up, and the sales API hears of every confirmed
// payment, even one whose report was cut off by the crash.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import { assertSignedReport, connectClient, openSession, sessionClaims } from './lib/index.mjs';
import { killHard, restartService, waitUntil } from './lib/processState.mjs';
import { assertMessage, pendingIn, startDebit, startTransactionService } from './transaction-support.mjs';

const INITIALIZED = { type: 'initialize', message: 'Inicializado com sucesso.' };

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

async function serviceWith(options) {
  const t = await startTransactionService(options);
  cleanups.push(() => t.stop());
  return t;
}

// The backup files of approved, unconfirmed payments in <base>/TEF.
async function backups(baseDir) {
  try {
    return (await fs.readdir(path.join(baseDir, 'TEF'))).filter((name) => name.endsWith('.tef'));
  } catch {
    return [];
  }
}

// The sales-API reports kept on disk until the API answers them.
async function keptReports(baseDir) {
  try {
    return await fs.readdir(path.join(baseDir, 'TEF', 'RegistrosAPI'));
  } catch {
    return [];
  }
}

// Kills the service, starts it again on the same base directory and port, and opens a new page
// with a session of another sale; returns that page, its session and the new service.
async function crashAndReopen(t, saleId = '5150') {
  await killHard(t.svc.service);
  const service = await restartService(t.svc.baseDir, t.svc.port);
  cleanups.push(() => service.stop('SIGKILL'));
  const page = await connectClient(t.svc.port);
  cleanups.push(() => page.terminate());
  const session = await openSession(page, sessionClaims({ callback_url: t.api.url, sale_id: saleId }));
  return { page, uuid: session.session_uuid, service };
}

function initialize(page, uuid) {
  return page.send(JSON.stringify({ route: '/initialize', type: 'initialize', session_uuid: uuid }));
}

describe('crash recovery', () => {
  test('killed while the card is awaited: nothing was approved, nothing is left', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=600\n' });
    const seen = await startDebit(t);
    await waitUntil(() => seen.some((m) => m.type === 'can_cancel'), 'the card wait');

    const { page, uuid } = await crashAndReopen(t);
    await initialize(page, uuid);
    assertMessage(JSON.parse(await page.next(10000)), INITIALIZED);
    assert.ok(await page.silentFor(300), 'nothing follows the initialisation');

    assert.deepEqual(await t.ledger(), []);
    assert.deepEqual(await backups(t.svc.baseDir), []);
    assert.equal(t.api.requests.length, 0);
  });

  test('killed after the approval, before the confirmation: confirmed once at start-up', async () => {
    // The simulator sleeps in FinalizaTransacaoSiTefInterativo, holding the window between the
    // backup being written and the confirmation reaching the library.
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n' });
    const seen = await startDebit(t);
    await waitUntil(async () => (await backups(t.svc.baseDir)).length === 1
      && (await t.ledger()).some((e) => e.event === 'APPROVED'), 'the backup and the approval');
    await waitUntil(() => seen.filter((m) => m.type === 'receipt').length === 2, 'both receipts');
    const [approved] = await t.ledger();
    assert.equal(approved.event, 'APPROVED');
    assert.equal(approved.value, '10,00');
    assert.equal((await t.ledger()).length, 1, 'not confirmed yet');
    await t.control('[dialog]\ncard_polls=1\n');

    const { page, uuid } = await crashAndReopen(t);
    assert.equal(seen.some((m) => m.type === 'result'), false, 'the first page never got a result');
    assert.equal(t.api.requests.length, 0);
    await initialize(page, uuid);

    // The start-up confirmation reports the payment as the page's result and to the sales API,
    // then tells the operator to reprint, and only then is the initialisation answered.
    const result = JSON.parse(await page.next(15000));
    assert.deepEqual([result.type, result.status, result.message],
      ['result', 'approved', 'Transação TEF concluída com sucesso.']);
    assert.equal(result.transaction_data.length, 1);
    const [element] = result.transaction_data;
    assert.equal(element.operation, 'debit');
    assert.equal(element.sale_id, 4821, 'the sale the payment was made for, not the new session\'s');
    assert.equal(element.transaction_value, 10);
    assert.equal(element.payment_method_code, '0100');
    assert.equal(element.payment_id, 1000);
    assert.equal(t.api.requests.length, 1);
    const { payment_id, company_id, ...posted } = element;
    // The page learns that the result is a leftover of an earlier run, and of which sale: it can
    // never take it for the payment it is running now. The sales API gets the outcome alone.
    const { sale_id, recovered, ...outcome } = result;
    assert.deepEqual([sale_id, recovered], [4821, true]);
    assertMessage(t.api.requests[0].body, { ...outcome, transaction_data: [posted] });

    assertMessage(JSON.parse(await page.next(5000)), {
      type: 'confirmation',
      message: `Transação TEF efetuada.\r\nFavor reimprimir último Cupom.\r\nNSU: ${approved.nsu}\r\n\r\n`
        + `Nº Documento: ${approved.doc}\r\n\r\n(Para Cielo utilizar os 6 últimos dígitos.)`,
      options: ['Ok'],
      can_cancel: false,
      sale_id: 4821,
      recovered: true,
    });
    await page.send(JSON.stringify({ route: '/transaction', type: 'confirmation' }));
    assertMessage(JSON.parse(await page.next(5000)), INITIALIZED);

    const ledger = await t.ledger();
    const settled = ledger.filter((e) => e.doc === approved.doc && e.date === approved.date
      && (e.event === 'CONFIRMED' || e.event === 'UNDONE'));
    assert.deepEqual(settled.map((e) => [e.event, e.count, e.nsu]), [['CONFIRMED', '1', approved.nsu]]);
    assert.deepEqual(pendingIn(ledger), []);
    assert.deepEqual(await backups(t.svc.baseDir), []);

    // A second initialisation finds nothing left to confirm.
    await initialize(page, uuid);
    assertMessage(JSON.parse(await page.next(10000)), INITIALIZED);
    assert.equal((await t.ledger()).length, ledger.length);
  });

  test('killed again during the start-up confirmation: the next start confirms it, once', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n' });
    await startDebit(t);
    await waitUntil(async () => (await backups(t.svc.baseDir)).length === 1
      && (await t.ledger()).length === 1, 'the backup and the approval');

    // The first restart sleeps in the start-up confirmation's FinalizaTransacaoSiTefInterativo.
    const first = await crashAndReopen(t);
    await initialize(first.page, first.uuid);
    // Well inside the five seconds the confirmation sleeps; the assertions below show the kill
    // landed before it reached the library.
    await new Promise((resolve) => setTimeout(resolve, 1000));
    assert.deepEqual((await t.ledger()).map((e) => e.event), ['APPROVED']);
    assert.equal((await backups(t.svc.baseDir)).length, 1, 'the backup outlives the second crash');
    await killHard(first.service);

    await t.control('[dialog]\ncard_polls=1\n');
    const second = await crashAndReopen(t);
    await initialize(second.page, second.uuid);
    const seen = [];
    for (;;) {
      const msg = JSON.parse(await second.page.next(15000));
      seen.push(msg.type);
      if (msg.type === 'confirmation') await second.page.send(JSON.stringify({ route: '/transaction', type: 'confirmation' }));
      if (msg.type === 'initialize') break;
    }
    assert.deepEqual(seen, ['result', 'confirmation', 'initialize']);
    assert.deepEqual((await t.ledger()).map((e) => [e.event, e.count]), [['APPROVED', undefined], ['CONFIRMED', '1']]);
    assert.deepEqual(await backups(t.svc.baseDir), []);
    assert.equal(t.api.requests.length, 1, 'the sales API hears of the payment once');
  });

  test('killed after the confirmation, while the sales API holds its answer', async () => {
    // The first call is never answered; the report kept on disk is posted again by the new process.
    const t = await serviceWith({
      simulatorIni: '[dialog]\ncard_polls=1\n',
      respond: (request) => ({ status: 201, body: { data: 1000 }, delayMs: t.api.requests.indexOf(request) === 0 ? 30000 : 0 }),
    });
    const seen = await startDebit(t);
    await waitUntil(() => t.api.requests.length === 1, 'the sales API call');
    const before = await t.ledger();
    assert.deepEqual(before.map((e) => [e.event, e.count]), [['APPROVED', undefined], ['CONFIRMED', '1']]);
    assert.deepEqual(await backups(t.svc.baseDir), []);

    const { page, uuid } = await crashAndReopen(t);
    assert.equal(seen.some((m) => m.type === 'result'), false, 'the first page never got its result');
    await initialize(page, uuid);
    assertMessage(JSON.parse(await page.next(10000)), INITIALIZED);
    assert.ok(await page.silentFor(300), 'nothing is confirmed again');

    assert.deepEqual(await t.ledger(), before);
    assert.deepEqual(await backups(t.svc.baseDir), []);
    await waitUntil(() => t.api.requests.length === 2, 'the report posted again');
    assert.equal(t.api.requests[1].rawBody, t.api.requests[0].rawBody, 'the same report');
    const [first, again] = t.api.requests.map((request) => assertSignedReport(request, { now: request.receivedAt.getTime() }));
    assert.equal(again.eventId, first.eventId, 'the same event id, for the API to de-duplicate');
    await waitUntil(async () => (await keptReports(t.svc.baseDir)).length === 0, 'the kept report deleted');
    assert.ok(await page.silentFor(300), 'the new page is not told of it');
  });
});
