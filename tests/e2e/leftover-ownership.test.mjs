// A payment left approved and unconfirmed by a killed service belongs to the sale that made it:
// connections of the new process that start nothing (one that fails its TLS handshake, a page
// that only opens a session) never reverse it, and its start-up confirmation reports it to the
// sales API and company its backup names, not to those of the page that happens to initialise.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import net from 'node:net';
import path from 'node:path';
import { afterEach, test } from 'node:test';
import { startSalesApi } from './lib/salesApi.mjs';
import { connectClient, openSession, sessionClaims } from './lib/index.mjs';
import { killHard, restartService, waitUntil } from './lib/processState.mjs';
import { startDebit, startTransactionService } from './transaction-support.mjs';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

async function backups(baseDir) {
  try {
    return (await fs.readdir(path.join(baseDir, 'TEF'))).filter((name) => name.endsWith('.tef'));
  } catch {
    return [];
  }
}

// A TCP connection that says nothing TLS understands and goes away.
function failedHandshake(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.end('not a TLS client hello\r\n\r\n'));
    socket.on('close', resolve);
    socket.on('error', () => {});
  });
}

test('connections that start nothing leave a leftover alone; it is reported where its backup says', async () => {
  const t = await startTransactionService({ simulatorIni: '[dialog]\ncard_polls=1\n[delay]\nfinalize_ms=5000\n' });
  cleanups.push(() => t.stop());
  const otherApi = await startSalesApi();
  cleanups.push(() => otherApi.close());

  await startDebit(t);
  await waitUntil(async () => (await backups(t.svc.baseDir)).length === 1
    && (await t.ledger()).some((e) => e.event === 'APPROVED'), 'the backup and the approval');
  const backupText = await fs.readFile(path.join(t.svc.baseDir, 'TEF', (await backups(t.svc.baseDir))[0]), 'latin1');
  assert.match(backupText, /^899-106 = /m, 'the backup keeps where the payment is reported');
  assert.match(backupText, /^899-107 = 7\r?$/m, 'and for which company');

  await killHard(t.svc.service);
  await t.control('[dialog]\ncard_polls=1\n');
  const service = await restartService(t.svc.baseDir, t.svc.port);
  cleanups.push(() => service.stop('SIGKILL'));

  await failedHandshake(t.svc.port);
  const idle = await connectClient(t.svc.port);
  await openSession(idle, sessionClaims({ callback_url: otherApi.url, sale_id: '9999', company_id: '55' }));
  await idle.terminate();
  await new Promise((resolve) => setTimeout(resolve, 500));
  assert.equal((await backups(t.svc.baseDir)).length, 1, 'no connection end touched the backup');
  assert.deepEqual((await t.ledger()).map((e) => e.event), ['APPROVED']);

  const page = await connectClient(t.svc.port);
  cleanups.push(() => page.terminate());
  const { session_uuid: uuid } = await openSession(page,
    sessionClaims({ callback_url: otherApi.url, sale_id: '9999', company_id: '55' }));
  await page.send(JSON.stringify({ route: '/initialize', type: 'initialize', session_uuid: uuid }));
  const result = JSON.parse(await page.next(15000));
  assert.equal(result.status, 'approved');
  assert.equal(result.transaction_data[0].sale_id, 4821);
  assert.equal(result.transaction_data[0].company_id, 7);
  assert.equal(t.api.requests.length, 1, 'reported to the API of the sale that made it');
  assert.equal(otherApi.requests.length, 0);
});
