// Where the built programs are: under KELVORA_BUILD_DIR (set by CTest), else /work/main/build.
import { execFileSync } from 'node:child_process';
import path from 'node:path';

// KELVORA_E2E_WINDOWS names a Windows build folder (build-win32 or build-win64): the tests then run
// its programs under Wine, in the build's own Wine prefix.
export const windowsBuild = process.env.KELVORA_E2E_WINDOWS || '';
export const buildDir = windowsBuild
  ? path.resolve(windowsBuild)
  : process.env.KELVORA_BUILD_DIR || '/work/main/build';
// The Wine loader of the build's architecture and the kind of prefix it boots (win32 or win64),
// as CTest passes them.
export const wineLoader = process.env.KELVORA_WINE || 'wine';
export const wineArch = process.env.KELVORA_WINEARCH || 'win32';
// Sanitizer builds run the service several times slower: the test command stretches every wait
// by KELVORA_TEST_TIME_SCALE there, so a slow answer is not mistaken for a missing one.
export const timeScale = Number(process.env.KELVORA_TEST_TIME_SCALE) || 1;
const exe = windowsBuild ? '.exe' : '';
export const serviceBinary = path.join(buildDir, 'bin', `SvcKelvoraSiTef${exe}`);
export const echoHostBinary = path.join(buildDir, 'tests', 'kelvora-echo-host');

// The command and arguments that run a built program: the program itself, or Wine with it.
export function programCommand(binary, args) {
  return windowsBuild ? [wineLoader, [binary, ...args]] : [binary, args];
}

// The environment a built program runs in: Wine's prefix and silence on Windows builds.
export function programEnv(env = {}) {
  if (!windowsBuild) return { ...process.env, ...env };
  return { ...process.env, WINEPREFIX: path.join(buildDir, 'wineprefix'), WINEDEBUG: '-all', ...env };
}

// Whether a command (a name on the PATH, or a path) can be run on this machine.
export function hasCommand(program) {
  try {
    execFileSync('sh', ['-c', `command -v ${program}`], { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}
