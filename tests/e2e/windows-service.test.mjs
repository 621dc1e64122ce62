// SvcKelvoraSiTef.exe as a Windows service under Wine's service control manager: installed from
// a folder of its own, then started, paused, continued and stopped through the service API (by
// kelvora-svcctl.exe) with a page connected, and uninstalled. Runs in a Wine prefix of its own, so
// the service, which installs itself with automatic start, never starts in another test's prefix.
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { promisify } from 'node:util';
import {
  EVERY_ORIGIN_WARNING, buildDir, connectClient, freePort, generateCertificates, makeBaseDir, openSession,
  readServiceLogTexts, removeBaseDir, serviceBinary, sessionClaims, simulatorLibrary, waitForLogText,
  windowsBuild, wineArch, wineLoader, writeSimulatorControl,
} from './lib/index.mjs';

const run = promisify(execFile);
const NAME = 'KelvoraSiTefService';
const DESCRIPTION = 'Serviço guardião do Kelvora DataSnap Servidor- Mantenha este serviço iniciado.';
const SIMULATOR_WARNING = 'A biblioteca SiTef em dll/ é o SIMULADOR: nenhum pagamento é real.';
const svcctl = path.join(buildDir, 'tests', 'kelvora-svcctl.exe');
const SECRET = 'Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7';
const RECOVERY = 'RECOVERY restart 5000, restart 30000, restart 60000; reset 86400; on failed stop';
// Wine's service control manager refuses recovery actions as an unknown level: the install then
// warns and goes on. On Windows the actions are read back as set.
const WINE_RECOVERY = 'RECOVERY unsupported';
const RECOVERY_WARNING = 'Warning: this service control manager has no recovery actions; ' +
  'KelvoraSiTefService will not be restarted after a failure';
const PRIVILEGES_WARNING = 'Warning: this service control manager has no service SIDs or required ' +
  'privileges; KelvoraSiTefService keeps every privilege of its account';
const PRESHUTDOWN_WARNING = 'Warning: this service control manager has no pre-shutdown time; ' +
  'Windows may end KelvoraSiTefService before a payment in progress ends';

// Resolves to true when a TCP connection to the port is refused.
function refused(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); resolve(false); });
    socket.once('error', () => resolve(true));
  });
}

describe('the service under the service control manager', { skip: !windowsBuild && 'Windows build only' }, () => {
  let prefix;
  let baseDir;
  let port;
  let installed = false;
  const env = () => ({ ...process.env, WINEPREFIX: prefix, WINEDEBUG: '-all', WINEARCH: wineArch });
  const installedExe = () => path.join(baseDir, 'SvcKelvoraSiTef.exe');
  // Runs a Wine tool that leaves programs running (the wineserver, the prefix's services), so
  // its output pipes would never close: its output is dropped and only its exit is awaited.
  const detached = (command, args) => new Promise((resolve, reject) => {
    spawn(command, args, { env: env(), stdio: 'ignore' }).once('exit', resolve).once('error', reject);
  });
  const wine = async (program, ...args) => (await run(wineLoader, [program, ...args], { env: env() })).stdout;
  // The service's state once it settled after the control (RUNNING, PAUSED, STOPPED).
  const control = async (command) => (await wine(svcctl, command, NAME)).trim();

  before(async () => {
    prefix = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-wine-service-'));
    baseDir = await makeBaseDir();
    port = await freePort();
    await generateCertificates(baseDir);
    await fs.mkdir(path.join(baseDir, 'dll'));
    await fs.copyFile(serviceBinary, path.join(baseDir, 'SvcKelvoraSiTef.exe'));
    await fs.copyFile(simulatorLibrary, path.join(baseDir, 'dll', 'CliSiTef32I.dll'));
    await fs.writeFile(path.join(baseDir, 'SvcKelvoraSiTef.ini'),
      `[server]\r\nlisten=127.0.0.1\r\n[security]\r\njwt_secret=${SECRET}\r\n`);
    // One persistent server, then one boot that also makes the prefix: exactly one service
    // control manager runs, and nothing boots the prefix again (a boot starts the services with
    // automatic start by itself). "wineboot -i" would start a second manager beside the first,
    // and each request would reach either one.
    await detached('wineserver', ['-p']);
    await detached(wineLoader, ['wineboot']);
  });

  after(async () => {
    if (!prefix) return;
    if (installed) {
      await wine(svcctl, 'stop', NAME).catch(() => {});
      await wine(installedExe(), 'uninstall', 'silent').catch(() => {});
    }
    await detached('wineserver', ['-k']).catch(() => {});
    await fs.rm(prefix, { recursive: true, force: true });
    await removeBaseDir(baseDir);
  });

  const config = async () => (await wine(svcctl, 'config', NAME)).split(/\r?\n/).filter(Boolean);
  // Installs, and checks what the manager then holds: names, automatic start, description, and
  // the recovery actions (or, from a manager without them, the install's warning).
  const installAndCheck = async () => {
    const { stdout, stderr } = await run(wineLoader, [installedExe(), '--port', String(port), 'install'],
      { env: env() });
    assert.match(stdout, /Service installed successfully/);
    const lines = await config();
    assert.deepEqual(lines.slice(0, 3), [NAME, 'AUTO', DESCRIPTION]);
    const warnings = [];
    if (lines[3] === WINE_RECOVERY) warnings.push(RECOVERY_WARNING);
    else assert.equal(lines[3], RECOVERY);
    // Windows' shutdown waits three minutes for a payment in progress to end.
    if (lines[4] === 'PRESHUTDOWN unsupported') warnings.push(PRESHUTDOWN_WARNING);
    else assert.equal(lines[4], 'PRESHUTDOWN 180000');
    // Its own SID in its token, and two privileges only.
    if (lines[5] === 'PRIVILEGES unsupported') warnings.push(PRIVILEGES_WARNING);
    else assert.deepEqual(lines.slice(5, 7), ['SID unrestricted', 'PRIVILEGES SeChangeNotifyPrivilege,SeCreateGlobalPrivilege']);
    assert.deepEqual(stderr.split(/\r?\n/).filter(Boolean), warnings);
  };

  test('install registers the service with its names, description, automatic start and recovery', async () => {
    installed = true;  // from here on, also when the install fails halfway
    await installAndCheck();
    assert.equal(await control('query'), 'STOPPED');
    // Nothing boots this prefix again, but should something do so, a service with automatic
    // start would start by itself in the middle of the steps below.
    await wine(svcctl, 'demand', NAME);
  });

  // As an upgrade does: the registration already there gets this program's whole configuration.
  test('installing over the registered service applies its configuration again', async () => {
    await installAndCheck();
    await wine(svcctl, 'demand', NAME);
  });

  // The page stops reading before each pause and stop, as a frozen tab does: ending its
  // connection must not wait for the page to answer.
  let page;
  test('start: running, listening for pages, the start lines in the log', async () => {
    assert.equal(await control('start'), 'RUNNING');
    page = await connectClient(port);
    assert.deepEqual(await readServiceLogTexts(baseDir), [
      'Iniciando servidor socket.', EVERY_ORIGIN_WARNING, 'O serviço foi inciado.', SIMULATOR_WARNING,
      // Wine's code page for the test's locale; on a till set to another, a warning follows.
      'Página de código do Windows: 1252.',
    ]);
    // Windows sends a stop only to a service that accepts it, pre-shutdown to hold its shutdown
    // back, and power events to have it read its settings again after sleep.
    assert.equal((await wine(svcctl, 'accepts', NAME)).trim(),
      'STOP PAUSE_CONTINUE SHUTDOWN PRESHUTDOWN POWEREVENT');
  });

  test('pause with a silent page connected: paused, the page closed, new connections refused', async () => {
    page.ws.pause();
    assert.equal(await control('pause'), 'PAUSED');
    page.ws.resume();
    await page.waitClosed();
    assert.equal(await refused(port), true, 'a paused service accepts nothing');
  });

  test('continue: running, a page connects again', async () => {
    assert.equal(await control('continue'), 'RUNNING');
    page = await connectClient(port);
  });

  test('stop with a silent page connected: stopped, the page closed, the port closed', async () => {
    page.ws.pause();
    assert.equal(await control('stop'), 'STOPPED');
    page.ws.resume();
    await page.waitClosed();
    assert.equal(await refused(port), true);
    assert.deepEqual((await readServiceLogTexts(baseDir)).slice(5), [
      'O serviço foi pausado.',
      'Iniciando servidor socket.', EVERY_ORIGIN_WARNING, 'O serviço foi retomado.',
      'O serviço foi parado.',
    ]);
  });

  // A service that serves no page must not look running: the manager sees it stop with the
  // service's own code, and (on Windows) its recovery actions start it again later.
  test('a start while the port is taken ends stopped, with the service\'s own failure code', async () => {
    const blocker = net.createServer();
    await new Promise((resolve) => { blocker.listen(port, '127.0.0.1', resolve); });
    try {
      assert.equal(await control('start'), 'STOPPED');
      assert.equal((await wine(svcctl, 'exitcode', NAME)).trim(), '1066 3');
      const texts = await readServiceLogTexts(baseDir);
      assert.match(texts.at(-3), /^Could not bind socket on port \d+ \(127\.0\.0\.1\)/);
      assert.deepEqual(texts.slice(-2), [
        'O servidor socket não pôde ser iniciado: o serviço será encerrado com falha (código 3).',
        'O serviço foi parado.',
      ]);
    } finally {
      await new Promise((resolve) => { blocker.close(resolve); });
    }
  });

  // The stop waits for the payment to leave the library (here a slow server: every call to the
  // library takes 6 s), seconds longer than the manager's wait hint: the checkpoint must advance
  // meanwhile, or the manager reports error 1053 and Windows' shutdown ends the process.
  test('a stop during a payment in the library shows progress until the payment ends', async () => {
    assert.equal(await control('start'), 'RUNNING');
    const page = await connectClient(port);
    const { session_uuid } = await openSession(page, sessionClaims(), { secret: SECRET });
    await writeSimulatorControl(baseDir, '[delay]\ncontinue_ms=6000\n');
    const from = (await readServiceLogTexts(baseDir)).length;
    page.send(JSON.stringify({
      route: '/transaction', session_uuid, type: 'transaction', operation: '0', payer_name: 'Maria',
      transaction_value: '10,00',
    }));
    await new Promise((resolve) => { setTimeout(resolve, 1000); });

    const [checkpoints, longest, hint, state] = (await wine(svcctl, 'watch-stop', NAME)).trim()
      .split(/\r?\n/);
    assert.equal(state, 'STOPPED');
    const seen = checkpoints.split(' ').slice(1).map(Number);
    assert.ok(seen.length >= 4, `the checkpoint advanced while the stop waited: ${checkpoints}`);
    assert.deepEqual(seen, [...seen].sort((a, b) => a - b), 'in order');
    const waitHint = Number(hint.split(' ')[1]);
    assert.ok(Number(longest.split(' ')[1]) < waitHint, `${longest}, ${hint}`);
    assert.equal((await wine(svcctl, 'exitcode', NAME)).trim(), '0 0');
    await page.waitClosed();
    await waitForLogText(baseDir, 'O serviço foi parado.', { from });
    await writeSimulatorControl(baseDir, '');
  });

  test('uninstall removes the service', async () => {
    assert.match(await wine(installedExe(), 'uninstall'),
      /Service uninstalled successfully/);
    installed = false;
    await assert.rejects(wine(svcctl, 'query', NAME), (error) => {
      assert.match(error.stderr, /OpenServiceW failed: error 1060/);
      return true;
    });
  });
});
