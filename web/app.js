// The reference point-of-sale page: drives Kelvora TEF Server through its client library
// (@kelvora/tef-client, served under /tef-client/) with the session token in its address, shows
// the service's state, and runs payments, cancellations and reprints, relaying every prompt of
// the payment dialogue to the cashier. Each payment's idempotency key is kept with its sale, so
// that a reloaded page asks the service what became of the sale's last attempt before it lets
// the cashier charge again.
import { TefClient } from './tef-client/index.js';
import {
  readCancellation, readPayment, readReprint, readSaleId,
} from './forms.js';
import { ReceiptList, showResult } from './outcome.js';
import { el } from './dom.js';
import { PromptView } from './prompts.js';
import { QrView } from './qr.js';
import { RecoveredList, SaleStateView } from './recovery.js';
import { SaleStatus } from './sale-status.js';
import {
  OUTCOME, SaleRecords, pageStorage, tokenSaleId,
} from './sales.js';
import {
  centsToRequestText, describeFailure, formatMoney, isSimulatorVersion, localDateInputValue,
  parseAmountToCents,
} from './texts.js';

// Initialising SiTef and asking the pin-pad may take a while with a real server behind.
const QUERY_TIMEOUT_MS = 60000;
const SESSION_ERRORS = ['SESSION_INVALID', 'SESSION_EXPIRED'];
// Results that show the attempt ended without a charge.
const ENDED_RESULTS = ['unauthorized', 'canceled', 'interrupted'];
const PINPAD_STATES = {
  connected: 'Pin-pad conectado',
  disconnected: 'Nenhum pin-pad conectado',
  error: 'Erro no pin-pad ou na sua configuração',
};

const byId = (id) => document.getElementById(id);
const ui = {
  banner: byId('simulation-banner'), connection: byId('connection-state'), session: byId('session-state'),
  pinpad: byId('pinpad-state'), pinpadCheck: byId('pinpad-check'), versionService: byId('version-service'),
  versionLibrary: byId('version-clisitef'), error: byId('error-panel'), status: byId('status-line'),
  operation: byId('operation-panel'), cancel: byId('cancel-button'), result: byId('result-panel'),
  forms: [byId('payment-form'), byId('cancellation-form'), byId('reprint-form')],
  payButton: byId('pay-button'),
  payment: { amount: byId('amount'), payer: byId('payer'), installments: byId('installments'), operation: byId('payment-operation'), saleId: byId('sale-id') },
  cancellation: { nsu: byId('cancellation-nsu'), date: byId('cancellation-date'), amount: byId('cancellation-amount') },
  reprint: { operation: byId('reprint-operation') },
};

const address = new URLSearchParams(window.location.search);
const token = takeToken();
const serviceUrl = address.get('service') || defaultServiceUrl();
const LOCAL_HOSTS = ['localhost', '127.0.0.1', '[::1]'];

const prompts = new PromptView(byId('prompt-area'));
const qr = new QrView(byId('qr-area'));
const receipts = new ReceiptList(byId('receipts'));
const records = new SaleRecords(pageStorage());
const recovered = new RecoveredList(byId('recovered-notice'), byId('recovered-list'));
const tokenSale = tokenSaleId(token);

const state = {
  client: null,
  ready: false,          // connected with a session
  everReady: false,
  operation: null,       // { kind } while a payment, cancellation or reprint runs
  line: Promise.resolve(),
  sessionSale: tokenSale, // the sale the session's payments are for, unless the form names one
};

const saleStatus = new SaleStatus({
  records,
  view: new SaleStateView(byId('sale-state'), { onReprint: () => runOperation('reprint', readReprint(ui.reprint).request) }),
  payButton: ui.payButton,
  currentSale,
  ask: (key) => serial(() => withSession(() => state.client.status({ idempotencyKey: key }))),
  connected: () => state.ready,
  idle: () => state.operation === null,
});

// The session token, from the address's fragment (#token=...) or, as before, its query. The
// fragment never reaches a server; the token is then taken out of the address bar, so that it
// stays neither in the history nor in an address the cashier copies or shares.
function takeToken() {
  const fragment = new URLSearchParams(window.location.hash.slice(1));
  const fromFragment = fragment.get('token');
  if (fromFragment === null) return address.get('token') ?? '';
  fragment.delete('token');
  const rest = fragment.toString();
  history.replaceState(history.state, '', `${window.location.pathname}${window.location.search}${rest ? `#${rest}` : ''}`);
  return fromFragment;
}

// wss on the page's own host at port 8443, unless the address names the service.
function defaultServiceUrl() {
  return `wss://${window.location.hostname || 'localhost'}:8443`;
}

// The service runs on the till itself. A link naming any other machine could put a stranger's
// prompts (asking for a card number, say) in front of the cashier, so only this computer and the
// page's own host are accepted.
function isAllowedService(url) {
  try {
    const parsed = new URL(url);
    return ['wss:', 'ws:'].includes(parsed.protocol)
      && (LOCAL_HOSTS.includes(parsed.hostname) || parsed.hostname === window.location.hostname);
  } catch {
    return false;
  }
}

// ---- service state shown in the header -------------------------------------------------------

function setChip(node, dataState, text) {
  node.dataset.state = dataState;
  node.textContent = text;
}

function showError(text, { detail = null, link = null } = {}) {
  ui.error.replaceChildren(el('p', { 'data-testid': 'error-message' }, text));
  if (link) ui.error.append(el('p', {}, el('a', { href: link, target: '_blank', rel: 'noreferrer' }, link)));
  if (detail) ui.error.append(el('p', { class: 'detail', 'data-testid': 'error-detail' }, `Detalhe técnico: ${detail}`));
  ui.error.hidden = false;
}

function showFailure(error) {
  const { text, detail } = describeFailure(error);
  showError(text, { detail });
}

function clearError() {
  ui.error.hidden = true;
  ui.error.replaceChildren();
}

// The forms take requests only when connected with a session and no dialogue running.
function updateForms() {
  const ready = state.ready && state.operation === null;
  for (const form of ui.forms) form.querySelector('fieldset').disabled = !ready;
  ui.pinpadCheck.disabled = !ready;
  ui.operation.dataset.state = state.operation ? 'running' : 'idle';
}

function setCanCancel(value) {
  ui.cancel.disabled = !value;
  ui.cancel.dataset.canCancel = value ? 'true' : 'false';
}

// ---- calls to the service ---------------------------------------------------------------------

// The library runs one call at a time and refuses a second one with BUSY; the page's calls wait
// for each other here instead, so that a payment asked for during the start-up queries simply
// follows them.
function serial(task) {
  const run = state.line.then(task, task);
  state.line = run.catch(() => {});
  return run;
}

// A call on the open session; when the service no longer knows the session (it was restarted, or
// the session ran out) a new one is opened and the call made once more: a refused session check
// means the call did nothing.
async function withSession(call) {
  try {
    return await call();
  } catch (error) {
    if (!SESSION_ERRORS.includes(error?.code)) throw error;
    await state.client.renewSession();
    return call();
  }
}

async function queryVersions() {
  for (const [category, node] of [['service_exe', ui.versionService], ['clisitef_dll', ui.versionLibrary]]) {
    try {
      const { version } = await serial(() => state.client.version(category));
      node.textContent = version;
      if (category === 'clisitef_dll') showSimulation(isSimulatorVersion(version));
    } catch {
      node.textContent = 'não informada';
    }
  }
}

// The simulator takes no real money: the banner keeps a till from mistaking its payments for real ones.
function showSimulation(simulated) {
  ui.banner.hidden = !simulated;
  document.body.classList.toggle('simulated', simulated);
  document.title = `${simulated ? '[SIMULAÇÃO] ' : ''}Kelvora TEF — Caixa`;
}

// An initialisation may confirm payments an earlier run of the service left approved: their
// confirmations are shown like any other, and their results come as "recovered" events.
const recoveryHandlers = { onConfirmation: (confirmation) => prompts.ask('confirmation', confirmation) };

// Takes away a leftover's answered confirmation once its query is over.
function clearIdlePrompt() {
  if (!state.operation) prompts.clear();
}

async function initialize() {
  try {
    await serial(() => withSession(() => state.client.initialize(recoveryHandlers)));
    return true;
  } catch (error) {
    if (error?.fromService) showFailure(error);
    return false;
  } finally {
    clearIdlePrompt();
  }
}

async function checkPinpad() {
  setChip(ui.pinpad, 'checking', 'Pin-pad: verificando…');
  try {
    const reply = await serial(() => withSession(() => state.client.pinpadStatus(recoveryHandlers)));
    const known = PINPAD_STATES[reply.status];
    setChip(ui.pinpad, known ? reply.status : 'unknown', known ?? `Pin-pad: ${reply.message || 'estado desconhecido'}`);
  } catch (error) {
    if (error?.fromService) {
      setChip(ui.pinpad, 'error', 'Pin-pad: falha na verificação');
      showFailure(error);
    } else {
      setChip(ui.pinpad, 'unknown', 'Pin-pad: sem resposta (o TEF pode estar ocupado)');
    }
  } finally {
    clearIdlePrompt();
  }
}

// Everything the page asks after each (re)connection.
async function startUp() {
  if (document.activeElement === document.body && !state.operation) ui.payment.amount.focus();
  await queryVersions();
  // Before the initialisation, which may take long: the sale's state must be known before the
  // cashier can think of charging it again.
  await saleStatus.check();
  await initialize();
  await checkPinpad();
}

// ---- the sale's earlier attempts --------------------------------------------------------------

// The sale a payment started now would be for: the one typed in the form, else the session's;
// null when the typed number is not a sale number or the token names none.
function currentSale() {
  const typed = readSaleId(ui.payment.saleId.value);
  return typed === undefined ? state.sessionSale : typed;
}

// A payment the service confirmed for an earlier run: shown in the notice, and, when it was this
// page's own attempt, its sale is paid.
function onRecovered({ result, saleId, idempotencyKey }) {
  recovered.add(saleId, result);
  saleStatus.paidByLeftover(idempotencyKey, state.operation === null);
}

// ---- the payment dialogue ---------------------------------------------------------------------

// Each prompt of the dialogue is drawn for the cashier, who answers it; the others only inform.
const handlers = {
  onMenu: (menu) => prompts.ask('menu', menu),
  onCollect: (field) => prompts.ask('collect', field),
  onQuestion: (question) => prompts.ask('question', question),
  onConfirmation: (confirmation) => prompts.ask('confirmation', confirmation),
  onMessage: ({ message }) => { ui.status.textContent = message; },
  onQrCode: ({ data }) => {
    if (prompts.kind === 'waiting') prompts.clear();
    qr.show(data);
  },
  onReceipt: ({ copyNumber, lines }) => receipts.add(copyNumber, lines),
  onCanCancel: setCanCancel,
};

// A payment goes out with its sale's key: the last attempt's while its outcome is unknown, else a
// new one, which is stored with the sale before the request leaves.
function pay(request, saleId) {
  if (saleId === null) return state.client.pay(request, handlers);
  const stored = { cents: parseAmountToCents(request.amount), payerName: request.payerName };
  return state.client.pay({ ...request, idempotencyKey: records.reusableKey(saleId) },
    { ...handlers, onKey: (key) => records.begin(saleId, key, stored) });
}

const CALLS = {
  transaction: (request, saleId) => pay(request, saleId),
  cancellation: (request) => state.client.cancelPayment(request, handlers),
  reprint: (request) => state.client.reprint(request, handlers),
};

// What a payment's result says of its sale's attempt; the session's sale follows a payment that
// named another one, as the service's does (unless a new session replaced it meanwhile).
function settlePayment(request, saleId, sessionUuid, result) {
  if (request.saleId !== undefined && state.client.session?.sessionUuid === sessionUuid) state.sessionSale = request.saleId;
  if (saleId === null || !result.idempotencyKey) return;
  if (result.status === 'approved') records.settle(saleId, result.idempotencyKey, OUTCOME.paid);
  else if (ENDED_RESULTS.includes(result.status)) records.settle(saleId, result.idempotencyKey, OUTCOME.ended);
}

// Runs one payment, cancellation or reprint. The operation is marked as running before anything
// is awaited, so that a double click or a second Enter can never start a second one; a payment
// of a sale that is paid, or whose attempt still runs, is never started.
async function runOperation(kind, request) {
  if (state.operation || !state.ready) return;
  if (kind === 'transaction' && saleStatus.blocked) return;
  // The sale is taken now: a new session during the payment (a reconnection) resets the session's.
  const saleId = kind === 'transaction' ? request.saleId ?? state.sessionSale : null;
  const sessionUuid = state.client.session?.sessionUuid;
  state.operation = { kind };
  // The sale's earlier attempt is settled by now (its state allowed this one); this one's outcome
  // goes to the result panel.
  if (kind === 'transaction') saleStatus.hide();
  clearError();
  prompts.clear();
  qr.clear();
  receipts.clear();
  ui.result.hidden = true;
  setCanCancel(false);
  ui.status.textContent = 'Iniciando a operação…';
  updateForms();
  try {
    const result = await serial(() => withSession(() => CALLS[kind](request, saleId)));
    if (kind === 'transaction') settlePayment(request, saleId, sessionUuid, result);
    if (result.recovered) recovered.add(result.saleId, result);
    endOperation();
    showResult(ui.result, result, kind, receipts);
    if (result.status === 'approved' && kind === 'transaction') clearPaymentForm();
    ui.result.focus();
  } catch (error) {
    endOperation();
    showFailure(error);
    // The library could not learn how the payment ended: the sale's state is asked again, once
    // the service can tell.
    if (kind === 'transaction' && error?.idempotencyKey) saleStatus.check();
  }
}

function endOperation() {
  state.operation = null;
  prompts.clear();
  qr.clear();
  setCanCancel(false);
  ui.status.textContent = '';
  updateForms();
}

function cancelOperation() {
  if (ui.cancel.disabled || !state.operation) return;
  if (state.client.abort()) ui.status.textContent = 'Cancelamento solicitado…';
}

function clearPaymentForm() {
  ui.payment.amount.value = '';
  ui.payment.payer.value = '';
  ui.payment.installments.value = '1';
  ui.payment.saleId.value = '';
  updatePayButton();
}

// Writes an amount the way it will be charged ("5" becomes "5,00"), so the cashier sees it.
function tidyAmount(field) {
  const cents = parseAmountToCents(field.value);
  if (cents !== null) field.value = centsToRequestText(cents);
}

function updatePayButton() {
  const cents = parseAmountToCents(ui.payment.amount.value);
  ui.payButton.textContent = cents ? `Pagar ${formatMoney(cents / 100)}` : 'Pagar';
}

// ---- wiring -----------------------------------------------------------------------------------

function bindForm(form, reader, kind) {
  const errorNode = form.querySelector('.form-error');
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const parsed = reader();
    if (parsed.error) {
      errorNode.textContent = parsed.error;
      errorNode.hidden = false;
      parsed.field.focus();
      return;
    }
    errorNode.hidden = true;
    runOperation(kind, parsed.request);
  });
}

function bindPage() {
  bindForm(byId('payment-form'), () => readPayment(ui.payment), 'transaction');
  bindForm(byId('cancellation-form'), () => readCancellation(ui.cancellation), 'cancellation');
  bindForm(byId('reprint-form'), () => readReprint(ui.reprint), 'reprint');
  ui.payment.amount.addEventListener('input', updatePayButton);
  ui.payment.saleId.addEventListener('input', () => saleStatus.saleTyped());
  ui.cancellation.date.max = localDateInputValue();
  ui.cancel.addEventListener('click', cancelOperation);
  ui.pinpadCheck.addEventListener('click', async () => {
    ui.pinpadCheck.disabled = true;
    if (await initialize()) clearError();
    await checkPinpad();
    updateForms();
  });
  for (const field of [ui.payment.amount, ui.cancellation.amount]) field.addEventListener('change', () => tidyAmount(field));
  // A held Enter repeats: without this guard it would answer each new prompt as it appears.
  document.addEventListener('keydown', (event) => {
    if (event.repeat && event.key === 'Enter' && event.target instanceof Node && byId('prompt-area').contains(event.target)) {
      event.preventDefault();
    }
  }, { capture: true });
  document.addEventListener('keydown', (event) => {
    if (event.repeat) return;
    const editing = event.target instanceof HTMLElement && event.target.matches('input, textarea, select');
    if ((!editing || event.key === 'Escape') && prompts.handleKey(event)) {
      event.preventDefault();
    } else if (event.key === 'Escape' && state.operation && !ui.cancel.disabled) {
      event.preventDefault();
      cancelOperation();
    }
  });
}

// The connection's state in the header. Every time the client is ready again (a new connection
// with a new session) the page asks its start-up queries again.
function onState({ state: connection, retryInMs, error }) {
  const wasReady = state.ready;
  state.ready = connection === 'ready';
  if (state.ready) {
    setChip(ui.connection, 'connected', 'Conectado');
    if (!state.everReady) clearError();
    state.everReady = true;
    if (!wasReady) startUp();
  } else {
    setChip(ui.session, 'none', 'Sem sessão');
    setChip(ui.pinpad, 'unknown', 'Pin-pad: —');
    if (connection === 'connecting') setChip(ui.connection, 'connecting', 'Conectando ao serviço…');
    if (connection === 'closed') setChip(ui.connection, 'closed', 'Desconectado');
    // A refusal no new try can mend (the token, say): the library stops, and the page says why.
    if (connection === 'failed') {
      setChip(ui.connection, 'error', 'Conexão recusada');
      setChip(ui.session, 'error', 'Sem sessão');
      if (error) showFailure(error);
    }
    if (connection === 'waiting') {
      setChip(ui.connection, 'waiting', `Sem conexão — nova tentativa em ${Math.round(retryInMs / 1000)} s`);
      if (!state.everReady && ui.error.hidden) showNoService();
    }
  }
  updateForms();
}

// The service could never be reached: it is not running, or the browser does not trust its
// certificate yet.
function showNoService() {
  const https = serviceUrl.replace(/^wss:/i, 'https:');
  showError(`Não foi possível conectar ao serviço de pagamento em ${serviceUrl}. Verifique se o Kelvora TEF Server está em execução neste computador.`
    + (https !== serviceUrl ? ' No primeiro uso, abra o endereço abaixo neste navegador e aceite o certificado do serviço.' : ''),
  { link: https !== serviceUrl ? https : null });
}

// A new session is for the token's sale again, whatever sale the previous one's payments named.
function onSession(session) {
  state.sessionSale = tokenSale;
  const where = [session.storeCode && `loja ${session.storeCode}`, session.terminalNumber && `terminal ${session.terminalNumber}`]
    .filter(Boolean).join(', ');
  setChip(ui.session, 'active', `Sessão ativa${where ? ` (${where})` : ''}`);
}

// A session the service would not start or renew (a refused token, say); the library's other
// warnings are told by the connection's state.
function onBackgroundError(error) {
  if (!error?.fromService) return;
  setChip(ui.session, 'error', 'Sem sessão');
  showFailure(error);
}

function main() {
  bindPage();
  updateForms();
  updatePayButton();
  saleStatus.check();
  if (token === '') {
    setChip(ui.connection, 'no-token', 'Sem token de acesso');
    showError('Esta página deve ser aberta pelo sistema de vendas: falta o token de acesso no endereço.');
    return;
  }
  if (!isAllowedService(serviceUrl)) {
    setChip(ui.connection, 'invalid', 'Endereço do serviço não permitido');
    showError(`O endereço do serviço de pagamento não é deste computador e foi recusado: ${serviceUrl}`);
    return;
  }
  state.client = new TefClient({ url: serviceUrl, getToken: () => token, replyTimeoutMs: QUERY_TIMEOUT_MS });
  state.client.on('state', onState);
  state.client.on('session', onSession);
  state.client.on('error', onBackgroundError);
  state.client.on('recovered', onRecovered);
  state.client.connect().catch(() => {});
}

main();
