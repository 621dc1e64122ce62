// What the Windows programs a store receives carry: their manifest; no path of the build machine
// (OpenSSL's own folders name the installation's, never a folder of this machine that on the till
// any user could create on C:); and no symbols, which go to a file of their own beside each
// program that a debugger finds through its debug link.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';
import { promisify } from 'node:util';
import { buildDir, windowsBuild, wineArch } from '../lib/paths.mjs';
import { verifySignature } from './signature.mjs';

const run = promisify(execFile);
const objdump = `${wineArch === 'win64' ? 'x86_64' : 'i686'}-w64-mingw32-objdump`;
const PROGRAMS = ['SvcKelvoraSiTef.exe', 'kelvora-token.exe', 'dll/CliSiTef32I.dll'];
const skip = windowsBuild ? false : 'needs the Windows build (KELVORA_E2E_WINDOWS)';

test('the programs hold no path of the build machine', { skip }, async () => {
  const machinePaths = [path.resolve('.'), path.resolve(buildDir), '/usr/', '/home/', '/tmp/'];
  for (const program of PROGRAMS) {
    const bytes = await fs.readFile(path.join(buildDir, 'bin', program));
    for (const machinePath of machinePaths) {
      assert.equal(bytes.indexOf(machinePath), -1, `${program} holds ${machinePath}`);
    }
  }
});

test('the programs are stripped, their symbols in a file beside each', { skip }, async () => {
  // objdump's file header flags say whether a file has a symbol table (HAS_SYMS).
  const flags = async (file) => (await run(objdump, ['--file-headers', file])).stdout;
  for (const program of PROGRAMS) {
    const file = path.join(buildDir, 'bin', program);
    assert.doesNotMatch(await flags(file), /HAS_SYMS/, `${program} has no symbol table`);
    const { stdout: sections } = await run(objdump, ['--section-headers', file]);
    assert.match(sections, /\.gnu_debuglink/, `${program} links to its symbols`);
    assert.match(await flags(`${file}.debug`), /HAS_SYMS/, `${program}.debug holds the symbols`);
  }
});

// scripts/test-windows.sh signs with a throw-away certificate when none is given, so the test
// command always checks that every program and the installer are signed.
const unsigned = process.env.KELVORA_SIGN_CERT ? false : 'an unsigned build (no KELVORA_SIGN_CERT)';
test('the programs and the installer carry a valid signature', { skip: skip || unsigned }, async () => {
  for (const program of [...PROGRAMS.map((p) => path.join('bin', p)), 'KelvoraSiTef-setup.exe']) {
    assert.ok(await verifySignature(path.join(buildDir, program)), `${program} is signed`);
  }
  // A byte changed after signing breaks the signature.
  const copy = path.join(buildDir, 'tampered.exe');
  const bytes = await fs.readFile(path.join(buildDir, 'bin', 'kelvora-token.exe'));
  bytes[bytes.length >> 1] ^= 0xff;
  await fs.writeFile(copy, bytes);
  try {
    assert.equal(await verifySignature(copy), false, 'a changed program fails its check');
  } finally {
    await fs.rm(copy, { force: true });
  }
});

// Without a manifest, a setup command run without elevation would be redirected to the user's
// VirtualStore and report success; Windows reads the manifest from the resource as it is stored.
test('the programs carry their manifest: as invoker, Windows 7 to 11, long paths', { skip }, async () => {
  for (const program of ['SvcKelvoraSiTef.exe', 'kelvora-token.exe']) {
    const text = (await fs.readFile(path.join(buildDir, 'bin', program))).toString('latin1');
    assert.match(text, /<requestedExecutionLevel level="asInvoker" uiAccess="false"\/>/, program);
    for (const os of ['35138b9a-5d96-4fbd-8e2d-a2440225f93a', '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a']) {
      assert.ok(text.includes(`<supportedOS Id="{${os}}"/>`), `${program}: ${os}`);
    }
    assert.match(text, /<longPathAware[^>]*>true<\/longPathAware>/, program);
  }
});
