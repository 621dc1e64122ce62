// The harness itself: stopping a service fails the test when the simulator beside it noted a call
// outside the library's contract, unless the test said it drives the library so on purpose.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';
import { startProtocolService } from './lib/index.mjs';

const CONTRACT_LINE = 'CONTRACT function=IniciaFuncaoSiTefInterativo argument=amount value=12.50 '
  + 'problem=valor%20fora%20da%20forma%200,00 at=20261210120000';

async function noteViolation(baseDir) {
  await fs.appendFile(path.join(baseDir, 'dll', 'CliSiTefSim.ledger'),
    `APPROVED doc=1 date=20261210 function=2 value=10,00 nsu=000001 at=20261210115900\n${CONTRACT_LINE}\n`);
}

test('a CONTRACT line in the ledger fails the stop with the line in the message', async () => {
  const svc = await startProtocolService();
  try {
    await noteViolation(svc.baseDir);
    await assert.rejects(svc.service.stop(), (error) => {
      assert.match(error.message, /outside the library's contract/);
      assert.ok(error.message.includes(CONTRACT_LINE), error.message);
      return true;
    });
    assert.deepEqual(svc.service.exitStatus, { code: 0, signal: null }, 'the service was stopped all the same');
  } finally {
    await svc.stop().catch(() => {});
  }
});

test('a service started with allowContractViolations stops without complaint', async () => {
  const svc = await startProtocolService({ allowContractViolations: true });
  try {
    await noteViolation(svc.baseDir);
    assert.deepEqual(await svc.service.stop(), { code: 0, signal: null });
  } finally {
    await svc.stop();
  }
});
