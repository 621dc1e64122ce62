// scripts/demo.sh on free ports with a temporary runtime tree: the address it prints leads to the
// page and to a service that takes a payment with its token and reports it to the stub sales API,
// both trusted through the demo's CA; and however the demo ends, none of the processes it started
// is left running.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import https from 'node:https';
import net from 'node:net';
import path from 'node:path';
import { afterEach, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import {
  buildDir, connectClient, exchange, freePort, makeBaseDir, removeBaseDir,
} from './lib/index.mjs';
import { debitAnswers, runToResult } from './transaction-support.mjs';

const demoScript = fileURLToPath(new URL('../../scripts/demo.sh', import.meta.url));
const cleanups = [];
afterEach(async () => {
  while (cleanups.length > 0) await cleanups.pop()();
});

// The processes whose parent is pid, from /proc.
async function childrenOf(pid) {
  const children = [];
  for (const entry of await fs.readdir('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    const stat = await fs.readFile(`/proc/${entry}/stat`, 'utf8').catch(() => '');
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    if (Number(fields[1]) === pid) children.push(Number(entry));
  }
  return children;
}

async function commandLine(pid) {
  return (await fs.readFile(`/proc/${pid}/cmdline`, 'utf8').catch(() => '')).split('\0').join(' ');
}

// True while the process exists and has not finished (a zombie has finished).
async function running(pid) {
  const stat = await fs.readFile(`/proc/${pid}/stat`, 'utf8').catch(() => null);
  return stat !== null && stat.slice(stat.lastIndexOf(')') + 2, stat.lastIndexOf(')') + 3) !== 'Z';
}

async function waitUntil(predicate, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  while (!(await predicate())) {
    if (Date.now() > deadline) throw new Error(`timed out: ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// Starts the demo without installing or building, in a runtime tree (a new one unless given) and
// on ports (free ones unless given).
async function startDemo({ demoDir, ports } = {}) {
  const ownDir = !demoDir;
  demoDir ??= await makeBaseDir('kelvora-demo-');
  ports ??= { PORT: await freePort(), WEB_PORT: await freePort(), API_PORT: await freePort() };
  const env = {
    ...process.env, DEMO_SKIP_SETUP: '1', BUILD_DIR: buildDir, DEMO_DIR: demoDir,
    ...Object.fromEntries(Object.entries(ports).map(([name, port]) => [name, String(port)])),
  };
  const proc = spawn(demoScript, [], { env, stdio: ['ignore', 'pipe', 'pipe'] });
  const demo = { proc, demoDir, ports, output: '', children: [] };
  proc.stdout.on('data', (chunk) => { demo.output += chunk; });
  proc.stderr.on('data', (chunk) => { demo.output += chunk; });
  demo.exited = new Promise((resolve) => proc.on('exit', (code, signal) => resolve({ code, signal })));
  cleanups.push(async () => {
    proc.kill('SIGKILL');
    for (const pid of demo.children) {
      try { process.kill(-pid, 'SIGKILL'); } catch { /* already gone */ }
    }
    if (ownDir) await removeBaseDir(demoDir);
  });
  return demo;
}

// Waits for the printed page address and notes the processes the demo started.
async function demoReady(demo) {
  const address = /^ {2}(https:\/\/localhost:\d+\/\?service=\S+#token=\S+)$/m;
  await waitUntil(() => address.test(demo.output) || demo.proc.exitCode !== null, 20000, 'page address');
  assert.match(demo.output, address, demo.output);
  demo.children = await childrenOf(demo.proc.pid);
  assert.equal(demo.children.length, 3, `the service, the stub API and the page's server: ${demo.output}`);
  return new URL(address.exec(demo.output)[1]);
}

async function assertAllStopped(demo) {
  for (const pid of demo.children) {
    await waitUntil(async () => !(await running(pid)), 1000, `process ${pid} still running`);
  }
  for (const port of Object.values(demo.ports)) {
    const open = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => { socket.destroy(); resolve(true); });
      socket.on('error', () => resolve(false));
    });
    assert.equal(open, false, `port ${port} still open`);
  }
}

function getPage(url, ca) {
  return new Promise((resolve, reject) => {
    https.get(url, { ca }, (response) => {
      let body = '';
      response.on('data', (chunk) => { body += chunk; });
      response.on('end', () => resolve({ status: response.statusCode, body }));
    }).on('error', reject);
  });
}

describe('demo', () => {
  test('the printed address opens the page and a session that pays, both through the demo CA',
    async () => {
      const demo = await startDemo();
      const page = await demoReady(demo);
      assert.equal(page.port, String(demo.ports.WEB_PORT));
      assert.equal(page.searchParams.get('service'), `wss://localhost:${demo.ports.PORT}`);

      // The token is signed with the demo's own key, which the service has in its configuration.
      const ini = await fs.readFile(path.join(demo.demoDir, 'SvcKelvoraSiTef.ini'), 'utf8');
      assert.match(ini, /^jwt_secret=[A-Za-z0-9]{32}$/m);
      assert.doesNotMatch(ini, /C7Wvvi7x4WTLZzwBQnB5thxer4DRFORi/);

      const ca = await fs.readFile(path.join(demo.demoDir, 'Certificado', 'ca_cert.pem'));
      const { status, body } = await getPage(page, ca);
      assert.equal(status, 200);
      assert.match(body, /<html/i);

      const client = await connectClient(demo.ports.PORT, { host: 'localhost', ca });
      cleanups.push(async () => client.terminate());
      const reply = await exchange(client, {
        route: '/session/start', type: 'session', token: new URLSearchParams(page.hash.slice(1)).get('token'),
      });
      assert.equal(reply.type, 'session', JSON.stringify(reply));

      // A payment reaches the stub sales API through the token's callback address, and the stub
      // shows what it received and its answer.
      const dialogue = {
        client,
        next: async () => JSON.parse(await client.next(15000)),
        answer: (members) => client.send(JSON.stringify({ route: '/transaction', ...members })),
      };
      await client.send(JSON.stringify({
        route: '/transaction', type: 'transaction', session_uuid: reply.session_uuid, operation: '2',
        payer_name: 'Maria', transaction_value: '12,34',
      }));
      const result = (await runToResult(dialogue, debitAnswers)).at(-1);
      assert.equal(result.status, 'approved', JSON.stringify(result));
      await waitUntil(() => /-> 201 \{"data":1000\}/.test(demo.output), 5000, 'the stub\'s answer');
      assert.match(demo.output, /POST \/v1\/sales\/tef\/callback\/[\w-]+\.[\w-]+\.[\w-]+\n/);

      demo.proc.kill('SIGINT');
      assert.deepEqual(await demo.exited, { code: 130, signal: null });
      await assertAllStopped(demo);
    });

  test('certificates are made once and kept by the next run', async () => {
    const first = await startDemo();
    await demoReady(first);
    const file = path.join(first.demoDir, 'Certificado', 'ca_cert.pem');
    const made = await fs.readFile(file);
    first.proc.kill('SIGTERM');
    assert.deepEqual(await first.exited, { code: 143, signal: null });
    await assertAllStopped(first);

    const second = await startDemo({ demoDir: first.demoDir, ports: first.ports });
    await demoReady(second);
    assert.deepEqual(await fs.readFile(file), made);
    second.proc.kill('SIGINT');
    await second.exited;
    await assertAllStopped(second);
  });

  test('when one of its programs dies, the demo says so and stops the others', async () => {
    const demo = await startDemo();
    await demoReady(demo);
    const commands = await Promise.all(demo.children.map(commandLine));
    const stub = demo.children[commands.findIndex((line) => line.includes('stub-sales-api.mjs'))];
    process.kill(stub, 'SIGKILL');
    assert.deepEqual(await demo.exited, { code: 1, signal: null });
    assert.match(demo.output, /demo: the stub sales API exited/);
    await assertAllStopped(demo);
  });

  test('a taken port is refused before anything starts', async () => {
    const blocker = net.createServer();
    await new Promise((resolve) => blocker.listen(0, '127.0.0.1', resolve));
    cleanups.push(() => new Promise((resolve) => blocker.close(resolve)));
    const taken = blocker.address().port;
    const demo = await startDemo({ ports: { PORT: taken, WEB_PORT: await freePort(), API_PORT: await freePort() } });
    assert.deepEqual(await demo.exited, { code: 1, signal: null });
    assert.match(demo.output, new RegExp(`port ${taken} is taken`));
    assert.doesNotMatch(demo.output, /generate-certificates|listening|serving/);
  });
});
