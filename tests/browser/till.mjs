// The till the browser test drives: the service with its own simulator copy, the stub sales API,
// the page's HTTPS server and a headless chromium with a fresh profile, started together and
// stopped together, so that no process or directory outlives the test.
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { startStaticServer } from '../../tools/static-server.mjs';
import { startSalesApi } from '../e2e/lib/salesApi.mjs';
import { killHard, restartService } from '../e2e/lib/processState.mjs';
import {
  FROM_PAGE, SchemaFailures, TO_PAGE, checkProtocolMessage, sessionClaims, signToken, startProtocolService,
} from '../e2e/lib/index.mjs';

export const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--ignore-certificate-errors', '--disable-background-networking',
];

// Every wait of one step (a page load, a prompt, a result) ends within this time.
export const STEP_MS = 30000;

// Runs the cleanups last-in first-out; every one runs even when an earlier one fails, and the
// first failure is reported afterwards.
async function unwind(cleanups) {
  let failure = null;
  while (cleanups.length > 0) {
    try {
      await cleanups.pop()();
    } catch (error) {
      failure ??= error;
    }
  }
  if (failure) throw failure;
}

// Starts everything and opens no page yet. The page's address carries a session token signed with
// the service's built-in secret, whose callback address is the stub's. `received` collects every
// message the page gets from the service (parsed), `sent` every message it sends, `pageErrors`
// every uncaught page exception. Every frame both ways is held to docs/protocol/asyncapi.yaml;
// stop() fails on the first that breaks it. killService() kills the service with SIGKILL, as a
// power cut would, startServiceAgain() starts it again on the same base directory and port
// (till.svc.service is then the new process), and restartService() does both.
export async function startTill({ simulatorIni }) {
  await fs.access(CHROMIUM).catch(() => {
    throw new Error(`${CHROMIUM} not found: scripts/install-deps.sh installs the chromium package`);
  });
  const cleanups = [];
  try {
    const api = await startSalesApi();
    cleanups.push(() => api.close());
    const svc = await startProtocolService({ simulatorIni });
    cleanups.push(() => svc.stop());
    const certificates = path.join(svc.baseDir, 'Certificado');
    const web = await startStaticServer({
      cert: path.join(certificates, 'server_cert.pem'), key: path.join(certificates, 'server_key.pem'),
    });
    cleanups.push(() => web.close());

    const profile = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-chromium-'));
    cleanups.push(() => fs.rm(profile, { recursive: true, force: true }));
    const context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM, args: CHROMIUM_FLAGS, headless: true, ignoreHTTPSErrors: true,
      viewport: { width: 1280, height: 900 }, timeout: STEP_MS,
    });
    cleanups.push(() => context.close());
    context.setDefaultTimeout(STEP_MS);
    const page = context.pages()[0] ?? await context.newPage();

    const received = [];
    const sent = [];
    const pageErrors = [];
    const schemaFailures = new SchemaFailures();
    cleanups.push(() => schemaFailures.throwIfAny());
    page.on('websocket', (socket) => {
      socket.on('framesent', ({ payload }) => {
        schemaFailures.record(() => checkProtocolMessage(FROM_PAGE, String(payload)));
        try {
          sent.push(JSON.parse(String(payload)));
        } catch {
          sent.push({ unparsed: String(payload) });
        }
      });
      socket.on('framereceived', ({ payload }) => {
        schemaFailures.record(() => checkProtocolMessage(TO_PAGE, String(payload)));
        try {
          received.push(JSON.parse(String(payload)));
        } catch {
          received.push({ unparsed: String(payload) });
        }
      });
    });
    page.on('pageerror', (error) => pageErrors.push(error.message));

    const address = new URL(`https://localhost:${web.port}/`);
    address.searchParams.set('token', signToken(sessionClaims({ callback_url: api.url })));
    address.searchParams.set('service', `wss://localhost:${svc.port}`);
    const killService = () => killHard(svc.service);
    const startServiceAgain = async () => {
      const service = await restartService(svc.baseDir, svc.port);
      svc.service = service;
      cleanups.push(() => service.stop());
    };
    return {
      api, svc, page, received, sent, pageErrors, address: address.href,
      killService,
      startServiceAgain,
      restartService: async () => {
        await killService();
        await startServiceAgain();
      },
      stop: () => unwind(cleanups),
    };
  } catch (error) {
    await unwind(cleanups).catch(() => {});
    throw error;
  }
}
