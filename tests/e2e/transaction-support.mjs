// What the transaction tests share: a service with its own simulator copy and stub sales API and
// a client with an open session; requests, answers and messages as the page sends and reads
// them; the simulator's ledger read back; and the exact comparison of messages, member order
// included.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { afterEach } from 'node:test';
import { startSalesApi } from './lib/salesApi.mjs';
import {
  openSession, readServiceLogTexts, sessionClaims, startProtocolService, writeSimulatorControl,
} from './lib/index.mjs';

// The messages of the payment dialogue as the simulator drives it.
export const PAYMENT_MENU = {
  type: 'menu', title: 'Selecione a forma de pagamento', options: ['1:Debito', '2:Credito', '3:Pix'],
  can_cancel: false, back_menu: false,
};
export const CAN_CANCEL = { type: 'can_cancel', can_cancel: true };
export const CANCEL_QUESTION = {
  type: 'question', message: 'Deseja realmente cancelar esta operação?', options: ['Sim', 'Não'],
  can_cancel: false,
};
export const APPROVED = { type: 'result', status: 'approved', message: 'Transação TEF concluída com sucesso.' };

export function message(text) {
  return { type: 'message', message: text, options: [], can_cancel: false };
}

export function failure(status) {
  return { type: 'result', status, message: 'Transação TEF não realizada.' };
}

// Equal values with the members in the same order: JSON.parse keeps the order the service wrote.
export function assertMessage(actual, expected, what) {
  assert.equal(JSON.stringify(actual), JSON.stringify(expected), what);
}

// The ledger of the simulator copy in baseDir: one { event, ...fields } per line.
export async function readLedger(baseDir) {
  let text = '';
  try {
    text = await fs.readFile(path.join(baseDir, 'dll', 'CliSiTefSim.ledger'), 'latin1');
  } catch {
    return [];
  }
  return text.split('\n').filter((line) => line.trim() !== '').map((line) => {
    const [event, ...pairs] = line.trim().split(' ');
    const entry = { event };
    for (const pair of pairs) {
      const at = pair.indexOf('=');
      entry[pair.slice(0, at)] = decodeURIComponent(pair.slice(at + 1));
    }
    return entry;
  });
}

// The approvals that no later confirmation or undoing of the same document and date settled.
export function pendingIn(ledger) {
  const pending = [];
  for (const entry of ledger) {
    const key = `${entry.doc}/${entry.date}`;
    if (entry.event === 'APPROVED') pending.push({ key, entry });
    if (entry.event === 'CONFIRMED' || entry.event === 'UNDONE') {
      for (let i = pending.length - 1; i >= 0; i--) if (pending[i].key === key) pending.splice(i, 1);
    }
  }
  return pending.map((item) => item.entry);
}

// A running service (with the configuration file ini, if given) with the simulator (steered by
// simulatorIni) and a stub sales API (answering through respond), a client and an open session
// whose callback address is the stub's. stop() ends everything; the tests call it from their
// cleanup. service holds further options of startService.
export async function startTransactionService({
  simulatorIni = '', respond, claims = {}, ini, service,
} = {}) {
  const api = await startSalesApi({ respond });
  let svc;
  const clients = [];
  try {
    svc = await startProtocolService({ simulatorIni, ini, service });
    const session = async (client, extra = {}) => (await openSession(client,
      sessionClaims({ callback_url: api.url, ...claims, ...extra }))).session_uuid;
    const connect = async () => {
      const client = await svc.connect();
      clients.push(client);
      return client;
    };
    const client = await connect();
    const sessionUuid = await session(client);
    return {
      svc, api, client, sessionUuid, connect, session,
      // A "/transaction" request of the page; requestRaw sends one that breaks the protocol
      // reference on purpose.
      request: (members, on = client, uuid = sessionUuid) =>
        on.send(JSON.stringify({ route: '/transaction', session_uuid: uuid, ...members })),
      requestRaw: (members, on = client, uuid = sessionUuid) =>
        on.sendRaw(JSON.stringify({ route: '/transaction', session_uuid: uuid, ...members })),
      // An answer to the running dialogue's prompt.
      answer: (members, on = client) => on.send(JSON.stringify({ route: '/transaction', ...members })),
      cancel: (on = client, uuid = sessionUuid) =>
        on.send(JSON.stringify({ route: '/transaction/cancel', type: 'cancellation', session_uuid: uuid })),
      next: async (on = client, timeoutMs = 15000) => JSON.parse(await on.next(timeoutMs)),
      control: (text) => writeSimulatorControl(svc.baseDir, text),
      ledger: () => readLedger(svc.baseDir),
      logTexts: () => readServiceLogTexts(svc.baseDir),
      async stop() {
        for (const c of clients) await c.terminate();
        try {
          await svc.stop();
        } finally {
          await api.close();
        }
      },
    };
  } catch (error) {
    for (const c of clients) await c.terminate();
    await svc?.stop();
    await api.close();
    throw error;
  }
}

// Reads messages until the result, answering every prompt with answer(message) (which returns the
// answer's members, or null to leave it unanswered); returns every message read, the result last.
// The debit request most tests send.
export const PAYMENT = { type: 'transaction', operation: '0', payer_name: 'Maria', transaction_value: '10,00' };

// For a test file whose tests each start their own service: returns the starter, and stops every
// service it started once its test ends.
export function serviceWithStopAfterEach() {
  const started = [];
  afterEach(async () => {
    while (started.length > 0) await started.pop().stop();
  });
  return async (options) => {
    const t = await startTransactionService(options);
    started.push(t);
    return t;
  };
}

export async function runToResult(t, answer = () => null, on = t.client) {
  const seen = [];
  for (;;) {
    const msg = await t.next(on);
    seen.push(msg);
    if (msg.type === 'result' || msg.type === 'error') return seen;
    const members = answer(msg);
    if (members) await t.answer(members, on);
  }
}

// Chooses debit at the payment menu and acknowledges every confirmation.
export function debitAnswers(msg) {
  if (msg.type === 'menu') return { type: 'menu', response: '1:Debito', back_menu: 'false' };
  if (msg.type === 'confirmation') return { type: 'confirmation' };
  return null;
}

// Pays by debit on the client `on` with its session `uuid` and returns the messages up to the
// result (the card wait as the control file sets it).
export async function payByDebit(t, members = {}, { on = t.client, uuid = t.sessionUuid } = {}) {
  await t.request({ type: 'transaction', operation: '0', payer_name: 'Maria', transaction_value: '10,00', ...members },
    on, uuid);
  return runToResult(t, debitAnswers, on);
}

// Starts a debit on the first page and answers its prompts in the background, keeping every
// message it receives; the page goes silent when the service dies.
export async function startDebit(t) {
  const seen = [];
  await t.request(PAYMENT);
  let closed = false;
  t.client.closed.then(() => { closed = true; });
  (async () => {
    while (!closed) {
      let msg;
      try {
        msg = await t.next(t.client, 200);
      } catch {
        continue;
      }
      seen.push(msg);
      const members = debitAnswers(msg);
      if (members) await t.answer(members).catch(() => {});
    }
  })();
  return seen;
}

// Today as a page's date field gives it, in the service's (the machine's) local time.
export function localToday() {
  const d = new Date();
  return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
}

// Answers the running dialogue's prompts as `answer` says until a message of the given type.
export async function answerUntil(t, type, answer, on = t.client) {
  for (let msg = await t.next(on); msg.type !== type; msg = await t.next(on)) {
    const reply = answer(msg);
    if (reply) await t.answer(reply, on);
  }
}
