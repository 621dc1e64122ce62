// One dialogue at a time, over the real service and the SiTef simulator: a second request while
// one runs is dropped without disturbing it, and a connection that closes in the middle of its
// dialogue ends it, leaves nothing pending and frees the service for the next client.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  PAYMENT, debitAnswers, payByDebit, pendingIn, runToResult, serviceWithStopAfterEach,
} from './transaction-support.mjs';

const serviceWith = serviceWithStopAfterEach();


async function until(t, type, on) {
  for (;;) {
    const msg = await t.next(on);
    if (msg.type === type) return msg;
  }
}

// A new client with a session, once the service takes TEF requests again (within tries pin-pad
// queries): a pin-pad query is dropped without a reply while another operation holds the
// component.
async function nextClientWhenFree(t, tries = Infinity) {
  const client = await t.connect();
  const uuid = await t.session(client);
  const deadline = Date.now() + 10000;
  for (let i = 1; ; i++) {
    await client.send(JSON.stringify({ route: '/pinpad/status', type: 'status', session_uuid: uuid }));
    try {
      const reply = JSON.parse(await client.next(300));
      assert.equal(reply.type, 'status');
      return { client, uuid };
    } catch (error) {
      if (i >= tries || Date.now() > deadline) throw error;
    }
  }
}

test('a second request while a payment runs gets no reply and changes nothing', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=30\n' });
  const other = await t.connect();
  const otherSession = await t.session(other);
  const second = { type: 'transaction', operation: '0', payer_name: 'Outro', transaction_value: '99,00', sale_id: 999 };

  await t.request(PAYMENT);
  assert.equal((await t.next()).type, 'menu');
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  await until(t, 'can_cancel');
  await t.request(second, other, otherSession);
  assert.ok(await other.silentFor(800), 'no reply to the second request');

  const element = (await runToResult(t, debitAnswers)).at(-1).transaction_data[0];
  assert.deepEqual([element.sale_id, element.payer_name, element.transaction_value], [4821, 'Maria', 10]);
  assert.deepEqual((await t.ledger()).filter((e) => e.event === 'APPROVED').map((e) => e.value), ['10,00']);

  // Once the payment has ended, the other client is served.
  await t.control('[dialog]\ncard_polls=1\n');
  await t.request(second, other, otherSession);
  const theirs = (await runToResult(t, debitAnswers, other)).at(-1).transaction_data[0];
  assert.deepEqual([theirs.sale_id, theirs.payer_name, theirs.transaction_value], [999, 'Outro', 99]);
});

test('a second request on the dialogue\'s own connection is no answer to its prompt', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=1\n' });
  await t.request(PAYMENT);
  assert.equal((await t.next()).type, 'menu');
  await t.request({ ...PAYMENT, transaction_value: '99,00', sale_id: 999 });
  assert.ok(await t.client.silentFor(300), 'no reply to the second request');
  await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' });
  const element = (await runToResult(t, debitAnswers)).at(-1).transaction_data[0];
  assert.deepEqual([element.sale_id, element.transaction_value], [4821, 10]);
});

test('a connection that closes during the dialogue ends it and leaves nothing pending', async () => {
  const t = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=300\n' });
  // Dropped as a crashed page drops it, or closed as a page's close() or a reload closes it: the
  // close completes at once and the next page is served at once.
  const cases = [
    { name: 'dropped while the card is awaited', waitFor: 'can_cancel', close: false },
    { name: 'dropped while a menu waits for its answer', waitFor: 'menu', close: false },
    { name: 'closed while the card is awaited', waitFor: 'can_cancel', close: true },
    { name: 'closed while a menu waits for its answer', waitFor: 'menu', close: true },
  ];
  let client = t.client;
  let uuid = t.sessionUuid;
  for (const c of cases) {
    await t.request(PAYMENT, client, uuid);
    const menu = await t.next(client);
    if (c.waitFor === 'can_cancel') {
      await t.answer({ type: 'menu', response: '1:Debito', back_menu: 'false' }, client);
      await until(t, 'can_cancel', client);
    } else {
      assert.equal(menu.type, 'menu');
    }
    if (c.close) {
      client.close(1001);
      // ws waits 30 s for the service's close frame before it gives up.
      assert.equal((await client.waitClosed(2000)).code, 1001, c.name);
      ({ client, uuid } = await nextClientWhenFree(t, 1));
    } else {
      await client.terminate();
      ({ client, uuid } = await nextClientWhenFree(t));
    }
    // The dialogue left behind may be noted as abandoned, never as approved.
    const ledger = await t.ledger();
    assert.deepEqual(ledger.filter((e) => e.event !== 'ABANDONED' || e.approved !== '0'), [], c.name);
  }

  await t.control('[dialog]\ncard_polls=1\n');
  const seen = await payByDebit(t, {}, { on: client, uuid });
  assert.equal(seen.at(-1).status, 'approved');
  assert.deepEqual(pendingIn(await t.ledger()), []);
});
