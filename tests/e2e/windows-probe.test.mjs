// The probe that decides which Windows architectures the test command tests: its verdict comes
// from a program that really ran, so a loader that cannot execute means "no", and the switch that
// stands for a machine without 32-bit support is honoured without trying anything.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { promisify } from 'node:util';
import { hasCommand } from './lib/index.mjs';

const run = promisify(execFile);
const probe = path.resolve('scripts/probe-windows-arch.sh');


// Resolves to the probe's exit code and what it printed.
async function probeWith(args, env = {}) {
  try {
    const { stdout } = await run(probe, args, { env: { ...process.env, ...env } });
    return { code: 0, said: stdout.trim() };
  } catch (error) {
    return { code: error.code, said: error.stdout.trim() };
  }
}

let work;
before(async () => {
  work = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-probe-'));
});
after(async () => {
  if (work) await fs.rm(work, { recursive: true, force: true });
});

test('KELVORA_ASSUME_NO_I386=1 answers no for 32-bit programs, with the reason', async () => {
  for (const args of [['--kernel-i386'], ['x86', path.join(work, 'prefix')]]) {
    assert.deepEqual(await probeWith(args, { KELVORA_ASSUME_NO_I386: '1' }), {
      code: 1,
      said: 'no: KELVORA_ASSUME_NO_I386=1 says this machine cannot execute 32-bit programs',
    });
  }
});

test('the kernel check answers yes, or no with the system\'s reason', async () => {
  const { code, said } = await probeWith(['--kernel-i386']);
  if (code === 0) assert.equal(said, 'yes');
  else assert.match(said, /^no: this machine's kernel does not execute 32-bit x86 programs \(.+\)$/);
});

// A loader that cannot execute on any machine here: an ELF file for a processor that does not
// exist, as wine32 is on a kernel without 32-bit support.
test('a Wine loader that cannot execute makes the probe answer no', {
  skip: !hasCommand('x86_64-w64-mingw32-gcc') && 'x86_64-w64-mingw32-gcc is not installed',
}, async () => {
  const loader = path.join(work, 'foreign-loader');
  const header = Buffer.alloc(64);
  header.write('\x7fELF', 0, 'latin1');
  header.writeUInt8(2, 4);
  header.writeUInt8(1, 5);
  header.writeUInt8(1, 6);
  header.writeUInt16LE(2, 16);
  header.writeUInt16LE(0x1234, 18);
  await fs.writeFile(loader, header, { mode: 0o755 });
  const { code, said } = await probeWith(['x64', path.join(work, 'prefix')], { KELVORA_WINE: loader });
  assert.equal(code, 1);
  assert.match(said, /^no: .*foreign-loader could not run a x64 program \(.+\)$/);
});
