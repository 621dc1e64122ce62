// Where the built programs are: under KELVORA_BUILD_DIR (set by CTest), else /work/main/build.
import path from 'node:path';

export const buildDir = process.env.KELVORA_BUILD_DIR || '/work/main/build';
// Sanitizer builds run the service several times slower: the test command stretches every wait
// by KELVORA_TEST_TIME_SCALE there, so a slow answer is not mistaken for a missing one.
export const timeScale = Number(process.env.KELVORA_TEST_TIME_SCALE) || 1;
export const serviceBinary = path.join(buildDir, 'bin', 'SvcKelvoraSiTef');
export const echoHostBinary = path.join(buildDir, 'tests', 'kelvora-echo-host');
