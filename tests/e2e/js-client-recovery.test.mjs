// The client library (clients/js) when a payment's road is cut: the service killed (SIGKILL) with
// an approved payment awaiting its confirmation, or stopped (SIGTERM) at the card prompt; the
// connection lost; the page reloaded after an approval. The page must learn what became of its
// payment from the service's journal, answer leftovers' confirmations, never take a leftover's
// result for its own, and be charged once. Every frame is held to docs/protocol/asyncapi.yaml.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import { killHard, restartService, waitUntil } from './lib/processState.mjs';
import { pendingIn, startTransactionService } from './transaction-support.mjs';
import {
  clientOf, closeClients, debitHandlers, framesOf, gate, rejectsWith,
} from './js-client-support.mjs';

const cleanups = [];
afterEach(async () => {
  await closeClients();
  while (cleanups.length > 0) await cleanups.pop()();
});

async function serviceWith(options) {
  const t = await startTransactionService(options);
  cleanups.push(() => t.stop());
  return t;
}

// The simulator sleeps in FinalizaTransacaoSiTefInterativo: the window in which an approved
// payment is kept in its backup file and not yet confirmed.
const HOLD_CONFIRMATION = '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n';
const QUICK = '[dialog]\ncard_polls=1\n';
const REPRINT_PROMPT = /^Transação TEF efetuada\.\r\nFavor reimprimir último Cupom\.\r\nNSU: /;

async function backups(baseDir) {
  try {
    return (await fs.readdir(path.join(baseDir, 'TEF'))).filter((name) => name.endsWith('.tef'));
  } catch {
    return [];
  }
}

// Waits until the payment is approved and kept in its backup, unconfirmed.
async function approvedUnconfirmed(t) {
  await waitUntil(async () => (await backups(t.svc.baseDir)).length === 1
    && (await t.ledger()).some((e) => e.event === 'APPROVED'), 'the backup and the approval');
  assert.deepEqual((await t.ledger()).map((e) => e.event), ['APPROVED'], 'not confirmed yet');
}

// Starts the service again on its base directory and port, the simulator answering at once
// unless simulatorIni says otherwise.
async function restart(t, simulatorIni = QUICK) {
  await t.control(simulatorIni);
  const service = await restartService(t.svc.baseDir, t.svc.port);
  cleanups.push(() => service.stop());
  return service;
}

function settled(ledger) {
  return ledger.filter((e) => e.event === 'CONFIRMED' || e.event === 'UNDONE').map((e) => e.event);
}

describe('a payment left approved by a killed service', () => {
  // A first page pays (key "venda-4821-a1") and the service is killed while the approval waits for
  // its confirmation; that page is gone. The next page's first initialisation confirms the
  // leftover: initialize() itself, or the first pay() of the next sale (also when that
  // confirmation takes longer than lateStartMs: the till is busy with the page's own request,
  // not another tab's).
  const payNext = (client, handlers) => client.pay({ payerName: 'Ana', amount: 20 }, debitHandlers(handlers));
  const starts = [
    { name: 'initialize() confirms it', run: (client, handlers) => client.initialize(handlers) },
    { name: 'the next sale\'s pay() confirms it, then takes its own payment', run: payNext },
    {
      name: 'the next sale\'s pay() waits through a slow confirmation of it',
      run: payNext,
      restartIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=1500\n',
      options: { lateStartMs: 300 },
    },
  ];
  for (const { name, run, restartIni, options } of starts) {
    test(name, async () => {
      const t = await serviceWith({ simulatorIni: HOLD_CONFIRMATION });
      const first = clientOf(t);
      await first.connect();
      first.pay({ payerName: 'Maria', amount: 10, idempotencyKey: 'venda-4821-a1' }, debitHandlers()).catch(() => {});
      await approvedUnconfirmed(t);
      await killHard(t.svc.service);
      await first.close();
      await restart(t, restartIni);

      const next = clientOf(t, { claims: { sale_id: '5150' }, ...options });
      const recovered = [];
      next.on('recovered', (event) => recovered.push(event));
      await next.connect();
      const confirmations = [];
      const outcome = await run(next, { onConfirmation: (prompt) => { confirmations.push(prompt); } });

      assert.equal(recovered.length, 1);
      const [{ result, saleId, idempotencyKey }] = recovered;
      assert.deepEqual([saleId, idempotencyKey, result.status, result.recovered, result.saleId],
        [4821, 'venda-4821-a1', 'approved', true, 4821]);
      assert.equal(result.transactions[0].transaction_value, 10);
      assert.equal(confirmations.length, 1, 'the leftover\'s confirmation reached the page');
      assert.equal(confirmations[0].recovered, true);
      assert.match(confirmations[0].message, REPRINT_PROMPT);
      if (outcome.status === undefined) {
        assert.deepEqual(outcome, { message: 'Inicializado com sucesso.' });
      } else {
        // The page's own payment, never the leftover's result.
        assert.deepEqual([outcome.status, outcome.recovered, outcome.transactions[0].sale_id,
          outcome.transactions[0].transaction_value], ['approved', false, 5150, 20]);
        assert.notEqual(outcome.idempotencyKey, 'venda-4821-a1');
      }
      assert.deepEqual(settled(await t.ledger()), outcome.status ? ['CONFIRMED', 'CONFIRMED'] : ['CONFIRMED']);
      assert.deepEqual(pendingIn(await t.ledger()), []);
      assert.equal(t.api.requests.length, outcome.status ? 2 : 1);
    });
  }

  test('the page that paid, still open, gets its own payment back once the service is up again', async () => {
    const t = await serviceWith({ simulatorIni: HOLD_CONFIRMATION });
    const client = clientOf(t);
    const recovered = [];
    client.on('recovered', (event) => recovered.push(event));
    await client.connect();
    const handlers = debitHandlers();
    const paying = client.pay({ payerName: 'Maria', amount: 10, idempotencyKey: 'venda-4821-a1' }, handlers);
    await approvedUnconfirmed(t);
    await killHard(t.svc.service);
    await restart(t);

    const result = await paying;
    assert.deepEqual([result.status, result.idempotencyKey, result.recovered, result.transactions[0].transaction_value],
      ['approved', 'venda-4821-a1', true, 10]);
    assert.deepEqual(recovered, [], 'its own payment is no leftover to the page');
    assert.ok(handlers.seen.some(([kind, text, isRecovered]) => kind === 'confirmation'
      && REPRINT_PROMPT.test(text) && isRecovered === true));
    assert.deepEqual(settled(await t.ledger()), ['CONFIRMED']);
    assert.equal(t.api.requests.length, 1);
  });
});

describe('learning what became of a payment', () => {
  test('a page reloaded after an approval asks with its stored key, and paying again replays it', async () => {
    const t = await serviceWith({ simulatorIni: QUICK });
    const before = clientOf(t);
    await before.connect();
    const stored = {};
    const paid = await before.pay({ payerName: 'Maria', amount: 10, saleId: 4830 },
      debitHandlers({ onKey: (key) => { stored.key = key; } }));
    assert.equal(paid.idempotencyKey, stored.key);
    assert.equal(paid.transactions[0].sale_id, 4830, 'the sale given to pay(), not the token\'s');
    await before.close();

    const reloaded = clientOf(t);
    await reloaded.connect();
    const { operations, running } = await reloaded.status({ idempotencyKey: stored.key });
    assert.equal(running, false);
    assert.equal(operations.length, 1);
    assert.deepEqual([operations[0].status, operations[0].sale_id, operations[0].amount, operations[0].report,
      operations[0].authorizer_nsu], ['confirmed', 4830, 10, 'sent', paid.transactions[0].nsu_code]);
    assert.deepEqual((await reloaded.status({ saleId: 4830 })).operations, operations);

    const handlers = debitHandlers();
    const again = await reloaded.pay({ payerName: 'Maria', amount: 10, saleId: 4830, idempotencyKey: stored.key }, handlers);
    assert.deepEqual([again.status, again.replayed, again.idempotencyKey], ['approved', true, stored.key]);
    assert.equal(again.transactions[0].nsu_code, paid.transactions[0].nsu_code);
    assert.deepEqual(handlers.seen.filter(([kind]) => kind !== 'key'), [], 'no prompt: nothing ran');
    assert.deepEqual((await t.ledger()).map((e) => e.event), ['APPROVED', 'CONFIRMED'], 'charged once');
    assert.equal(t.api.requests.length, 1, 'reported once');
  });

  test('stopped (SIGTERM) at the card prompt: the payment ends "interrupted" once the service is back', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=600\n' });
    const client = clientOf(t);
    await client.connect();
    const cardAwaited = gate();
    const paying = client.pay({ payerName: 'Maria', amount: 10, idempotencyKey: 'venda-4821-a1' },
      debitHandlers({ onCanCancel: (canCancel) => { if (canCancel) cardAwaited.open(); } }));
    await cardAwaited.promise;
    await t.svc.service.stop('SIGTERM');
    await restart(t);

    const result = await paying;
    assert.deepEqual([result.status, result.ending, result.idempotencyKey, result.transactions],
      ['interrupted', 'interrupted', 'venda-4821-a1', []]);
    assert.ok(result.reason);
    const other = clientOf(t);
    await other.connect();
    const { operations } = await other.status({ idempotencyKey: 'venda-4821-a1' });
    assert.deepEqual(operations.map((operation) => operation.status), ['interrupted']);
    assert.deepEqual(await t.ledger(), [], 'nothing approved, nothing charged');
    assert.equal(t.api.requests.length, 0);
  });

  test('the connection lost after the approval: the payment resolves approved, charged once', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=1000\n' });
    const client = clientOf(t);
    await client.connect();
    const handlers = debitHandlers({
      onReceipt: ({ copyNumber }) => { if (copyNumber === 2) client.sockets.at(-1).terminate(); },
    });
    const result = await client.pay({ payerName: 'Maria', amount: 10, idempotencyKey: 'venda-4821-a1' }, handlers);
    assert.deepEqual([result.status, result.ending, result.idempotencyKey, result.transactions[0].transaction_value],
      ['approved', 'approved', 'venda-4821-a1', 10]);
    assert.ok(result.replayed, 'told again by the service');
    assert.deepEqual(framesOf(client, '/transaction', 'transaction').map((m) => m.idempotency_key),
      ['venda-4821-a1', 'venda-4821-a1'], 'sent again with the same key');
    assert.deepEqual(settled(await t.ledger()), ['CONFIRMED']);
    assert.equal(t.api.requests.length, 1);
  });

  test('a service that does not come back: CONNECTION_LOST with the key, to ask later', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=600\n' });
    const client = clientOf(t, { outcomeWaitMs: 1500 });
    await client.connect();
    const cardAwaited = gate();
    const paying = client.pay({ payerName: 'Maria', amount: 10, idempotencyKey: 'venda-4821-a1' },
      debitHandlers({ onCanCancel: (canCancel) => { if (canCancel) cardAwaited.open(); } }));
    await cardAwaited.promise;
    await killHard(t.svc.service);
    const started = Date.now();
    const error = await rejectsWith(paying, 'CONNECTION_LOST');
    assert.equal(error.idempotencyKey, 'venda-4821-a1');
    assert.ok(Date.now() - started >= 1400, 'after trying for outcomeWaitMs');
  });
});
