// The point-of-sale client library (clients/js) against the real service, the SiTef simulator and
// a stub sales API, through npm "ws": payments, refusals, cancellations and reprints answered by
// prompt handlers; one operation at a time; cancelling a running payment; sessions renewed and
// connections that come back. Every frame the library sends or receives is held to
// docs/protocol/asyncapi.yaml.
import assert from 'node:assert/strict';
import { afterEach, describe, test } from 'node:test';
import WebSocket from 'ws';
import { TefClient, TefError } from '../../clients/js/src/index.js';
import {
  FROM_PAGE, SchemaFailures, TO_PAGE, checkProtocolMessage, sessionClaims, signToken,
} from './lib/index.mjs';
import { pendingIn, serviceWithStopAfterEach } from './transaction-support.mjs';

const serviceWith = serviceWithStopAfterEach();
const clients = [];
const schemaFailures = new SchemaFailures();
afterEach(async () => {
  while (clients.length > 0) await clients.pop().close();
  schemaFailures.throwIfAny();
});

// A WebSocket of npm "ws" whose frames are checked against the protocol's document: those the
// service sends always, those the page sends unless the test sends invalid requests on purpose.
function checkedWebSocket(url, checkSent) {
  const socket = new WebSocket(url, { rejectUnauthorized: false });
  socket.on('message', (data) => schemaFailures.record(() => checkProtocolMessage(TO_PAGE, String(data))));
  if (!checkSent) return socket;
  const send = socket.send.bind(socket);
  socket.send = (text, ...rest) => {
    schemaFailures.record(() => checkProtocolMessage(FROM_PAGE, text));
    return send(text, ...rest);
  };
  return socket;
}

// A client of the service t started, with the stub sales API as its callback; `sockets` keeps
// every WebSocket it made, so a test can break one.
function clientOf(t, { checkSent = true, ...options } = {}) {
  const sockets = [];
  const client = new TefClient({
    url: `wss://127.0.0.1:${t.svc.port}`,
    getToken: () => signToken(sessionClaims({ callback_url: t.api.url })),
    createWebSocket: (url) => {
      const socket = checkedWebSocket(url, checkSent);
      sockets.push(socket);
      return socket;
    },
    backoffMs: [100, 200],
    ...options,
  });
  client.sockets = sockets;
  clients.push(client);
  return client;
}

// Handlers that pay by debit and write down everything the dialogue showed.
function debitHandlers(extra = {}) {
  const seen = [];
  return {
    seen,
    onMenu: (prompt) => {
      seen.push(['menu', prompt.title, prompt.options.map((o) => o.code)]);
      return { option: prompt.options.find((o) => o.label === 'Debito').line };
    },
    onCollect: () => ({ cancel: true }),
    onQuestion: (prompt) => {
      seen.push(['question', prompt.message]);
      return 'Não';
    },
    onConfirmation: (prompt) => { seen.push(['confirmation', prompt.message]); },
    onMessage: (message) => seen.push(['message', message.message]),
    onReceipt: (receipt) => seen.push(['receipt', receipt.copyNumber, receipt.lines.length > 0]),
    onCanCancel: (canCancel) => seen.push(['can_cancel', canCancel]),
    ...extra,
  };
}

function today() {
  const d = new Date();
  return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
}

async function rejectsWith(promise, code) {
  await assert.rejects(promise, (error) => {
    assert.ok(error instanceof TefError, `a TefError, not ${error}`);
    assert.equal(error.code, code, error.message);
    return true;
  });
}

// Resolves with the next "state" event of the client that is `state`.
function nextState(client, state) {
  return new Promise((resolve) => {
    const off = client.on('state', (event) => {
      if (event.state === state) {
        off();
        resolve(event);
      }
    });
  });
}

describe('operations answered by prompt handlers', () => {
  test('a debit payment, then its cancellation, then a reprint', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    const session = await client.connect();
    assert.match(session.sessionUuid, /^[0-9A-F-]{36}$/);
    assert.equal(session.terminalNumber, 'AG001200');

    const payment = debitHandlers();
    const paid = await client.pay({ payerName: 'Maria', amount: 10 }, payment);
    assert.equal(paid.status, 'approved');
    assert.equal(paid.code, 'APPROVED');
    assert.equal(paid.message, 'Transação TEF concluída com sucesso.');
    const [element] = paid.transactions;
    assert.equal(element.operation, 'debit');
    assert.equal(element.payer_name, 'Maria');
    assert.equal(element.transaction_value, 10);
    assert.ok(element.payment_id > 0, 'registered with the sales API');
    assert.deepEqual(payment.seen[0], ['menu', 'Selecione a forma de pagamento', ['1', '2', '3']]);
    assert.ok(payment.seen.some(([kind, value]) => kind === 'can_cancel' && value === true));
    assert.deepEqual(payment.seen.filter(([kind]) => kind === 'receipt'), [['receipt', 1, true], ['receipt', 2, true]]);

    const undone = await client.cancelPayment(
      { nsu: element.nsu_code, date: today(), amount: '10,00' }, debitHandlers());
    assert.equal(undone.status, 'approved');
    assert.equal(undone.transactions[0].operation, 'cancellation');

    const reprinted = await client.reprint({ operation: 112 }, debitHandlers());
    assert.equal(reprinted.status, 'approved');
    assert.equal(reprinted.transactions[0].operation, 'reprint');

    assert.deepEqual(pendingIn(await t.ledger()), [], 'every approval confirmed');
    assert.equal(t.api.requests.length, 3);
  });

  test('a refusal resolves "unauthorized" after the operator read the reason', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    await client.connect();
    const handlers = debitHandlers();
    const refused = await client.pay({ payerName: 'Maria', amount: '12,51' }, handlers);
    assert.deepEqual([refused.status, refused.code, refused.transactions], ['unauthorized', 'NOT_AUTHORIZED', []]);
    assert.deepEqual(handlers.seen.filter(([kind]) => kind === 'confirmation'),
      [['confirmation', 'Negada pelo autorizador (51)']]);
    assert.equal(t.api.requests.length, 0);
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
    const paid = await paying;
    assert.equal(paid.status, 'approved');
    assert.equal(paid.transactions[0].payer_name, 'Maria');
    const approvals = (await t.ledger()).filter((entry) => entry.event === 'APPROVED');
    assert.equal(approvals.length, 1, 'the busy call sent nothing');
    assert.deepEqual(await client.pinpadStatus(), { status: 'connected', message: 'PinPad conectado' });
  });

  test('a payment the service leaves unanswered (another till pays) fails NO_REPLY', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const first = clientOf(t);
    const second = clientOf(t, { startTimeoutMs: 1500 });
    await first.connect();
    await second.connect();
    let release;
    const held = new Promise((resolve) => { release = resolve; });
    const paying = first.pay({ payerName: 'Maria', amount: 10 }, debitHandlers({
      onMenu: async (prompt) => {
        await held;
        return { option: prompt.options[0].line };
      },
    }));
    await new Promise((resolve) => setTimeout(resolve, 300));
    const reconnected = nextState(second, 'ready');
    await rejectsWith(second.pay({ payerName: 'Ana', amount: 20 }, debitHandlers()), 'NO_REPLY');
    release();
    assert.equal((await paying).status, 'approved');
    await reconnected;
    // The service still ends the first payment for a moment after its result; a request from
    // another till in that moment would go unanswered too.
    await new Promise((resolve) => setTimeout(resolve, 500));
    assert.equal((await second.pay({ payerName: 'Ana', amount: 20 }, debitHandlers())).status, 'approved');
  });
});

describe('cancelling a running payment', () => {
  test('abort() while the card is awaited ends it "canceled" with nothing pending', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=300\n' });
    const client = clientOf(t);
    await client.connect();
    let aborted = false;
    const handlers = debitHandlers({
      onCanCancel: (canCancel) => {
        if (canCancel && !aborted) aborted = client.abort();
      },
    });
    const result = await client.pay({ payerName: 'Maria', amount: 10 }, handlers);
    assert.ok(aborted);
    assert.deepEqual([result.status, result.code], ['canceled', 'CANCELED']);
    assert.deepEqual(await t.ledger(), [], 'never approved');
    assert.equal(client.abort(), false, 'nothing runs any more');
  });

  test('abort() while a menu waits leaves it and confirms the cancellation', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
    const client = clientOf(t);
    await client.connect();
    let menuShown;
    const shown = new Promise((resolve) => { menuShown = resolve; });
    const handlers = debitHandlers({
      onMenu: () => {
        menuShown();
        return new Promise(() => {});  // the operator never chooses
      },
    });
    const paying = client.pay({ payerName: 'Maria', amount: 10 }, handlers);
    await shown;
    assert.equal(client.abort(), true);
    const result = await paying;
    assert.equal(result.status, 'canceled');
    assert.deepEqual(handlers.seen.filter(([kind]) => kind === 'question'), [], 'answered by the library');
    assert.deepEqual(await t.ledger(), []);
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

  test('a dropped connection fails the running payment, comes back with a new session and pays', async () => {
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
    await rejectsWith(client.pay({ payerName: 'Maria', amount: 10 }, handlers), 'CONNECTION_LOST');
    assert.equal((await waiting).retryInMs, 100);
    await rejectsWith(client.pinpadStatus(), 'NOT_CONNECTED');

    const again = await client.ready();
    assert.notEqual(again.sessionUuid, first.sessionUuid);
    assert.equal(client.sockets.length, 2);
    const paid = await client.pay({ payerName: 'Maria', amount: 10 }, debitHandlers());
    assert.equal(paid.status, 'approved');
  });

  test('a token the service refuses is reported and tried again after a growing pause', async () => {
    const t = await serviceWith();
    const client = clientOf(t, {
      getToken: () => signToken(sessionClaims({ callback_url: t.api.url }), { secret: 'not the service secret' }),
    });
    const errors = [];
    const pauses = [];
    client.on('error', (error) => errors.push(error.code));
    client.on('state', (event) => { if (event.state === 'waiting') pauses.push(event.retryInMs); });
    client.connect().catch(() => {});
    while (pauses.length < 3) await new Promise((resolve) => setTimeout(resolve, 50));
    assert.deepEqual(errors.slice(0, 2), ['UNAUTHORIZED', 'UNAUTHORIZED']);
    assert.deepEqual(pauses.slice(0, 3), [100, 200, 200]);
  });
});
