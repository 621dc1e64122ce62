// A Windows service refuses a SiTef library of the other word size (a 32-bit DLL for the 64-bit
// service, or the reverse) before it loads it: the page gets the error of any library that cannot
// load, and both logs give the reason in words instead of Windows' error 193. (The Linux service's
// case, a 32-bit ELF file, is among the vendor library's tests.)
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { promisify } from 'node:util';
import {
  errorReply, exchange, openSession, readServiceLogTexts, sessionClaims, startProtocolService,
  windowsBuild, wineArch,
} from './lib/index.mjs';
import { readTefLog } from './scenario-support.mjs';

const run = promisify(execFile);
const serviceBits = wineArch === 'win64' ? 64 : 32;
const libraryBits = serviceBits === 64 ? 32 : 64;
const compiler = libraryBits === 32 ? 'i686-w64-mingw32-gcc' : 'x86_64-w64-mingw32-gcc';

let work;
let library;
before(async () => {
  if (!windowsBuild) return;
  work = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-other-arch-'));
  // A real DLL of the other architecture, with one of the library's exports.
  const source = path.join(work, 'library.c');
  await fs.writeFile(source, '__declspec(dllexport) int __stdcall VerificaPresencaPinPad(void) { return 1; }\n');
  library = path.join(work, 'CliSiTef32I.dll');
  await run(compiler, ['-shared', '-O1', '-o', library, source]);
});
after(async () => {
  if (work) await fs.rm(work, { recursive: true, force: true });
});

test(`the ${serviceBits}-bit service refuses a ${libraryBits}-bit library in words`, {
  skip: !windowsBuild && 'Windows build only',
}, async () => {
  const svc = await startProtocolService({ simulator: false });
  try {
    await fs.mkdir(path.join(svc.baseDir, 'dll'), { recursive: true });
    await fs.copyFile(library, path.join(svc.baseDir, 'dll', 'CliSiTef32I.dll'));
    const client = await svc.connect();
    const { session_uuid: sessionUuid } = await openSession(client, sessionClaims());
    assert.deepEqual(
      await exchange(client, { route: '/initialize', type: 'initialize', session_uuid: sessionUuid }),
      errorReply('Erro ao conectar com servidor TEF: Erro ao conectar com servidor TEF'));
    client.terminate();

    const reason = `a biblioteca é de ${libraryBits} bits; este serviço é de ${serviceBits} bits`;
    const logged = (await readServiceLogTexts(svc.baseDir))
      .filter((text) => text.startsWith('Erro ao carregar a biblioteca do SiTef '));
    assert.equal(logged.length, 1);
    assert.match(logged[0], new RegExp(`\\\\dll\\\\CliSiTef32I\\.dll: ${reason}$`));
    assert.match(await readTefLog(svc.baseDir),
      new RegExp(`CliSiTef CarregarFuncoesDLL: .*\\\\dll\\\\CliSiTef32I\\.dll: ${reason}\r\n`));
  } finally {
    await svc.stop();
  }
});
