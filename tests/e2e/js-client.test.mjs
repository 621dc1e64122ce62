// The point-of-sale client library (clients/js) against the real service, the SiTef simulator and
// a stub sales API, through npm "ws": payments, refusals, cancellations and reprints answered by
// prompt handlers, each payment and cancellation under an idempotency key; failed results with
// their reason and ending; one operation at a time, on the page and on the till; cancelling a
// running payment with one cancellation; sessions renewed, connections that come back, and
// connections refused for good. Every frame the library sends or receives is held to
// docs/protocol/asyncapi.yaml.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import { signToken, sessionClaims } from './lib/index.mjs';
import { pendingIn, serviceWithStopAfterEach } from './transaction-support.mjs';
import {
  clientOf, closeClients, debitHandlers, framesOf, gate, nextState, pause, rejectsWith, today,
} from './js-client-support.mjs';

const serviceWith = serviceWithStopAfterEach();
afterEach(closeClients);

const CANCELED_BY_OPERATOR = 'Operação cancelada pelo operador';

describe('operations answered by prompt handlers', () => {
  test('a debit payment, then its cancellation, then a reprint', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    const session = await client.connect();
    assert.match(session.sessionUuid, /^[0-9A-F-]{36}$/);
    assert.equal(session.terminalNumber, 'AG001200');

    const payment = debitHandlers({ onKey: (key) => payment.seen.push(['key', key, framesOf(client, '/transaction').length]) });
    const paid = await client.pay({ payerName: 'Maria', amount: 10 }, payment);
    assert.deepEqual([paid.status, paid.code, paid.ending, paid.reason, paid.replayed, paid.recovered],
      ['approved', 'APPROVED', 'approved', null, false, false]);
    assert.equal(paid.message, 'Transação TEF concluída com sucesso.');
    // The library made the key and handed it to the page before the request went out.
    const [[, key, sentBefore]] = payment.seen.filter(([kind]) => kind === 'key');
    assert.match(key, /^[A-Za-z0-9_-]{1,64}$/);
    assert.equal(sentBefore, 0);
    assert.equal(framesOf(client, '/transaction', 'transaction')[0].idempotency_key, key);
    assert.equal(paid.idempotencyKey, key);
    const [element] = paid.transactions;
    assert.equal(element.operation, 'debit');
    assert.equal(element.payer_name, 'Maria');
    assert.equal(element.transaction_value, 10);
    assert.ok(element.payment_id > 0, 'registered with the sales API');
    assert.deepEqual(payment.seen[1], ['menu', 'Selecione a forma de pagamento', ['1', '2', '3']]);
    assert.ok(payment.seen.some(([kind, value]) => kind === 'can_cancel' && value === true));
    assert.deepEqual(payment.seen.filter(([kind]) => kind === 'receipt'), [['receipt', 1, true], ['receipt', 2, true]]);

    const undone = await client.cancelPayment(
      { nsu: element.nsu_code, date: today(), amount: '10,00', idempotencyKey: 'cancela-4821-1' }, debitHandlers());
    assert.equal(undone.status, 'approved');
    assert.equal(undone.idempotencyKey, 'cancela-4821-1');
    assert.equal(undone.transactions[0].operation, 'cancellation');

    const reprinted = await client.reprint({ operation: 112 }, debitHandlers());
    assert.equal(reprinted.status, 'approved');
    assert.equal(reprinted.idempotencyKey, null);
    assert.equal(reprinted.transactions[0].operation, 'reprint');
    assert.equal('idempotency_key' in framesOf(client, '/transaction', 'reprint')[0], false);

    assert.deepEqual(pendingIn(await t.ledger()), [], 'every approval confirmed');
    assert.equal(t.api.requests.length, 3);
  });

  test('the service\'s error replies reject with their stable code and text', async () => {
    const t = await serviceWith();
    const client = clientOf(t, { checkSent: false });
    await client.connect();
    const cases = [
      [() => client.cancelPayment({ nsu: '   ', date: today() }, debitHandlers()), 'CANCELLATION_NSU_MISSING',
        'O campo "cancellation_nsu" não foi preenchido.'],
      [() => client.cancelPayment({ nsu: '1', date: '05/01' }, debitHandlers()), 'TRANSACTION_DATE_INVALID',
        'O campo "transaction_date" não foi preenchido corretamente.'],
      [() => client.version('other'), 'VERSION_CATEGORY_INVALID',
        'Categoria inválida. Valores permitidos [service_exe, clisitef_dll]'],
    ];
    for (const [call, code, text] of cases) {
      await assert.rejects(call(), { name: 'TefError', code, message: text, serviceMessage: text });
    }
    assert.deepEqual(await client.version('service_exe'), { category: 'service_exe', version: '1.0.0.4' });
  });

  test('a key the service would refuse is refused before anything is sent', async () => {
    const t = await serviceWith();
    const client = clientOf(t);
    await client.connect();
    const before = client.sent.length;
    for (const idempotencyKey of ['', 'com espaço', 'x'.repeat(65)]) {
      await assert.rejects(client.pay({ payerName: 'Maria', amount: 10, idempotencyKey }, debitHandlers()), TypeError);
      await assert.rejects(client.status({ idempotencyKey }), TypeError);
    }
    await assert.rejects(client.status({}), TypeError);
    assert.equal(client.sent.length, before);
  });

  test('a handler that fails leaves the dialogue and the call fails with HANDLER_FAILED', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    await client.connect();
    const broken = debitHandlers({ onMenu: () => { throw new Error('menu not drawn'); } });
    await assert.rejects(client.pay({ payerName: 'Maria', amount: 10 }, broken), (error) => {
      assert.equal(error.code, 'HANDLER_FAILED');
      assert.equal(error.cause.message, 'menu not drawn');
      assert.equal(error.result.status, 'canceled');
      return true;
    });
    assert.deepEqual(await t.ledger(), []);
  });
});

// A dialogue the pin-pad's operator cancels: the library's final status -2.
const PINPAD_CANCEL_SCENARIO = 'command 2 "Insira ou passe o cartao"\ncommand 23\nfinal -2\n';

describe('failed results carry their reason and how they ended', () => {
  const cases = [
    {
      name: 'refused by the authorizer',
      simulatorIni: '[dialog]\ncard_polls=1\n',
      amount: '12,51',
      expected: { status: 'unauthorized', code: 'NOT_AUTHORIZED', ending: 'refused', reason: 'Negada pelo autorizador (51)' },
    },
    {
      name: 'cancelled by the operator on the pin-pad',
      scenario: PINPAD_CANCEL_SCENARIO,
      expected: { ending: 'canceled_on_pinpad', reason: CANCELED_BY_OPERATOR },
    },
    {
      name: 'left by the page at the menu',
      simulatorIni: '[dialog]\ncard_polls=1\n',
      handlers: { onMenu: () => ({ cancel: true }), onQuestion: () => 'Sim' },
      expected: { status: 'canceled', code: 'CANCELED', ending: 'canceled_by_page' },
    },
  ];
  for (const { name, simulatorIni, scenario, amount = 10, handlers = {}, expected } of cases) {
    test(name, async () => {
      const t = await serviceWith({ simulatorIni: simulatorIni ?? '' });
      if (scenario) {
        const file = path.join(t.svc.baseDir, 'dll', 'case.scenario');
        await fs.writeFile(file, scenario);
        await t.control(`[dialog]\nscenario=${file}\n`);
      }
      const client = clientOf(t);
      await client.connect();
      const seen = debitHandlers(handlers);
      const result = await client.pay({ payerName: 'Maria', amount, idempotencyKey: 'venda-4821-a1' }, seen);
      assert.deepEqual({ ...result, ...expected }, result, JSON.stringify(result));
      assert.equal(result.idempotencyKey, 'venda-4821-a1');
      assert.deepEqual(result.transactions, []);
      // The reason is what the operator was shown last.
      const shown = seen.seen.filter(([kind]) => kind === 'confirmation').at(-1);
      assert.equal(result.reason, shown?.[1] ?? result.message);
      assert.equal(t.api.requests.length, 0);
      assert.deepEqual(pendingIn(await t.ledger()), []);
    });
  }
});

describe('one operation at a time', () => {
  test('a second call while a payment runs fails BUSY and the payment completes', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    await client.connect();
    let chooseDebit;
    const menuShown = new Promise((resolve) => {
      chooseDebit = debitHandlers({
        onMenu: (prompt) => {
          resolve();
          return new Promise((answer) => setTimeout(() => answer({ option: prompt.options[0].line }), 300));
        },
      });
    });
    const paying = client.pay({ payerName: 'Maria', amount: 10 }, chooseDebit);
    await menuShown;
    await rejectsWith(client.pay({ payerName: 'Ana', amount: 20 }, debitHandlers()), 'BUSY');
    await rejectsWith(client.pinpadStatus(), 'BUSY');
    await rejectsWith(client.status({ saleId: 4821 }), 'BUSY');
    const paid = await paying;
    assert.equal(paid.status, 'approved');
    assert.equal(paid.transactions[0].payer_name, 'Maria');
    const approvals = (await t.ledger()).filter((entry) => entry.event === 'APPROVED');
    assert.equal(approvals.length, 1, 'the busy call sent nothing');
    assert.deepEqual(await client.pinpadStatus(), { status: 'connected', message: 'PinPad conectado' });
  });

  // Two tabs of the till: the first pays, its menu held; the second's payment is turned away with
  // the first's sale named, whether the second asks before sending (it sees the first running) or
  // its request reached the service only after the first started (the service drops it, and the
  // second's first message is late).
  const tabs = [
    { name: 'seen before the second sends', late: false },
    { name: 'seen when the second\'s first message is late', late: true },
  ];
  for (const { name, late } of tabs) {
    test(`two tabs: TILL_BUSY naming the running sale, ${name}`, async () => {
      const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
      const first = clientOf(t);
      const menuShown = gate();
      const release = gate();
      const firstHandlers = debitHandlers({
        onMenu: async (prompt) => {
          menuShown.open();
          await release.promise;
          return { option: prompt.options[0].line };
        },
      });
      let paying;
      const startFirst = () => { paying = first.pay({ payerName: 'Maria', amount: 10 }, firstHandlers); };
      // The late case: the second's request waits until the first's payment shows its menu.
      const second = clientOf(t, {
        claims: { sale_id: '4822' },
        lateStartMs: 500,
        beforeSend: late ? (message) => {
          if (message.type !== 'transaction' || paying) return null;
          startFirst();
          return menuShown.promise;
        } : undefined,
      });
      await first.connect();
      await second.connect();
      if (!late) {
        startFirst();
        await menuShown.promise;
      }
      const started = Date.now();
      const busy = await rejectsWith(second.pay({ payerName: 'Ana', amount: 20 }, debitHandlers()), 'TILL_BUSY');
      assert.ok(Date.now() - started < 5000, 'long before the start time-out');
      assert.equal(busy.runningSaleId, 4821);
      assert.match(busy.message, /venda 4821/);
      assert.equal(framesOf(second, '/transaction', 'transaction').length, late ? 1 : 0);

      release.open();
      assert.equal((await paying).status, 'approved');
      const again = await second.pay({ payerName: 'Ana', amount: 20 }, debitHandlers());
      assert.deepEqual([again.status, again.transactions[0].sale_id, again.transactions[0].transaction_value],
        ['approved', 4822, 20]);
      assert.equal(t.api.requests.length, 2);
    });
  }
});

describe('cancelling a running payment', () => {
  // abort() pressed three times when the service allows it, or once before it does: one
  // cancellation, sent while allowed; the operator reads why; nothing sent after the result.
  const presses = [
    { name: 'three times while the card is awaited', at: 'can_cancel', times: 3 },
    { name: 'once before the service allows it', at: 'message', times: 1 },
  ];
  for (const { name, at, times } of presses) {
    test(`abort() ${name}: one cancellation, ended "canceled_by_page"`, async () => {
      const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=300\n' });
      const client = clientOf(t);
      await client.connect();
      let pressed = false;
      const press = () => {
        if (pressed) return;
        pressed = true;
        for (let i = 0; i < times; i++) assert.equal(client.abort(), true);
      };
      const handlers = debitHandlers({
        onCanCancel: (canCancel) => {
          handlers.seen.push(['can_cancel', canCancel, framesOf(client, '/transaction/cancel').length]);
          if (canCancel && at === 'can_cancel') press();
        },
        onMessage: ({ message }) => { if (message !== '' && at === 'message') press(); },
      });
      const result = await client.pay({ payerName: 'Maria', amount: 10 }, handlers);
      assert.deepEqual([result.status, result.code, result.ending, result.reason],
        ['canceled', 'CANCELED', 'canceled_by_page', CANCELED_BY_OPERATOR]);
      assert.ok(handlers.seen.some(([kind, text]) => kind === 'confirmation' && text === CANCELED_BY_OPERATOR));
      // Sent after the service said it may be, and only once.
      assert.equal(handlers.seen.find(([kind, value]) => kind === 'can_cancel' && value === true)[2], 0);
      assert.equal(framesOf(client, '/transaction/cancel').length, 1);
      assert.equal(client.abort(), false, 'nothing runs any more');
      await pause(200);
      assert.equal(framesOf(client, '/transaction/cancel').length, 1);
      assert.deepEqual(await t.ledger(), [], 'never approved');
    });
  }

  test('abort() before the dialogue started leaves its first menu', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    await client.connect();
    const handlers = debitHandlers();
    const paying = client.pay({ payerName: 'Maria', amount: 10 }, handlers);
    assert.equal(client.abort(), true);
    const result = await paying;
    assert.deepEqual([result.status, result.ending], ['canceled', 'canceled_by_page']);
    assert.deepEqual(handlers.seen.filter(([kind]) => kind === 'menu'), [], 'left by the library');
    assert.deepEqual(await t.ledger(), []);
  });

  test('abort() while a menu waits leaves it and confirms the cancellation', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    await client.connect();
    const shown = gate();
    const handlers = debitHandlers({
      onMenu: () => {
        shown.open();
        return new Promise(() => {});  // the operator never chooses
      },
    });
    const paying = client.pay({ payerName: 'Maria', amount: 10 }, handlers);
    await shown.promise;
    assert.equal(client.abort(), true);
    const result = await paying;
    assert.deepEqual([result.status, result.ending], ['canceled', 'canceled_by_page']);
    assert.deepEqual(handlers.seen.filter(([kind]) => kind === 'question'), [], 'answered by the library');
    assert.equal(framesOf(client, '/transaction/cancel').length, 0, 'a menu is left, not cancelled');
    assert.deepEqual(await t.ledger(), []);
  });

  test('abort() once the refusal is shown sends nothing: the result stays a refusal', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=3\n' });
    const client = clientOf(t);
    await client.connect();
    const handlers = debitHandlers({ onConfirmation: () => { assert.equal(client.abort(), true); } });
    const result = await client.pay({ payerName: 'Maria', amount: '12,51' }, handlers);
    assert.deepEqual([result.status, result.ending, result.reason], ['unauthorized', 'refused', 'Negada pelo autorizador (51)']);
    await pause(200);
    assert.equal(framesOf(client, '/transaction/cancel').length, 0);
  });
});

describe('sessions and connections', () => {
  test('the session is renewed before it expires and the old one finished', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    // Sessions last 30 minutes: renewing 1 s after the start stands for renewing near the end.
    const client = clientOf(t, { renewBeforeMs: 30 * 60 * 1000 - 1000 });
    const first = await client.connect();
    const renewed = await new Promise((resolve) => client.on('session', resolve));
    assert.notEqual(renewed.sessionUuid, first.sessionUuid);

    const probe = await t.connect();
    await probe.send(JSON.stringify({ route: '/pinpad/status', type: 'status', session_uuid: first.sessionUuid }));
    assert.deepEqual(JSON.parse(await probe.next()), { type: 'error', message: 'Sessão inválida.' });
    assert.equal((await client.pay({ payerName: 'Maria', amount: 10 }, debitHandlers())).status, 'approved');
  });

  test('a connection dropped at the menu: the payment ends "interrupted" once the service tells, then pays', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    const first = await client.connect();
    const handlers = debitHandlers({
      onMenu: () => {
        client.sockets.at(-1).terminate();
        return new Promise(() => {});
      },
    });
    const waiting = nextState(client, 'waiting');
    const result = await client.pay({ payerName: 'Maria', amount: 10, idempotencyKey: 'venda-4821-a1' }, handlers);
    assert.equal((await waiting).retryInMs, 100);
    assert.deepEqual([result.status, result.code, result.ending, result.idempotencyKey, result.transactions],
      ['interrupted', 'INTERRUPTED', 'interrupted', 'venda-4821-a1', []]);
    assert.ok(result.reason, 'the journal says why');
    assert.deepEqual(framesOf(client, '/transaction/status').map((m) => m.idempotency_key),
      ['venda-4821-a1', 'venda-4821-a1'], 'asked before paying, and after the loss');

    assert.notEqual(client.session.sessionUuid, first.sessionUuid);
    assert.equal(client.sockets.length, 2);
    const paid = await client.pay({ payerName: 'Maria', amount: 10 }, debitHandlers());
    assert.equal(paid.status, 'approved');
    assert.deepEqual(pendingIn(await t.ledger()), []);
    assert.equal(t.api.requests.length, 1);
  });

  // connect() rejects at the first attempt, and tries no more, when the service refuses the token
  // or the page's origin, or the service's certificate is not trusted; a later connect() tries
  // again.
  const refusals = [
    {
      name: 'a token signed with another key',
      code: 'UNAUTHORIZED',
      options: (t, state) => ({
        getToken: () => signToken(sessionClaims({ callback_url: t.api.url }),
          state.fixed ? {} : { secret: 'not the service secret' }),
      }),
    },
    {
      name: 'a page origin the service does not allow',
      code: 'ORIGIN_REFUSED',
      ini: '[security]\nallowed_origins=https://pos.example\n',
      options: (t, state) => ({ wsOptions: () => ({ origin: state.fixed ? 'https://pos.example' : 'https://other.example' }) }),
    },
    {
      name: 'a certificate the client does not trust',
      code: 'CERTIFICATE_UNTRUSTED',
      options: (t, state) => ({ wsOptions: () => ({ rejectUnauthorized: !state.fixed }) }),
    },
  ];
  for (const { name, code, ini, options } of refusals) {
    test(`connect() rejects ${code} at once for ${name}`, async () => {
      const t = await serviceWith({ ini });
      const state = { fixed: false };
      const client = clientOf(t, options(t, state));
      const errors = [];
      client.on('error', (error) => errors.push(error.code));
      const error = await rejectsWith(client.connect(), code);
      assert.equal(client.state, 'failed');
      await pause(500);
      assert.equal(client.sockets.length, 1, 'no other try');
      assert.deepEqual(errors, [code]);
      assert.equal(error.fromService, code === 'UNAUTHORIZED');

      state.fixed = true;
      await client.connect();
      assert.equal(client.state, 'ready');
    });
  }
});
