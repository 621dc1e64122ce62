// The page takes its session token from the address's fragment, where no server sees it, and then
// removes it from the address bar so it stays out of the history; other parts of the fragment
// and the query are kept.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { startTill } from './till.mjs';

let till;
before(async () => { till = await startTill({}); });
after(async () => { await till?.stop(); });

test('a token in the fragment opens a session and leaves the address', async () => {
  const address = new URL(till.address);
  const token = address.searchParams.get('token');
  address.searchParams.delete('token');
  address.hash = `token=${token}&keep=1`;
  await till.page.goto(address.href);
  await till.page.locator('[data-testid="session-state"][data-state="active"]').waitFor();

  const shown = new URL(await till.page.evaluate(() => window.location.href));
  assert.equal(shown.hash, '#keep=1');
  assert.equal(shown.search, address.search);
  assert.ok(!shown.href.includes(token));
  assert.deepEqual(till.pageErrors, []);
});
