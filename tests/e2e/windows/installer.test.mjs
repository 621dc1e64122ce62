// The Windows installer built from the real programs, run silently under Wine in Wine prefixes of
// its own: what a fresh installation lays out and registers, what an upgrade keeps, the simulator
// only when asked for, and what the uninstaller removes and keeps. Every prefix is thrown away
// with its wineserver afterwards, so the automatically started service never outlives the test.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { X509Certificate, createPrivateKey } from 'node:crypto';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { buildDir, windowsBuild, wineArch, wineLoader } from '../lib/paths.mjs';
import { verifySignature } from './signature.mjs';

const SERVICE = 'KelvoraSiTefService';
const DESCRIPTION = 'Serviço guardião do Kelvora DataSnap Servidor- Mantenha este serviço iniciado.';
const SIMULATOR_LINE = 'A biblioteca SiTef em dll/ é o SIMULADOR: nenhum pagamento é real.';
const START_LINE = 'Iniciando servidor socket.';
const EVENT_SOURCE = 'EventLog\\Application\\Kelvora TEF Server';
const UNINSTALL_KEY = 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KelvoraTefServer';
const installer = path.join(buildDir, 'KelvoraSiTef-setup.exe');
const simulator = path.join(buildDir, 'bin', 'dll', 'CliSiTef32I.dll');

const skip = windowsBuild ? false : 'needs the Windows build (KELVORA_E2E_WINDOWS)';

const sleep = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

// Runs a program with no standard streams and resolves to its exit code. Wine's boot leaves
// wineserver and the system's processes running, and they would hold any pipe open forever; a
// program that hangs is killed after two minutes, so the prefix is still cleaned up.
function run(program, args, env) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { env, stdio: 'ignore', timeout: 120_000 });
    child.on('error', reject);
    child.on('exit', (code, signal) => resolve(signal ? `killed by ${signal}` : code));
  });
}
const exists = (file) => fs.access(file).then(() => true, () => false);

// One Wine prefix with its own persistent wineserver. The first boot of a new prefix finishes in
// a wineserver that exits by itself; until then the service manager may refuse new services, so
// the prefix is used only from the next boot on.
class Prefix {
  // A new prefix, added to `created` before it boots so that it is disposed of even then.
  static async create(created) {
    const prefix = new Prefix(await fs.mkdtemp(path.join(buildDir, 'wine-installer-')));
    created.push(prefix);
    assert.equal(await run(wineLoader, ['wineboot', '-i'], prefix.env), 0, 'wineboot -i');
    await run('wineserver', ['-w'], prefix.env);
    assert.equal(await run('wineserver', ['-p'], prefix.env), 0, 'wineserver -p');
    return prefix;
  }

  constructor(dir) {
    this.dir = dir;
    this.env = { ...process.env, WINEPREFIX: dir, WINEDEBUG: '-all', WINEARCH: wineArch };
    this.installDir = path.join(dir, 'drive_c', 'Program Files', 'Kelvora TEF Server');
  }

  file(...parts) {
    return path.join(this.installDir, ...parts);
  }

  // Runs a Windows program and resolves to its exit code.
  wine(...args) {
    return run(wineLoader, args, this.env);
  }

  install(...switches) {
    return this.wine(installer, '/S', ...switches);
  }

  // A registry key as exported by reg.exe (UTF-16), or null when it is not there.
  async registryKey(key) {
    const exported = path.join(this.dir, 'drive_c', 'exported.reg');
    const code = await this.wine('reg', 'export', key, 'C:\\exported.reg', '/y');
    if (code !== 0) return null;
    const text = (await fs.readFile(exported)).toString('utf16le').replace(/^\uFEFF/, '');
    await fs.rm(exported);
    return text;
  }

  // A key under HKLM\System\CurrentControlSet\Services, or null.
  servicesKey(name) {
    return this.registryKey(`HKLM\\System\\CurrentControlSet\\Services\\${name}`);
  }

  // The thumbprints (SHA-1, upper-case hexadecimal) of the machine's trusted root certificates,
  // read where Windows keeps the local machine's Root store.
  async trustedRoots() {
    const text = await this.registryKey(
      'HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates') ?? '';
    return new Set([...text.matchAll(/^\[.*\\Certificates\\([0-9A-Fa-f]{40})\]\r?$/gm)]
      .map((match) => match[1].toUpperCase()));
  }

  serviceKey() {
    return this.servicesKey(SERVICE);
  }

  eventSourceKey() {
    return this.servicesKey(EVENT_SOURCE);
  }

  async jwtSecret() {
    const ini = await fs.readFile(this.file('SvcKelvoraSiTef.ini'), 'latin1');
    return ini.match(/^jwt_secret=(.*?)\r?$/m)?.[1];
  }

  // Every line of the service logs under Log\ (ANSI text; the lines checked here are Latin-1 too).
  async serviceLog() {
    const logDir = this.file('Log');
    if (!(await exists(logDir))) return '';
    const entries = await fs.readdir(logDir, { recursive: true, withFileTypes: true });
    let text = '';
    for (const entry of entries) {
      if (entry.isFile() && entry.name.startsWith(SERVICE)) {
        text += await fs.readFile(path.join(entry.parentPath ?? entry.path, entry.name), 'latin1');
      }
    }
    return text;
  }

  // Waits until the service log holds the line `count` times; the service writes it on its own
  // thread after the installer has already returned.
  async waitForLog(line, count = 1) {
    for (let i = 0; i < 300; ++i) {
      if ((await this.serviceLog()).split(line).length - 1 >= count) return;
      await sleep(100);
    }
    assert.fail(`the service log never held "${line}" ${count} time(s):\n${await this.serviceLog()}`);
  }

  async dispose() {
    await this.wine('sc', 'stop', SERVICE).catch(() => {});
    await this.wine('sc', 'delete', SERVICE).catch(() => {});
    await run('wineserver', ['-k'], this.env).catch(() => {});
    await fs.rm(this.dir, { recursive: true, force: true });
  }
}

// A REG_EXPAND_SZ value of an exported key: reg.exe writes it as hex(2) bytes of UTF-16 text,
// continued over lines ending in a backslash.
function expandString(exported, name) {
  const match = exported.replace(/\\\r?\n\s*/g, '').match(new RegExp(`"${name}"=hex\\(2\\):([0-9a-f,]*)`));
  if (!match) return null;
  const bytes = Buffer.from(match[1].split(',').map((byte) => parseInt(byte, 16)));
  return bytes.toString('utf16le').replace(/\0+$/, '');
}

// A REG_SZ value of an exported key, its quotes and backslashes unescaped.
function stringValue(exported, name) {
  const match = exported.match(new RegExp(`^"${name}"="((?:[^"\\\\]|\\\\.)*)"\\r?$`, 'm'));
  return match && match[1].replace(/\\(.)/g, '$1');
}

// The thumbprint under which the Root store keeps a certificate.
const thumbprint = (pem) => new X509Certificate(pem).fingerprint.replaceAll(':', '');

function checkCertificates(files) {
  const ca = new X509Certificate(files['ca_cert.pem']);
  const server = new X509Certificate(files['server_cert.pem']);
  assert.ok(ca.ca, 'ca_cert.pem is a CA');
  assert.ok(server.verify(ca.publicKey), 'the server certificate is signed by the CA');
  assert.equal(server.checkHost('localhost'), 'localhost');
  assert.equal(server.checkIP('127.0.0.1'), '127.0.0.1');
  assert.ok(server.checkPrivateKey(createPrivateKey(files['server_key.pem'])));
  assert.ok(new Date(server.validTo) > new Date(), 'the server certificate has not expired');
}

async function readCertificates(prefix) {
  const files = {};
  for (const name of ['ca_cert.pem', 'server_cert.pem', 'server_key.pem']) {
    files[name] = await fs.readFile(prefix.file('Certificado', name));
  }
  return files;
}

describe('the installer with the real programs under Wine', { skip }, () => {
  const prefixes = [];
  let plain;
  let withSimulator;

  before(async () => {
    const [setup, service] = await Promise.all([fs.stat(installer), fs.stat(path.join(buildDir,
      'bin', 'SvcKelvoraSiTef.exe'))]).catch(() => [null, null]);
    assert.ok(setup && setup.mtimeMs >= service.mtimeMs,
      `${installer} is missing or older than the service: run scripts/build-windows.sh`);
  });
  after(async () => {
    for (const prefix of prefixes) await prefix.dispose();
  });

  // (A drive's root NSIS itself never takes: /D=C:\ installs into the default folder.)
  test('a folder of other files is refused before anything changes', async () => {
    const prefix = await Prefix.create(prefixes);
    const foreign = path.join(prefix.dir, 'drive_c', 'Dados');
    await fs.mkdir(foreign);
    await fs.writeFile(path.join(foreign, 'planilha.xlsx'), 'the store\'s own file');
    assert.equal(await prefix.install('/D=C:\\Dados'), 2);
    assert.deepEqual(await fs.readdir(foreign), ['planilha.xlsx']);
    assert.equal(await prefix.serviceKey(), null, 'no service registered');
  });

  test('a silent installation lays out, registers and starts the service, without the simulator', async () => {
    plain = await Prefix.create(prefixes);
    assert.equal(await plain.install(), 0, 'every step of the installation succeeded');

    for (const name of ['SvcKelvoraSiTef.exe', 'kelvora-token.exe', 'Uninstall.exe', 'TEF', 'Log']) {
      assert.ok(await exists(plain.file(name)), `${name} installed`);
    }
    if (process.env.KELVORA_SIGN_CERT) {
      for (const name of ['SvcKelvoraSiTef.exe', 'Uninstall.exe']) {
        assert.ok(await verifySignature(plain.file(name)), `the installed ${name} is signed`);
      }
    }
    assert.ok(!(await exists(plain.file('dll', 'CliSiTef32I.dll'))), 'no library in dll\\');
    assert.ok(!(await exists(plain.file('simulador'))), 'no simulator');

    const ini = await fs.readFile(plain.file('SvcKelvoraSiTef.ini'), 'latin1');
    assert.match(ini, /^listen=127\.0\.0\.1 ::1\r?$/m);
    assert.match(ini, /^;allowed_origins=/m);
    assert.match(await plain.jwtSecret(), /^[A-Za-z0-9]{32}$/);
    assert.doesNotMatch(ini, /simulator_in_dll/);

    const certificates = await readCertificates(plain);
    checkCertificates(certificates);
    // The browsers trust the service without a manual step.
    assert.ok((await plain.trustedRoots()).has(thumbprint(certificates['ca_cert.pem'])),
      'the local CA is among the machine\'s trusted roots');

    const key = await plain.serviceKey();
    assert.ok(key, 'the service is registered');
    assert.ok(key.includes(`"Description"="${DESCRIPTION}"`), key);
    assert.ok(key.includes(`"DisplayName"="${SERVICE}"`), key);
    assert.ok(key.includes('"ImagePath"="\\"C:\\\\Program Files\\\\Kelvora TEF Server\\\\' +
      'SvcKelvoraSiTef.exe\\""'), key);

    // The event viewer finds the events' texts in the executable's message table.
    const source = await plain.eventSourceKey();
    assert.ok(source, 'the event source is registered');
    assert.equal(expandString(source, 'EventMessageFile'),
      'C:\\Program Files\\Kelvora TEF Server\\SvcKelvoraSiTef.exe');
    assert.ok(source.includes('"TypesSupported"=dword:00000007'), source);
    assert.match(ini, /^keep_days=400\r?$/m);

    // Started by the installer: whether it could also listen on 443 here does not matter.
    await plain.waitForLog(START_LINE);
    assert.ok(!(await plain.serviceLog()).includes(SIMULATOR_LINE));
  });

  test('an upgrade keeps the configuration and the certificates and never puts the simulator over the vendor library', async () => {
    const secret = await plain.jwtSecret();
    const certificates = await readCertificates(plain);
    const ini = plain.file('SvcKelvoraSiTef.ini');
    await fs.writeFile(ini, (await fs.readFile(ini, 'latin1')).replace(/^pdv_number=0/m,
      'pdv_number=7'), 'latin1');
    await fs.mkdir(plain.file('dll'), { recursive: true });
    await fs.writeFile(plain.file('dll', 'CliSiTef32I.dll'), 'the vendor library');

    assert.equal(await plain.install('/SIMULADOR'), 0);
    assert.equal(await plain.jwtSecret(), secret);
    assert.match(await fs.readFile(ini, 'latin1'), /^pdv_number=7\r?$/m, 'the store\'s settings kept');
    assert.deepEqual(await readCertificates(plain), certificates);
    assert.equal(await fs.readFile(plain.file('dll', 'CliSiTef32I.dll'), 'latin1'),
      'the vendor library');
    assert.deepEqual(await fs.readFile(plain.file('simulador', 'CliSiTef32I.dll')),
      await fs.readFile(simulator));
    assert.doesNotMatch(await fs.readFile(plain.file('SvcKelvoraSiTef.ini'), 'latin1'),
      /simulator_in_dll/);
    assert.ok((await plain.trustedRoots()).has(thumbprint(certificates['ca_cert.pem'])));
    // Stopped so that its files could be replaced, then started again.
    await plain.waitForLog('O serviço foi parado.');
    await plain.waitForLog(START_LINE, 2);
  });

  // A technician renews the certificates by removing them and installing again: the browsers must
  // trust the new CA, and the old one, whose certificate is gone, must not stay trusted.
  test('renewed certificates replace the local CA among the trusted roots', async () => {
    const old = thumbprint((await readCertificates(plain))['ca_cert.pem']);
    const before = await plain.trustedRoots();
    await fs.rm(plain.file('Certificado'), { recursive: true });
    assert.equal(await plain.install(), 0);
    const renewed = thumbprint((await readCertificates(plain))['ca_cert.pem']);
    assert.notEqual(renewed, old);
    const after = await plain.trustedRoots();
    assert.ok(after.has(renewed), 'the new CA is trusted');
    assert.ok(!after.has(old), 'the old CA is no longer trusted');
    assert.deepEqual([...after].filter((root) => root !== renewed).sort(),
      [...before].filter((root) => root !== old).sort(), 'no other root touched');
    await plain.waitForLog(START_LINE, 3);
  });

  test('the simulator, when chosen, is the library in dll\\ and the service says it simulates', async () => {
    // Both prefixes' services listen on this machine's port 443, and one that cannot listen ends
    // with a failure: the first one is stopped before the second one starts.
    assert.equal(await plain.wine('sc', 'stop', SERVICE), 0);
    await plain.waitForLog('O serviço foi parado.', 3);
    withSimulator = await Prefix.create(prefixes);
    assert.equal(await withSimulator.install('/SIMULADOR'), 0);

    const secret = await withSimulator.jwtSecret();
    assert.match(secret, /^[A-Za-z0-9]{32}$/);
    assert.notEqual(secret, await plain.jwtSecret(), 'every installation has a key of its own');
    const built = await fs.readFile(simulator);
    assert.deepEqual(await fs.readFile(withSimulator.file('dll', 'CliSiTef32I.dll')), built);
    assert.deepEqual(await fs.readFile(withSimulator.file('simulador', 'CliSiTef32I.dll')), built);
    assert.match(await fs.readFile(withSimulator.file('SvcKelvoraSiTef.ini'), 'latin1'),
      /^simulator_in_dll=1\r?$/m);
    await withSimulator.waitForLog(SIMULATOR_LINE);
  });

  test('the uninstaller removes the service and its files but keeps a backup of a pending payment', async () => {
    await fs.writeFile(withSimulator.file('TEF', 'KoCliSiTef_CliSiTef_001.tef'), 'backup');
    const ca = thumbprint((await readCertificates(withSimulator))['ca_cert.pem']);
    const roots = await withSimulator.trustedRoots();
    assert.ok(roots.has(ca));
    await withSimulator.wine(withSimulator.file('Uninstall.exe'), '/S');
    // The uninstaller runs from a copy of itself and deletes the original last.
    for (let i = 0; i < 600 && await exists(withSimulator.file('Uninstall.exe')); ++i) await sleep(100);

    assert.equal(await withSimulator.serviceKey(), null, 'the service is no longer registered');
    assert.equal(await withSimulator.eventSourceKey(), null, 'the event source is removed');
    assert.notEqual(await withSimulator.wine('sc', 'query', SERVICE), 0);
    await withSimulator.waitForLog('O serviço foi parado.');
    for (const name of ['SvcKelvoraSiTef.exe', 'kelvora-token.exe', 'Uninstall.exe', 'Certificado',
      'simulador', 'dll']) {
      assert.ok(!(await exists(withSimulator.file(name))), `${name} removed`);
    }
    assert.equal(await fs.readFile(withSimulator.file('TEF', 'KoCliSiTef_CliSiTef_001.tef'),
      'latin1'), 'backup');
    // A reinstallation that finishes the payment needs the key the sales system signs with.
    assert.ok(await exists(withSimulator.file('SvcKelvoraSiTef.ini')), 'the configuration kept');
    assert.ok(await exists(withSimulator.file('Log')), 'the logs kept');
    // Its key is gone: the CA leaves the trusted roots, every other root stays.
    roots.delete(ca);
    assert.deepEqual([...await withSimulator.trustedRoots()].sort(), [...roots].sort());
  });

  // Deployment tools run the registered quiet command and go on when its process ends: a command
  // that returned at once would let their next installation run while the files are removed.
  test('the quiet uninstall command returns once the uninstallation is done', async () => {
    const command = stringValue(await plain.registryKey(UNINSTALL_KEY), 'QuietUninstallString');
    assert.equal(command, '"C:\\Program Files\\Kelvora TEF Server\\Uninstall.exe" /S ' +
      '_?=C:\\Program Files\\Kelvora TEF Server');
    // As the tools start it: the command line exactly as registered.
    await fs.writeFile(path.join(plain.dir, 'drive_c', 'quiet.bat'), `@${command}\r\n`, 'latin1');
    assert.equal(await plain.wine('cmd', '/c', 'C:\\quiet.bat'), 0);
    assert.equal(await plain.serviceKey(), null, 'the service already removed');
    assert.equal(await plain.registryKey(UNINSTALL_KEY), null, 'the entry in "Apps" already removed');
    assert.ok(!(await exists(plain.file('SvcKelvoraSiTef.exe'))), 'the programs already removed');
    assert.ok(await exists(plain.file('Uninstall.exe')), 'in use while it ran, so kept');
    // The folder is an earlier installation's, not a foreign one.
    assert.equal(await plain.install(), 0);
    assert.ok(await exists(plain.file('SvcKelvoraSiTef.exe')));
  });
});
