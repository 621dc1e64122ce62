// The Authenticode check of a Windows program, as the tests make it.
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';

const run = promisify(execFile);

// Whether a file carries an Authenticode signature that the signing certificate vouches for
// (osslsigncode's own verdict, which checks the file's digest against the signed one).
export async function verifySignature(file, certificate = process.env.KELVORA_SIGN_CERT) {
  try {
    const { stdout } = await run('osslsigncode', ['verify', '-CAfile', certificate, '-in', file]);
    return /^Succeeded$/m.test(stdout);
  } catch {
    return false;
  }
}
