// The Windows installer script compiles with makensis (warnings count as errors) from a folder of
// stand-in binaries, and the build script refuses a folder that lacks one of them. Running the
// installer itself needs the Windows build and Wine, which the Windows test run covers.
import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { promisify } from 'node:util';

const run = promisify(execFile);
const script = path.resolve('scripts/build-windows-installer.sh');
const BINARIES = ['SvcKelvoraSiTef.exe', 'kelvora-token.exe', 'dll/CliSiTef32I.dll'];

function hasMakensis() {
  try {
    execFileSync('sh', ['-c', 'command -v makensis'], { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}
const skip = hasMakensis() ? false : 'makensis (Debian package nsis) is not installed';

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
