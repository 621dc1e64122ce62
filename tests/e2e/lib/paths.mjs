// Where the built programs are: under KELVORA_BUILD_DIR (set by CTest), else /work/main/build.
import path from 'node:path';

export const buildDir = process.env.KELVORA_BUILD_DIR || '/work/main/build';
export const serviceBinary = path.join(buildDir, 'bin', 'SvcKelvoraSiTef');
export const echoHostBinary = path.join(buildDir, 'tests', 'kelvora-echo-host');
