// The page's memory of each sale's last payment attempt (web/sales.js), in Node with its
// in-memory stand-in for localStorage: which key the next attempt goes out with, how results and the service's
// journal settle an attempt, and which records are forgotten.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import {
  MemoryStorage, OUTCOME, SaleRecords, outcomeOfStatus, tokenSaleId,
} from '../../web/sales.js';

const DAY_MS = 24 * 60 * 60 * 1000;
const ATTEMPT = { cents: 1000, payerName: 'Maria' };

describe('the key of a sale\'s next attempt', () => {
  // An attempt whose outcome the page never learnt may have charged: the next one must carry the
  // same key, so the service answers with that outcome instead of charging again. Once the
  // outcome is known, the next attempt is a new one.
  for (const [outcome, reused] of [
    [null, true],
    [OUTCOME.ended, false],
    [OUTCOME.paid, false],
  ]) {
    test(`after an attempt ${outcome ?? 'whose outcome is unknown'}: ${reused ? 'the same key' : 'a new key'}`, () => {
      const records = new SaleRecords(new MemoryStorage());
      records.begin(4821, 'k1', ATTEMPT);
      if (outcome) records.settle(4821, 'k1', outcome);
      assert.equal(records.reusableKey(4821), reused ? 'k1' : undefined);
      assert.equal(records.reusableKey(4822), undefined, 'another sale has nothing to reuse');
    });
  }

  test('a late outcome of an older key does not settle the sale\'s newer attempt', () => {
    const records = new SaleRecords(new MemoryStorage());
    records.begin(4821, 'k1', ATTEMPT);
    records.begin(4821, 'k2', ATTEMPT);
    records.settle(4821, 'k1', OUTCOME.paid);
    assert.equal(records.get(4821).outcome, OUTCOME.unknown);
    assert.equal(records.saleOfKey('k2'), 4821);
    assert.equal(records.saleOfKey('k1'), null);
  });
});

test('the journal\'s statuses by what they mean for the money', () => {
  assert.deepEqual(
    ['running', 'approved', 'confirmed', 'undone', 'refused', 'canceled', 'interrupted', 'newer'].map(outcomeOfStatus),
    ['running', OUTCOME.paid, OUTCOME.paid, OUTCOME.ended, OUTCOME.ended, OUTCOME.ended, OUTCOME.ended, null]);
});

test('records older than the service\'s 31 days are forgotten, unreadable ones ignored', () => {
  const storage = new MemoryStorage();
  let now = 0;
  const records = new SaleRecords(storage, () => now);
  records.begin(1, 'old', ATTEMPT);
  now = 30 * DAY_MS;
  records.begin(2, 'recent', ATTEMPT);
  storage.setItem('kelvora-tef:sale:3', '{not json');
  storage.setItem('another-page', 'kept');
  now = 32 * DAY_MS;
  const reopened = new SaleRecords(storage, () => now);
  assert.equal(reopened.get(1), null);
  assert.equal(reopened.get(2).key, 'recent');
  assert.equal(reopened.get(3), null);
  assert.equal(storage.getItem('another-page'), 'kept');
});

test('the sale of a session token, from its payload', () => {
  const token = (claims) => `e30.${Buffer.from(JSON.stringify(claims)).toString('base64url')}.c2ln`;
  for (const [claims, expected] of [
    [{ sale_id: '4821' }, 4821],
    [{ sale_id: 77 }, 77],
    [{ sale_id: '0' }, null],
    [{ sale_id: 'x1' }, null],
    [{}, null],
  ]) {
    assert.equal(tokenSaleId(token(claims)), expected, JSON.stringify(claims));
  }
  assert.equal(tokenSaleId('not a token'), null);
});
