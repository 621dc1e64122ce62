// The SiTef library named by "[sitef] library" in the service's configuration, laid out as a
// vendor ships it: under its own name, in its own folder, with the shared objects it needs beside
// it and no LD_LIBRARY_PATH. And the reasons a library cannot load, in both logs.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import { startSalesApi } from './lib/salesApi.mjs';
import {
  buildDir, errorReply, exchange, openSession, readServiceLogTexts, sessionClaims,
  startProtocolService,
} from './lib/index.mjs';
import { APPROVED, assertMessage, payByDebit } from './transaction-support.mjs';

// The simulator built as a vendor's library, and the shared object it needs.
const vendorDir = path.join(buildDir, 'tests', 'vendor-library');
const VENDOR_LIBRARY = 'libclisitef-vendor.so';
const DEPENDENCY = 'libkelvora-vendor-dependency.so';
// A library without one of the eleven exports.
const missingExport = path.join(buildDir, 'tests', 'missing-export', 'CliSiTef32I.dll');

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// A service configured with `library`, whose <base>/vendor folder holds `files` ({ name: source
// path, or a Buffer for the bytes themselves }), a stub sales API, a client and an open session.
async function serviceWithLibrary(library, files) {
  const api = await startSalesApi({});
  cleanups.push(() => api.close());
  const svc = await startProtocolService({ ini: `[sitef]\nlibrary=${library}\n`, simulator: false });
  cleanups.push(() => svc.stop());
  const folder = path.join(svc.baseDir, 'vendor');
  await fs.mkdir(folder);
  for (const [name, source] of Object.entries(files)) {
    if (Buffer.isBuffer(source)) await fs.writeFile(path.join(folder, name), source);
    else await fs.copyFile(source, path.join(folder, name));
  }
  const client = await svc.connect();
  cleanups.push(() => client.terminate());
  const { session_uuid: sessionUuid } = await openSession(client, sessionClaims({ callback_url: api.url }));
  return {
    svc, api, client, sessionUuid, folder,
    request: (members) => client.send(JSON.stringify({ route: '/transaction', session_uuid: sessionUuid, ...members })),
    answer: (members) => client.send(JSON.stringify({ route: '/transaction', ...members })),
    next: async (on = client, timeoutMs = 15000) => JSON.parse(await on.next(timeoutMs)),
  };
}

// The start of a 32-bit ELF shared object, as far as the loader reads before refusing it here.
function elf32Header() {
  const bytes = Buffer.alloc(1024);
  bytes.write('\x7fELF', 0, 'latin1');
  bytes[4] = 1; // ELFCLASS32
  bytes[5] = 1; // little-endian
  bytes[6] = 1; // current version
  return bytes;
}

// The TEF log's text, every day's file of it.
async function readTefLog(baseDir) {
  const logDir = path.join(baseDir, 'Log');
  let text = '';
  for (const month of await fs.readdir(logDir)) {
    for (const name of await fs.readdir(path.join(logDir, month))) {
      if (name.startsWith('TEF-')) text += await fs.readFile(path.join(logDir, month, name), 'latin1');
    }
  }
  return text;
}

describe('the vendor\'s library', () => {
  test('under its own name in its own folder, with its dependency beside it, takes a payment', async () => {
    const t = await serviceWithLibrary(`vendor/${VENDOR_LIBRARY}`, {
      [VENDOR_LIBRARY]: path.join(vendorDir, VENDOR_LIBRARY),
      [DEPENDENCY]: path.join(vendorDir, DEPENDENCY),
    });
    const seen = await payByDebit(t);
    const result = seen.at(-1);
    assertMessage({ ...result, transaction_data: undefined }, APPROVED);
    assert.equal(result.transaction_data[0].transaction_value, 10);
    assert.equal(t.api.requests.length, 1);

    // The library's folder is the one everything beside the library is taken from.
    const ledger = await fs.readFile(path.join(t.folder, 'CliSiTefSim.ledger'), 'latin1');
    assert.match(ledger, /^CONFIRMED /m);
    assert.deepEqual(await exchange(t.client, { route: '/version', type: 'version', category: 'clisitef_dll' }),
      { type: 'version', category: 'clisitef_dll', version: '6.2.0.1-sim' });
    assert.match(await readTefLog(t.svc.baseDir),
      new RegExp(`CliSiTef Biblioteca carregada: ${t.folder}/${VENDOR_LIBRARY}\r\n`));
  });

  test('that cannot load gives the page its error and both logs the reason', async () => {
    const cases = [
      {
        what: 'its dependency missing',
        files: { [VENDOR_LIBRARY]: path.join(vendorDir, VENDOR_LIBRARY) },
        library: `vendor/${VENDOR_LIBRARY}`,
        reason: `${DEPENDENCY}: cannot open shared object file`,
      },
      {
        what: 'a 32-bit build',
        files: { [VENDOR_LIBRARY]: elf32Header() },
        library: `vendor/${VENDOR_LIBRARY}`,
        reason: 'a biblioteca é de 32 bits; este serviço é de 64 bits',
      },
      {
        what: 'an export missing',
        files: { 'CliSiTef32I.dll': missingExport },
        library: 'vendor/CliSiTef32I.dll',
        reason: 'undefined symbol: VerificaPresencaPinPad',
      },
    ];
    for (const c of cases) {
      const t = await serviceWithLibrary(c.library, c.files);
      assert.deepEqual(
        await exchange(t.client, { route: '/initialize', type: 'initialize', session_uuid: t.sessionUuid }),
        errorReply('Erro ao conectar com servidor TEF: Erro ao conectar com servidor TEF'), c.what);
      const full = path.join(t.svc.baseDir, c.library);
      const logged = (await readServiceLogTexts(t.svc.baseDir))
        .filter((text) => text.startsWith(`Erro ao carregar a biblioteca do SiTef ${full}: `));
      assert.equal(logged.length, 1, c.what);
      assert.ok(logged[0].includes(c.reason), `${c.what}: ${logged[0]}`);
      const tefLog = await readTefLog(t.svc.baseDir);
      assert.ok(tefLog.includes('CliSiTef CarregarFuncoesDLL: ') && tefLog.includes(c.reason), `${c.what}: ${tefLog}`);
      while (cleanups.length > 0) await cleanups.pop()();
    }
  });
});
