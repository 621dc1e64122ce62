// What a page can learn of its payments after a reload, a lost connection or a restart: the same
// idempotency key never charges twice, "/transaction/status" tells what became of an attempt, a
// leftover of a killed run is never taken for the payment running now, and the day's operations
// come out of the journal for the store's closing.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { afterEach, describe, test } from 'node:test';
import { connectClient, openSession, sessionClaims } from './lib/index.mjs';
import { serviceBinary } from './lib/paths.mjs';
import { killHard, restartService, waitUntil } from './lib/processState.mjs';
import {
  answerUntil, debitAnswers, localToday as today, payByDebit, runToResult, startTransactionService,
} from './transaction-support.mjs';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

async function serviceWith(options) {
  const t = await startTransactionService(options);
  cleanups.push(() => t.stop());
  return t;
}

const DEBIT = { type: 'transaction', operation: '0', payer_name: 'Maria', transaction_value: '26,00' };

// The status reply for a key or a sale, asked on the given page with its session.
async function status(t, members, on = t.client, uuid = t.sessionUuid) {
  on.send(JSON.stringify({ route: '/transaction/status', type: 'status', session_uuid: uuid, ...members }));
  for (;;) {
    const msg = JSON.parse(await on.next(10000));
    if (msg.type === 'transaction_status' || msg.type === 'error') return msg;
  }
}

describe('idempotency keys and the status query', () => {
  test('a key sent again after an approval replays the outcome and charges nothing', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const first = (await payByDebit(t, { ...DEBIT, idempotency_key: 'sale-4837-a1' })).at(-1);
    assert.equal(first.status, 'approved');
    assert.equal(first.idempotency_key, 'sale-4837-a1');

    // The page reloaded: it asks first, then (say) sends the same attempt again.
    const asked = await status(t, { idempotency_key: 'sale-4837-a1' });
    assert.equal(asked.running, false);
    assert.equal(asked.operations.length, 1);
    const [op] = asked.operations;
    assert.deepEqual([op.status, op.kind, op.amount, op.sale_id, op.report, op.payment_id],
      ['confirmed', 'payment', 26, 4821, 'sent', 1000]);
    assert.match(op.card_number, /^\d{6}\*+\d{4}$/);
    assert.ok(op.nsu && op.authorizer_nsu);

    await t.request({ ...DEBIT, idempotency_key: 'sale-4837-a1' });
    const replay = await t.next();
    const { replayed, ...again } = replay;
    assert.equal(replayed, true);
    assert.deepEqual(again, first, 'the same result the page got');
    assert.ok(await t.client.silentFor(300), 'no dialogue');
    assert.deepEqual((await t.ledger()).map((e) => e.event), ['APPROVED', 'CONFIRMED']);
    assert.equal(t.api.requests.length, 1);
  });

  test('a refused attempt is told again as refused; a new key makes a new attempt', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const refused = (await payByDebit(t, { ...DEBIT, transaction_value: '12,51', idempotency_key: 'k1' })).at(-1);
    assert.deepEqual([refused.status, refused.idempotency_key], ['unauthorized', 'k1']);
    await t.request({ ...DEBIT, transaction_value: '12,51', idempotency_key: 'k1' });
    assert.deepEqual(await t.next(), {
      type: 'result', status: 'unauthorized', message: 'Transação TEF não realizada.',
      idempotency_key: 'k1', replayed: true,
    });
    const [op] = (await status(t, { idempotency_key: 'k1' })).operations;
    assert.equal(op.status, 'refused');
    assert.match(op.reason, /51/);
    assert.equal((await payByDebit(t, { ...DEBIT, idempotency_key: 'k2' })).at(-1).status, 'approved');
    const bySale = await status(t, { sale_id: 4821 });
    assert.deepEqual(bySale.operations.map((o) => [o.idempotency_key, o.status]), [['k1', 'refused'], ['k2', 'confirmed']]);
  });

  test('bad keys and status requests get their errors', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const keyError = 'O campo "idempotency_key" deve ter de 1 a 64 caracteres: letras, dígitos, "_" ou "-".';
    for (const key of ['', 'a'.repeat(65), 'com espaço', 'ç', null, true, { k: 1 }, 1.5]) {
      await t.requestRaw({ ...DEBIT, idempotency_key: key });
      assert.deepEqual(await t.next(), { type: 'error', message: keyError }, JSON.stringify(key));
    }
    const cases = [
      [{ type: 'other', sale_id: 1 }, 'Campo type diferente de status.'],
      [{ type: 'status' }, 'Informe o campo "idempotency_key" ou "sale_id".'],
      [{ type: 'status', idempotency_key: 'a b' }, keyError],
      [{ type: 'status', idempotency_key: null }, keyError],
    ];
    for (const [members, message] of cases) {
      t.client.sendRaw(JSON.stringify({ route: '/transaction/status', session_uuid: t.sessionUuid, ...members }));
      assert.deepEqual(await t.next(), { type: 'error', message }, JSON.stringify(members));
    }
    assert.deepEqual((await status(t, { idempotency_key: 'never-used' })).operations, []);
    assert.deepEqual(await t.ledger(), [], 'nothing started');
  });

  test('a second tab learns from the status that another sale\'s payment runs', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=600\n' });
    await t.request({ ...DEBIT, sale_id: '4838', idempotency_key: 'tab-1' });
    await answerUntil(t, 'can_cancel', debitAnswers);
    const tab = await t.connect();
    const uuid = await t.session(tab);
    const asked = await status(t, { sale_id: 4839 }, tab, uuid);
    assert.equal(asked.running, true);
    assert.deepEqual(asked.running_operation, { sale_id: 4838, kind: 'payment', idempotency_key: 'tab-1' });
    // The page of the running payment may ask too, on its own connection, without disturbing it.
    const own = await status(t, { idempotency_key: 'tab-1' });
    assert.equal(own.operations[0].status, 'running');
    await t.cancel();
    assert.equal((await runToResult(t, debitAnswers)).at(-1).status, 'canceled');
    assert.equal((await status(t, { idempotency_key: 'tab-1' })).operations[0].status, 'canceled');
  });
});

describe('across a restart', () => {
  test('a stop at the card prompt: after the restart the status says interrupted, nothing charged', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=600\n' });
    await t.request({ ...DEBIT, idempotency_key: 'stopped-1' });
    await answerUntil(t, 'can_cancel', debitAnswers);
    await t.svc.service.stop();
    const service = await restartService(t.svc.baseDir, t.svc.port);
    cleanups.push(() => service.stop('SIGKILL'));
    const page = await connectClient(t.svc.port);
    cleanups.push(() => page.terminate());
    const { session_uuid: uuid } = await openSession(page, sessionClaims({ callback_url: t.api.url }));
    const [op] = (await status(t, { idempotency_key: 'stopped-1' }, page, uuid)).operations;
    assert.equal(op.status, 'interrupted');
    assert.ok(op.reason);
    assert.deepEqual(await t.ledger(), []);
  });

  test('killed between approval and confirmation: the next sale\'s payment gets the leftover as recovered, then runs', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n' });
    await t.request({ ...DEBIT, sale_id: '4837', idempotency_key: 'sale-4837' });
    await answerUntil(t, 'receipt', debitAnswers);
    await waitUntil(async () => (await t.ledger()).some((e) => e.event === 'APPROVED'), 'the approval');
    await t.control('[dialog]\ncard_polls=1\n');
    await killHard(t.svc.service);
    const service = await restartService(t.svc.baseDir, t.svc.port);
    cleanups.push(() => service.stop('SIGKILL'));
    const page = await connectClient(t.svc.port);
    cleanups.push(() => page.terminate());
    const { session_uuid: uuid } = await openSession(page, sessionClaims({ callback_url: t.api.url }));

    // No initialisation first: the next sale's payment, with a key of its own.
    page.send(JSON.stringify({
      route: '/transaction', session_uuid: uuid, ...DEBIT, sale_id: '4838', transaction_value: '27,00',
      idempotency_key: 'sale-4838',
    }));
    const recovered = JSON.parse(await page.next(15000));
    assert.deepEqual([recovered.type, recovered.status, recovered.recovered, recovered.sale_id, recovered.idempotency_key],
      ['result', 'approved', true, 4837, 'sale-4837']);
    assert.equal(recovered.transaction_data[0].transaction_value, 26);
    const confirmation = JSON.parse(await page.next(5000));
    assert.deepEqual([confirmation.type, confirmation.recovered, confirmation.sale_id], ['confirmation', true, 4837]);
    page.send(JSON.stringify({ route: '/transaction', type: 'confirmation' }));

    const seen = [];
    for (;;) {
      const msg = JSON.parse(await page.next(15000));
      seen.push(msg);
      if (msg.type === 'result') break;
      const answer = debitAnswers(msg);
      if (answer) page.send(JSON.stringify({ route: '/transaction', ...answer }));
    }
    const own = seen.at(-1);
    assert.deepEqual([own.status, own.idempotency_key, own.recovered], ['approved', 'sale-4838', undefined]);
    assert.equal(own.transaction_data[0].transaction_value, 27);
    assert.equal(own.transaction_data[0].sale_id, 4838);
    const ops = (await status(t, { idempotency_key: 'sale-4837' }, page, uuid)).operations;
    assert.equal(ops[0].status, 'confirmed');
    assert.deepEqual(t.api.requests.map((r) => r.body.transaction_data[0].transaction_value), [26, 27]);
  });
});

test('the day\'s operations for the closing: approvals, a refusal, a cancellation, an interrupted payment, pending reports', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n', respond: () => ({ status: 503 }) });
  const paid = (await payByDebit(t, { ...DEBIT, idempotency_key: 'p1' })).at(-1);
  assert.equal(paid.status, 'approved');
  assert.equal((await payByDebit(t, { ...DEBIT, transaction_value: '12,51' })).at(-1).status, 'unauthorized');
  await t.request({
    type: 'cancellation', operation: '200', cancellation_nsu: paid.transaction_data[0].nsu_code,
    transaction_date: today(), transaction_value: '26,00', idempotency_key: 'c1',
  });
  assert.equal((await runToResult(t, debitAnswers)).at(-1).status, 'approved');
  // A page that goes away while its card is awaited: interrupted, nothing charged.
  await t.control('[dialog]\ncard_polls=600\n');
  const page = await t.connect();
  const uuid = await t.session(page);
  await t.request({ ...DEBIT, transaction_value: '5,00', idempotency_key: 'lost' }, page, uuid);
  await answerUntil(t, 'can_cancel', debitAnswers, page);
  await page.terminate();
  await waitUntil(async () => (await status(t, { idempotency_key: 'lost' })).operations[0]?.status === 'interrupted',
    'the interrupted payment');

  const run = promisify(execFile);
  const csv = (await run(serviceBinary, ['--base-dir', t.svc.baseDir, 'operations', '--date', today()])).stdout;
  const [header, ...rest] = csv.trimEnd().split('\n');
  assert.equal(header, 'time,sale_id,kind,amount,installments,nsu,authorizer_nsu,status,report,idempotency_key');
  const blank = rest.indexOf('');
  const lines = rest.slice(0, blank).map((line) => line.split(',').slice(1));
  assert.deepEqual(lines.map(([sale, kind, amount, , , , status, report, key]) => [sale, kind, amount, status, report, key]), [
    ['4821', 'payment', '26.00', 'confirmed', 'pending', 'p1'],
    ['4821', 'payment', '12.51', 'refused', '', ''],
    ['4821', 'cancellation', '26.00', 'confirmed', 'pending', 'c1'],
    ['4821', 'payment', '5.00', 'interrupted', '', 'lost'],
  ]);
  assert.match(csv.split('\n')[1], /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,/);
  assert.deepEqual(rest.slice(blank + 1), [
    'total,kind,status,count,amount',
    'total,cancellation,confirmed,1,26.00',
    'total,payment,confirmed,1,26.00',
    'total,payment,interrupted,1,5.00',
    'total,payment,refused,1,12.51',
  ]);
  const json = JSON.parse((await run(serviceBinary,
    ['--base-dir', t.svc.baseDir, 'operations', '--date', today(), '--format', 'json'])).stdout);
  assert.deepEqual(json.operations.map((o) => [o.kind, o.status, o.amount]),
    [['payment', 'confirmed', 26], ['payment', 'refused', 12.51], ['cancellation', 'confirmed', 26], ['payment', 'interrupted', 5]]);
  await assert.rejects(run(serviceBinary, ['operations', '--date', '2026-02-30']), /YYYY-MM-DD/);
});
