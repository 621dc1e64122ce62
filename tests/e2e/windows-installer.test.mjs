// The Windows installer script compiles with makensis (warnings count as errors) from a folder of
// stand-in binaries, and the build script refuses a folder that lacks one of them. Where 64-bit
// Wine and MinGW are at hand (every machine that runs Wine at all runs its 64-bit half), the
// 64-bit installer runs silently in a Wine prefix of its own with a stand-in
// service executable that records how it is called, and the uninstaller's cleanup without a
// pending payment is checked there; the installer with the real programs is the Windows build's
// test (tests/e2e/windows/installer.test.mjs).
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { promisify } from 'node:util';
import { buildDir, hasCommand } from './lib/index.mjs';

const run = promisify(execFile);
const script = path.resolve('scripts/build-windows-installer.sh');
const BINARIES = ['SvcKelvoraSiTef.exe', 'kelvora-token.exe', 'ca-bundle.crt', 'dll/CliSiTef32I.dll'];

const skip = hasCommand('makensis') ? false : 'makensis (Debian package nsis) is not installed';
const wine64 = '/usr/lib/wine/wine64';
const skipWine = skip || ([wine64, 'wineserver', 'x86_64-w64-mingw32-gcc'].every(hasCommand)
  ? false : '64-bit Wine or x86_64-w64-mingw32-gcc is not installed');

let work;
before(async () => {
  work = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-installer-'));
});
after(async () => {
  if (work) await fs.rm(work, { recursive: true, force: true });
});

// A folder with every binary the installer takes, each a few bytes, plus extra files.
async function standIns(name, { leaveOut, extra = [] } = {}) {
  const dir = path.join(work, name);
  await fs.mkdir(path.join(dir, 'dll'), { recursive: true });
  for (const file of [...BINARIES, ...extra]) {
    if (file !== leaveOut) await fs.writeFile(path.join(dir, file), `stand-in ${file}\n`);
  }
  return dir;
}

test('the installer builds from the binaries, with or without runtime DLLs', { skip }, async () => {
  for (const extra of [[], ['libwinpthread-1.dll']]) {
    const bin = await standIns(`bin-${extra.length}`, { extra });
    const out = path.join(work, 'out', `KelvoraTefServer-${extra.length}.exe`);
    await run(script, [bin, out], { maxBuffer: 1 << 24 });
    const header = Buffer.alloc(2);
    const file = await fs.open(out);
    await file.read(header, 0, 2, 0);
    await file.close();
    assert.equal(header.toString('latin1'), 'MZ', 'a Windows executable');
  }
});

test('a missing binary stops the build before makensis runs', async () => {
  for (const leaveOut of BINARIES) {
    const bin = await standIns(`missing-${path.basename(leaveOut)}`, { leaveOut });
    const out = path.join(work, 'out', 'never.exe');
    await assert.rejects(run(script, [bin, out]), (error) => {
      assert.equal(error.code, 1);
      assert.match(error.stderr, new RegExp(`${leaveOut.replace('.', '\\.')} is missing`));
      return true;
    });
    await assert.rejects(fs.access(out));
  }
});

describe('the installer under Wine', { skip: skipWine }, () => {
  let prefix;
  let installer;
  let dir;
  const env = () => ({
    ...process.env, WINEPREFIX: prefix, WINEDEBUG: '-all', WINEARCH: 'win64', WINELOADER: wine64,
  });
  const calls = async () => (await fs.readFile(path.join(prefix, 'drive_c', 'stand-in-calls.txt'),
    'latin1')).split(/\r?\n/).filter(Boolean);
  const exists = (name) => fs.access(path.join(dir, name)).then(() => true, () => false);
  // The installer's exit code: 0, or 2 when a step failed (here "sc start": the stand-in is no service).
  const install = async (...args) => {
    try {
      await run(wine64, [installer, '/S', ...args], { env: env() });
      return 0;
    } catch (error) {
      return error.code;
    }
  };

  before(async () => {
    prefix = await fs.mkdtemp(path.join(buildDir, 'wine-installer-'));
    const bin = await standIns('wine-bin');
    await run('x86_64-w64-mingw32-gcc', ['-O1', '-static', '-o', path.join(bin, 'SvcKelvoraSiTef.exe'),
      path.resolve('tests/e2e/windows/StandInService.c')]);
    installer = path.join(work, 'out', 'KelvoraTefServer-wine.exe');
    await run(script, ['--arch', 'x64', bin, installer], { maxBuffer: 1 << 24 });
    await run(wine64, ['wineboot', '-i'], { env: env() });
    dir = path.join(prefix, 'drive_c', 'Program Files', 'Kelvora TEF Server');
  });
  after(async () => {
    if (!prefix) return;
    await run('wineserver', ['-k'], { env: env() }).catch(() => {});
    await fs.rm(prefix, { recursive: true, force: true });
  });

  test('a silent installation drives the service program for the key, the certificates and the registration', async () => {
    assert.ok([0, 2].includes(await install()));
    assert.deepEqual(await calls(), [
      'generate-secret C:\\Program Files\\Kelvora TEF Server\\SvcKelvoraSiTef.ini',
      'generate-certificates C:\\Program Files\\Kelvora TEF Server\\Certificado',
      'trust-certificate C:\\Program Files\\Kelvora TEF Server\\Certificado',
      'install silent',
    ]);
    assert.match(await fs.readFile(path.join(dir, 'SvcKelvoraSiTef.ini'), 'latin1'),
      /^jwt_secret=StandInKey0+\r?$/m);
  });

  // Its files may be the store's own. (The run's exit code says nothing here: the stand-in is no
  // service, so every run here ends with 2.)
  test('an incomplete set of certificates is neither completed nor replaced', async () => {
    const key = await fs.readFile(path.join(dir, 'Certificado', 'server_key.pem'));
    await fs.rm(path.join(dir, 'Certificado', 'ca_cert.pem'));
    assert.equal(await install(), 2);
    assert.ok(!(await calls()).slice(4).some((call) => call.startsWith('generate-certificates')));
    assert.deepEqual(await fs.readFile(path.join(dir, 'Certificado', 'server_key.pem')), key);
    assert.ok(!(await exists('Certificado/ca_cert.pem')));
  });

  // Runs the uninstaller silently and waits until it is done: it works from a copy of itself and
  // deletes the original last.
  const uninstall = async (...args) => {
    await run(wine64, [path.join(dir, 'Uninstall.exe'), '/S', ...args], { env: env() });
    for (let i = 0; i < 600 && await exists('Uninstall.exe'); ++i) {
      await new Promise((resolve) => { setTimeout(resolve, 100); });
    }
  };

  test('the uninstaller with no pending payment removes the programs and the logs, keeps the vendor library and the configuration', async () => {
    await fs.writeFile(path.join(dir, 'dll', 'CliSiTef32I.dll'), 'the vendor library');
    await fs.writeFile(path.join(dir, 'Log', 'a.log'), 'log');
    await uninstall();
    assert.deepEqual((await calls()).slice(-2), ['uninstall silent', 'untrust-certificate']);
    assert.equal(await fs.readFile(path.join(dir, 'dll', 'CliSiTef32I.dll'), 'latin1'),
      'the vendor library');
    for (const name of ['SvcKelvoraSiTef.exe', 'kelvora-token.exe', 'Uninstall.exe', 'Certificado',
      'Log', 'TEF']) {
      assert.ok(!(await exists(name)), `${name} removed`);
    }
    // The key the sales system signs with survives an uninstallation and reinstallation.
    assert.match(await fs.readFile(path.join(dir, 'SvcKelvoraSiTef.ini'), 'latin1'),
      /^jwt_secret=StandInKey0+\r?$/m);
  });

  test('/PURGE removes the configuration too', async () => {
    assert.ok([0, 2].includes(await install()));
    await uninstall('/PURGE');
    assert.ok(!(await exists('SvcKelvoraSiTef.ini')), 'the configuration removed');
  });
});
