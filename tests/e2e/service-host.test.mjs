// SvcKelvoraSiTef as a service: its life cycle under signals, its service log, its listener's
// failures, and its systemd unit.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import net from 'node:net';
import path from 'node:path';
import { after, afterEach, before, describe, test } from 'node:test';
import { promisify } from 'node:util';
import {
  EVERY_ORIGIN_WARNING, LINE, connectClient, freePort, generateCertificates, makeBaseDir, readServiceLog,
  readServiceLogBytes, readServiceLogTexts, removeBaseDir, serviceBinary, startService,
} from './lib/index.mjs';

const execFileAsync = promisify(execFile);
const MONTHS = ['Janeiro', 'Fevereiro', 'Março', 'Abril', 'Maio', 'Junho', 'Julho', 'Agosto',
  'Setembro', 'Outubro', 'Novembro', 'Dezembro'];

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// A fresh base directory with certificates, removed after the test. It sets a token key of its
// own, as every installation should, so that no warning about the built-in key joins the life
// cycle's lines.
async function newBase({ certificates = true } = {}) {
  const baseDir = await makeBaseDir();
  cleanups.push(() => removeBaseDir(baseDir));
  if (certificates) await generateCertificates(baseDir);
  await fs.writeFile(path.join(baseDir, 'SvcKelvoraSiTef.ini'), '[security]\njwt_secret=Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7\n');
  return baseDir;
}

async function start(options) {
  const service = await startService(options);
  cleanups.push(() => service.stop('SIGKILL'));
  return service;
}

// Resolves to true when a TCP connection to the port is refused.
function refused(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); resolve(false); });
    socket.once('error', () => resolve(true));
  });
}

describe('life cycle', () => {
  test('start, pause, continue and stop: listener follows, log lines in order, exit 0', async () => {
    const baseDir = await newBase();
    const port = await freePort();
    const service = await start({ baseDir, port });

    const client = await connectClient(port);
    await service.pause();
    await client.waitClosed();
    assert.equal(await refused(port), true, 'a paused service accepts nothing');

    await service.resume();
    const again = await connectClient(port);
    again.terminate();

    assert.deepEqual(await service.stop('SIGTERM'), { code: 0, signal: null });
    assert.deepEqual(await readServiceLogTexts(baseDir), [
      'Iniciando servidor socket.',
      EVERY_ORIGIN_WARNING,
      'O serviço foi inciado.',
      'O serviço foi pausado.',
      'Iniciando servidor socket.',
      EVERY_ORIGIN_WARNING,
      'O serviço foi retomado.',
      'O serviço foi parado.',
    ]);
  });

  test('SIGINT stops like SIGTERM', async () => {
    const baseDir = await newBase();
    const service = await start({ baseDir, port: await freePort() });
    assert.deepEqual(await service.stop('SIGINT'), { code: 0, signal: null });
    assert.equal((await readServiceLogTexts(baseDir)).at(-1), 'O serviço foi parado.');
  });

  test('stop with a client connected closes it and exits 0', async () => {
    const baseDir = await newBase();
    const port = await freePort();
    const service = await start({ baseDir, port });
    const client = await connectClient(port);
    assert.deepEqual(await service.stop(), { code: 0, signal: null });
    await client.waitClosed();
  });

  test('a bad command line exits 2 with the usage', async () => {
    await assert.rejects(execFileAsync(serviceBinary, ['--port', 'http']), (error) => {
      assert.equal(error.code, 2);
      assert.match(error.stderr, /Usage: .*--port N/);
      return true;
    });
  });
});

describe('service log', () => {
  test('lines are "[dd/mm/yyyy hh:nn:ss] text", Windows-1252, CR LF, in Log/<Month>-<year>', async () => {
    const baseDir = await newBase();
    const service = await start({ baseDir, port: await freePort() });
    await service.stop();

    const lines = await readServiceLog(baseDir);
    assert.equal(lines.length, 4);
    for (const line of lines) assert.match(line, LINE);
    const [, dd, mm, yyyy] = LINE.exec(lines[0]);
    const month = MONTHS[Number(mm) - 1];
    const file = path.join(baseDir, 'Log', `${month}-${yyyy}`, `KelvoraSiTefService ${dd}-${mm}-${yyyy}.log`);
    const bytes = await fs.readFile(file);
    assert.deepEqual(bytes, await readServiceLogBytes(baseDir));
    assert.equal(bytes.toString('latin1').split('\r\n').length, 5, 'four lines, each ending in CR LF');
    assert.ok(bytes.includes(Buffer.from('servi\xe7o', 'latin1')), 'ç is the byte E7');
    assert.ok(!bytes.includes(Buffer.from([0xc3, 0xa7])), 'no UTF-8 in the log');
  });
});

describe('listener failures', () => {
  const cases = [
    {
      name: 'certificate files missing',
      certificates: false,
      setup: async () => {},
      reason: /certificate/i,
    },
    {
      name: 'port already taken',
      certificates: true,
      setup: async (port) => {
        const blocker = net.createServer();
        await new Promise((resolve) => blocker.listen(port, '0.0.0.0', resolve));
        cleanups.push(() => new Promise((resolve) => blocker.close(resolve)));
      },
      reason: /Could not bind socket on port \d+ \(IPv4\): Address already in use/,
    },
  ];
  for (const { name, certificates, setup, reason } of cases) {
    // A service that serves no page must not look running: systemd (Restart=on-failure) and the
    // Windows service control manager see the failure and start it again later.
    test(`${name}: the service logs why and ends with its failure code`, async () => {
      const baseDir = await newBase({ certificates });
      const port = await freePort();
      await setup(port);
      const service = await start({ baseDir, port, readyLine: null });
      assert.deepEqual(await service.exited, { code: 3, signal: null });
      const texts = await readServiceLogTexts(baseDir);
      assert.equal(texts.length, 4, texts.join('\n'));
      assert.equal(texts[0], 'Iniciando servidor socket.');
      assert.match(texts[1], reason);
      assert.deepEqual(texts.slice(2), [
        'O servidor socket não pôde ser iniciado: o serviço será encerrado com falha (código 3).',
        'O serviço foi parado.',
      ]);
    });
  }
});

describe('connections', () => {
  let baseDir;
  let port;
  let service;
  let ca;
  before(async () => {
    baseDir = await makeBaseDir();
    ({ ca } = await generateCertificates(baseDir));
    port = await freePort();
    service = await startService({ baseDir, port });
  });
  after(async () => {
    await service.stop('SIGKILL');
    await removeBaseDir(baseDir);
  });

  test('the page connects over IPv4 and IPv6 with the certificate verified; requests are answered', async () => {
    for (const host of ['127.0.0.1', '::1', 'localhost']) {
      const client = await connectClient(port, { host, ca });
      await client.send('{"route":"/version","type":"version","category":"service_exe"}');
      assert.equal(await client.next(), '{"type":"version","category":"service_exe","version":"1.0.0.4"}', host);
      client.terminate();
    }
  });

  test('a plain-text client is dropped and the service goes on', async () => {
    const socket = net.connect(port, '127.0.0.1');
    socket.on('error', () => {});
    await new Promise((resolve) => socket.once('connect', resolve));
    socket.write('GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\n\r\n');
    await new Promise((resolve) => socket.once('close', resolve));
    const client = await connectClient(port);
    client.terminate();
  });
});

describe('systemd unit', () => {
  test('install writes an enabled unit with the description; uninstall removes it', async () => {
    const unitDir = await newBase({ certificates: false });
    const baseDir = await newBase({ certificates: false });
    const env = {
      ...process.env, KELVORA_SYSTEMD_DIR: unitDir, KELVORA_PACKAGED_UNIT_DIRS: path.join(unitDir, 'none'),
      KELVORA_SERVICE_USER: 'nobody',
    };
    const unit = path.join(unitDir, 'KelvoraSiTefService.service');
    const link = path.join(unitDir, 'multi-user.target.wants', 'KelvoraSiTefService.service');

    const installed = await execFileAsync(serviceBinary, ['--port', '8443', '--base-dir', baseDir, 'install'], { env });
    assert.equal(installed.stdout, 'Service installed successfully\n');
    const text = await fs.readFile(unit, 'utf8');
    assert.match(text, /^\[Unit\]\nDescription=Serviço guardião do Kelvora DataSnap Servidor- Mantenha este serviço iniciado\.\n/);
    assert.ok(text.includes(`\nExecStart="${serviceBinary}" "--port" "8443" "--base-dir" "${baseDir}"\n`), text);
    assert.ok(text.includes('\n[Install]\nWantedBy=multi-user.target\n'), text);
    assert.equal(await fs.readlink(link), unit);

    const silent = await execFileAsync(serviceBinary, ['UNINSTALL', 'silent'], { env });
    assert.equal(silent.stdout, '');
    await assert.rejects(fs.lstat(unit));
    await assert.rejects(fs.lstat(link));

    await assert.rejects(execFileAsync(serviceBinary, ['uninstall'], { env }), (error) => {
      assert.equal(error.code, 1);
      assert.match(error.stderr, /does not exist as an installed service/);
      return true;
    });
  });
});
