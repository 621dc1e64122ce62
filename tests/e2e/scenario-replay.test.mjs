// Replay of a dialogue seen in the field: a payment runs through the service, its TEF log is turned
// into a scenario by tools/tef-log-to-scenario.mjs, and the simulator plays that scenario to a
// second service: the page must receive the same prompts in the same order and the same result.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import { describe, test } from 'node:test';
import { tefLogToScenario } from '../../tools/tef-log-to-scenario.mjs';
import { PAYMENT, serviceWithStopAfterEach } from './transaction-support.mjs';
import { menuBack, pick, play, readTefLogBytes, reply } from './scenario-support.mjs';

const TOOL = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'tools', 'tef-log-to-scenario.mjs');
const serviceWith = serviceWithStopAfterEach();

// The lines the component writes for one call of the loop.
const called = (continua, buffer) => `-- 05/01 10:30:00:000 - ContinuaFuncaoSiTefInterativo, Chamando: Continua = ${continua} Buffer = ${buffer}`;
const returned = (sts, command, field, buffer, min = 0, max = 0) =>
  `-- 05/01 10:30:00:000 - ContinuaFuncaoSiTefInterativo, Retornos: STS = ${sts} ProximoComando = ${command} TipoCampo = ${field} Buffer = ${buffer} Tam.Min = ${min} Tam.Max = ${max}`;
const started = (modality) => `-- 05/01 10:30:00:000 - *** IniciaFuncaoSiTefInterativo. Modalidade: ${modality} Valor: 10,00 Documento: 1 Data: 20250105 Hora: 103000 Operador: CAIXA Restricoes: `;

describe('replay of a TEF log', () => {
  test('a debit with prompts plays again with the same prompts in the same order and the same result', async () => {
    const answers = [menuBack, reply('Não'), pick('1:Debito')];
    const field = await serviceWith({ simulatorIni: '[dialog]\ncard_polls=2\n' });
    await field.request(PAYMENT);
    const original = await play(field, answers);
    assert.equal(original.at(-1).status, 'approved', JSON.stringify(original));

    const log = path.join(field.svc.baseDir, 'tef.log');
    await fs.writeFile(log, await readTefLogBytes(field.svc.baseDir));
    const lab = await serviceWith({ simulatorIni: '[dialog]\nscenario=field.scenario\n' });
    await promisify(execFile)(process.execPath, [TOOL, log, '--output', path.join(lab.svc.baseDir, 'dll', 'field.scenario')]);
    await lab.request(PAYMENT);
    const replayed = await play(lab, answers);

    assert.deepEqual(replayed, original);
    assert.deepEqual((await lab.ledger()).map((e) => e.event), ['APPROVED', 'CONFIRMED']);
  });

  test('the tool keeps every part of a call: sizes, escapes, back, abort, masked card data', () => {
    const log = [
      '-- 05/01 10:29:00:000 - a line of another kind',
      started(0),
      called(0, ''),
      returned(10000, 30, 512, 'Numero do cartao', 13, 19),
      called(0, '411111******1111'),
      returned(10000, 21, -1, '1:A;2:B \\x5C "x";'),
      called(1, ''),
      returned(10000, 0, 121, 'VIA\\x0ACLIENTE'),
      called(0, ''),
      returned(10000, 23, -1, ''),
      called(-1, ''),
      returned(-2, 0, -1, ''),
      '-- 05/01 10:30:00:000 - *** ContinuaFuncaoSiTefInterativo, Finalizando: STS = -2',
      '899-100 = CRT',
    ].join('\r\n');
    assert.equal(tefLogToScenario(log, { source: 'tef.log' }), [
      '# Dialogue 1 of 1 replayed from tef.log',
      '# started with function 0, amount 10,00',
      'command 30 field=512 min=13 max=19 "Numero do cartao"',
      '  # the answer is card data, masked in the log: not checked',
      'command 21 field=-1 min=0 max=0 "1:A;2:B \\\\ \\"x\\";"',
      '  expect back',
      'result 121 "VIA\\nCLIENTE"',
      '  expect ""',
      'command 23 field=-1 min=0 max=0 ""',
      '  expect abort',
      'final -2',
      '',
    ].join('\n'));
  });

  test('a log written before texts were escaped keeps the line breaks of its buffers', () => {
    const log = [started(0), called(0, ''), returned(10000, 0, 121, 'VIA\nCLIENTE'), called(0, ''),
      returned(0, 0, -1, '')].join('\r\n');
    assert.match(tefLogToScenario(log), /^result 121 "VIA\\nCLIENTE"$/m);
  });

  test('a log without a finished dialogue, or a dialogue number it lacks, is refused', () => {
    const unfinished = [started(0), called(0, ''), returned(10000, 1, -1, 'x')].join('\r\n');
    assert.throws(() => tefLogToScenario(unfinished), /no complete dialogue/);
    const finished = [started(0), called(0, ''), returned(0, 0, -1, '')].join('\r\n');
    assert.throws(() => tefLogToScenario(finished, { dialogue: 2 }), /there is no dialogue 2/);
  });
});
