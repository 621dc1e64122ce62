// The initialisation, pin-pad and version queries over the real service with the SiTef simulator
// as its library, steered through the simulator's control file.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import {
  RESUME_LINE, connectClient, errorReply, exchange, exchangeRaw, openSession, readServiceLogTexts,
  sessionClaims, startProtocolService, windowsBuild, writeSimulatorControl,
} from './lib/index.mjs';

const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// A service, a client on it and an open session.
async function sessionOn(options) {
  const svc = await startProtocolService(options);
  cleanups.push(() => svc.stop());
  const client = await svc.connect();
  cleanups.push(() => client.terminate());
  const { session_uuid } = await openSession(client);
  return { svc, client, session_uuid };
}

// How often the gateway has configured the library, from the TEF log.
async function configurations(baseDir) {
  const logDir = path.join(baseDir, 'Log');
  let count = 0;
  for (const month of await fs.readdir(logDir)) {
    for (const name of await fs.readdir(path.join(logDir, month))) {
      if (!name.startsWith('TEF-')) continue;
      const text = await fs.readFile(path.join(logDir, month, name), 'latin1');
      count += text.split('ConfiguraIntSiTefInterativoEx').length - 1;
    }
  }
  return count;
}

describe('/initialize', () => {
  test('initialises the library once and says so every time', async () => {
    const { svc, client, session_uuid } = await sessionOn();
    const request = { route: '/initialize', type: 'initialize', session_uuid };
    for (let i = 0; i < 2; i++) {
      assert.deepEqual(await exchange(client, request),
        { type: 'initialize', message: 'Inicializado com sucesso.' });
    }
    assert.equal(await configurations(svc.baseDir), 1);
    assert.deepEqual(await exchangeRaw(client, { ...request, type: 'status' }),
      errorReply('Campo type diferente de initialize.'));
  });

  test('a session of another terminal configures the library again; the same terminal does not', async () => {
    const { svc, client, session_uuid } = await sessionOn();
    const initialize = (uuid) => exchange(client, { route: '/initialize', type: 'initialize', session_uuid: uuid });
    await initialize(session_uuid);
    const same = await openSession(client);
    await initialize(same.session_uuid);
    assert.equal(await configurations(svc.baseDir), 1, 'the same terminal, store and address');
    const other = await openSession(client, sessionClaims({ secctional_code: '77' }));
    assert.equal(other.terminal_number.slice(0, 6), 'AG0077');
    await initialize(other.session_uuid);
    assert.equal(await configurations(svc.baseDir), 2);
    const logDir = path.join(svc.baseDir, 'Log');
    let text = '';
    for (const month of await fs.readdir(logDir)) {
      for (const name of await fs.readdir(path.join(logDir, month))) {
        if (name.startsWith('TEF-')) text += await fs.readFile(path.join(logDir, month, name), 'latin1');
      }
    }
    // The payment is made as the terminal the session was told.
    assert.match(text, /Configura..o do SiTef alterada pela sess.o \(terminal AG0012\d\d -> AG0077\d\d/);
    assert.match(text.split('ConfiguraIntSiTefInterativoEx').at(-1), new RegExp(`NumeroTerminal: ${other.terminal_number}`));
  });

  test('the service log says the simulator is the library, at start and at initialisation', async () => {
    const { svc, client, session_uuid } = await sessionOn();
    const atStart = 'A biblioteca SiTef em dll/ é o SIMULADOR: nenhum pagamento é real.';
    const atInit = 'A biblioteca SiTef carregada é o SIMULADOR: nenhum pagamento é real.';
    assert.deepEqual((await readServiceLogTexts(svc.baseDir)).filter((t) => t.includes('SIMULADOR')),
      [atStart]);
    await exchange(client, { route: '/initialize', type: 'initialize', session_uuid });
    assert.deepEqual((await readServiceLogTexts(svc.baseDir)).filter((t) => t.includes('SIMULADOR')),
      [atStart, atInit]);
  });

  test('a library that refuses its configuration is reported, and tried again next time', async () => {
    const { svc, client, session_uuid } = await sessionOn({ simulatorIni: '[config]\nresult=3\n' });
    const request = { route: '/initialize', type: 'initialize', session_uuid };
    assert.deepEqual(await exchange(client, request),
      errorReply('Erro ao conectar com servidor TEF: Erro ao conectar com servidor TEF'));
    await writeSimulatorControl(svc.baseDir, '');
    assert.deepEqual(await exchange(client, request),
      { type: 'initialize', message: 'Inicializado com sucesso.' });
  });

  test('without the library the initialisation fails', async () => {
    const { client, session_uuid } = await sessionOn({ simulator: false });
    const reply = await exchange(client, { route: '/initialize', type: 'initialize', session_uuid });
    assert.equal(reply.type, 'error');
    assert.ok(reply.message.startsWith('Erro ao conectar com servidor TEF: '), reply.message);
  });
});

// Windows tells a service of a resume only from the system (the service test checks the service
// asks for those events); the signal the systemd unit's reload sends runs the same steps.
describe('after the machine resumes from sleep', {
  skip: windowsBuild ? 'power events come from Windows alone' : false,
}, () => {
  test('the settings are read again and the library is set up afresh at the next operation', async () => {
    const { svc, client, session_uuid } = await sessionOn();
    await exchange(client, { route: '/initialize', type: 'initialize', session_uuid });
    assert.equal(await configurations(svc.baseDir), 1);

    // Changed while the till slept.
    await fs.writeFile(path.join(svc.baseDir, 'SvcKelvoraSiTef.ini'),
      '[security]\nallowed_origins=https://caixa.example\n');
    await svc.service.resumeFromSleep();
    await client.waitClosed();
    const texts = await readServiceLogTexts(svc.baseDir);
    assert.deepEqual(texts.slice(texts.lastIndexOf('Iniciando servidor socket.')),
      ['Iniciando servidor socket.', RESUME_LINE], 'a listener with the new origins, no warning');

    const again = await connectClient(svc.port, { origin: 'https://caixa.example' });
    cleanups.push(() => again.terminate());
    const renewed = (await openSession(again)).session_uuid;
    for (let i = 0; i < 2; i++) {
      assert.deepEqual(await exchange(again, { route: '/initialize', type: 'initialize', session_uuid: renewed }),
        { type: 'initialize', message: 'Inicializado com sucesso.' });
    }
    assert.equal(await configurations(svc.baseDir), 2, 'configured afresh, once');
  });
});

describe('/pinpad/status', () => {
  test('reports each pin-pad state the library gives', async () => {
    const { svc, client, session_uuid } = await sessionOn();
    const request = { route: '/pinpad/status', type: 'status', session_uuid };
    const cases = [
      ['1', 'connected', 'PinPad conectado'],
      ['0', 'disconnected', 'Nenhum PinPad conectado'],
      ['-1', 'error', 'Erro na dll ou arquivo de configuração do PinPad'],
      ['7', '', ''],
    ];
    for (const [state, status, message] of cases) {
      await writeSimulatorControl(svc.baseDir, `[pinpad]\nstatus=${state}\n`);
      assert.deepEqual(await exchange(client, request), { type: 'status', status, message }, state);
    }
    assert.deepEqual(await exchangeRaw(client, { ...request, type: 'pinpad' }),
      errorReply('Campo type diferente de pinpad.'));
  });

  test('initialises the library first, and reports when that fails', async () => {
    const { svc, client, session_uuid } = await sessionOn({ simulatorIni: '[config]\nresult=2\n' });
    const request = { route: '/pinpad/status', type: 'status', session_uuid };
    assert.deepEqual(await exchange(client, request),
      errorReply('Erro ao verificar pinpad: Erro ao conectar com servidor TEF'));
    await writeSimulatorControl(svc.baseDir, '[pinpad]\nstatus=1\n');
    assert.deepEqual(await exchange(client, request),
      { type: 'status', status: 'connected', message: 'PinPad conectado' });
    assert.equal(await configurations(svc.baseDir), 2);
  });
});

describe('/version', () => {
  test('reports the service\'s version and the library\'s, and refuses other categories', async () => {
    const svc = await startProtocolService();
    cleanups.push(() => svc.stop());
    const client = await svc.connect();
    cleanups.push(() => client.terminate());
    const version = (category) => exchange(client, { route: '/version', type: 'version', category });

    assert.deepEqual(await version('service_exe'),
      { type: 'version', category: 'service_exe', version: '1.0.0.4' });
    // Before any session start the gateway has no library directory of its own.
    assert.deepEqual(await version('clisitef_dll'),
      { type: 'version', category: 'clisitef_dll', version: 'Versão não encontrada' });
    await openSession(client);
    assert.deepEqual(await version('clisitef_dll'),
      { type: 'version', category: 'clisitef_dll', version: '6.2.0.1-sim' });

    for (const category of ['CliSiTef_DLL', 'service', '']) {
      assert.deepEqual(await exchangeRaw(client, { route: '/version', type: 'version', category }),
        errorReply('Categoria inválida. Valores permitidos [service_exe, clisitef_dll]'), category);
    }
    assert.deepEqual(await exchangeRaw(client, { route: '/version', type: 'version' }),
      errorReply('Erro ao verificar pinpad: Campo category nao encontrado.'));
    assert.deepEqual(await exchangeRaw(client, { route: '/version', type: 'versions', category: 'service_exe' }),
      errorReply('Campo type diferente de version.'));
    assert.deepEqual(await exchangeRaw(client, { route: '/version', category: 'service_exe' }),
      errorReply('Campo type nao encontrado.'));
  });

  test('reads the library [sitef] library names at the query, before any session start', async () => {
    const svc = await startProtocolService({ ini: '[sitef]\nlibrary=dll/CliSiTef32I.dll\n' });
    cleanups.push(() => svc.stop());
    const client = await svc.connect();
    cleanups.push(() => client.terminate());
    assert.deepEqual(await exchange(client, { route: '/version', type: 'version', category: 'clisitef_dll' }),
      { type: 'version', category: 'clisitef_dll', version: '6.2.0.1-sim' });
  });
});

describe('several clients at once', () => {
  test('each gets its own replies while the others start sessions, initialise and leave', async () => {
    const svc = await startProtocolService();
    cleanups.push(() => svc.stop());
    const rounds = async (n) => {
      const client = await svc.connect();
      try {
        for (let round = 0; round < 5; round++) {
          const store = `0000${n}${round}00`;
          const session = await openSession(client, sessionClaims({ store_code: store, secctional_code: String(n) }));
          assert.equal(session.store_code, store);
          const { session_uuid } = session;
          assert.deepEqual(await exchange(client, { route: '/initialize', type: 'initialize', session_uuid }),
            { type: 'initialize', message: 'Inicializado com sucesso.' });
          assert.equal((await exchange(client, { route: '/version', type: 'version', category: 'clisitef_dll' })).version,
            '6.2.0.1-sim');
          assert.equal((await exchange(client, { route: '/session/finish', type: 'session', session_uuid })).status,
            'finished');
        }
      } finally {
        await client.terminate();
      }
    };
    await Promise.all([1, 2, 3, 4].map(rounds));
  });
});
