// The reference point-of-sale page: connects to Kelvora TEF Server, opens a session from the token
// in its address, shows the service's state, and runs payments, cancellations and reprints,
// relaying every prompt of the payment dialogue to the cashier.
import { ServiceConnection, ServiceError } from './connection.js';
import { readCancellation, readPayment, readReprint } from './forms.js';
import { ReceiptList, showResult } from './outcome.js';
import { el } from './dom.js';
import { PromptView } from './prompts.js';
import { QrView } from './qr.js';
import {
  centsToRequestText, describeServiceError, formatMoney, isSimulatorVersion, localDateInputValue, parseAmountToCents,
} from './texts.js';

const SILENCE_LIMIT_MS = 60000;
const RENEW_BEFORE_MS = 60000;
const SESSION_ERRORS = ['Sessão expirada.', 'Sessão inválida.'];
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

const connection = new ServiceConnection(serviceUrl);
const prompts = new PromptView(byId('prompt-area'), { onAnswer: sendAnswer });
const qr = new QrView(byId('qr-area'));
const receipts = new ReceiptList(byId('receipts'));

const state = {
  session: null,          // { uuid, expiration }
  renewTimer: null,
  renewDue: false,
  everConnected: false,
  operation: null,        // { kind, request, heard, retried } while a dialogue runs
  lastKind: 'transaction',
  silenceTimer: null,
};

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

function showServiceError(message) {
  const { text, detail } = describeServiceError(message);
  showError(text, { detail });
}

function clearError() {
  ui.error.hidden = true;
  ui.error.replaceChildren();
}

// The forms take requests only with an open connection, a session and no dialogue running.
function updateForms() {
  const ready = connection.isOpen && state.session !== null && state.operation === null;
  for (const form of ui.forms) form.querySelector('fieldset').disabled = !ready;
  ui.pinpadCheck.disabled = !ready;
  ui.operation.dataset.state = state.operation ? 'running' : 'idle';
}

function setCanCancel(value) {
  ui.cancel.disabled = !value;
  ui.cancel.dataset.canCancel = value ? 'true' : 'false';
}

// ---- session and queries ----------------------------------------------------------------------

async function startSession() {
  setChip(ui.session, 'starting', 'Abrindo sessão…');
  try {
    const reply = await connection.request({ route: '/session/start', type: 'session', token }, ['session'],
      { accept: (message) => message.status === 'created' });
    const previous = state.session;
    state.session = { uuid: String(reply.session_uuid ?? ''), expiration: new Date(reply.expiration) };
    const where = [reply.store_code && `loja ${reply.store_code}`, reply.terminal_number && `terminal ${reply.terminal_number}`].filter(Boolean).join(', ');
    setChip(ui.session, 'active', `Sessão ativa${where ? ` (${where})` : ''}`);
    scheduleRenewal();
    if (previous && previous.uuid !== state.session.uuid) finishSession(previous.uuid);
    return true;
  } catch (error) {
    state.session = null;
    setChip(ui.session, 'error', 'Sem sessão');
    if (error instanceof ServiceError) showServiceError(error.message);
    else if (connection.isOpen) showError('O serviço de pagamento não abriu a sessão. Recarregue a página.');
    return false;
  } finally {
    updateForms();
  }
}

// The old session is let go once a new one replaces it; a failure here changes nothing for the till.
function finishSession(uuid) {
  connection.request({ route: '/session/finish', type: 'session', session_uuid: uuid }, ['session'],
    { accept: (message) => message.status === 'finished' }).catch(() => {});
}

// A session lasts 30 minutes from its start and is not extended by use: a new one is opened with
// the same token shortly before it ends, or right after the dialogue running at that time.
function scheduleRenewal() {
  clearTimeout(state.renewTimer);
  const left = state.session.expiration.getTime() - Date.now() - RENEW_BEFORE_MS;
  const delay = Number.isFinite(left) ? Math.min(Math.max(left, 5000), 29 * 60000) : 29 * 60000;
  state.renewTimer = setTimeout(() => {
    if (state.operation) state.renewDue = true;
    else startSession();
  }, delay);
}

// A query on the open session; when the service no longer knows the session it is opened again
// and the query repeated once (a refused session check means the query did nothing).
async function call(message, replyTypes, options) {
  const send = () => connection.request({ ...message, session_uuid: state.session?.uuid ?? '' }, replyTypes, options);
  try {
    return await send();
  } catch (error) {
    if (!(error instanceof ServiceError) || !SESSION_ERRORS.includes(error.message)) throw error;
    if (!(await startSession())) throw error;
    return send();
  }
}

async function queryVersions() {
  for (const [category, node] of [['service_exe', ui.versionService], ['clisitef_dll', ui.versionLibrary]]) {
    try {
      const reply = await connection.request({ route: '/version', type: 'version', category }, ['version'],
        { accept: (message) => message.category === category });
      node.textContent = String(reply.version ?? '');
      if (category === 'clisitef_dll') showSimulation(isSimulatorVersion(reply.version));
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

async function initialize() {
  try {
    await call({ route: '/initialize', type: 'initialize' }, ['initialize'], { timeoutMs: 90000 });
    return true;
  } catch (error) {
    if (error instanceof ServiceError) showServiceError(error.message);
    return false;
  }
}

async function checkPinpad() {
  setChip(ui.pinpad, 'checking', 'Pin-pad: verificando…');
  try {
    const reply = await call({ route: '/pinpad/status', type: 'status' }, ['status'], { timeoutMs: 60000 });
    const known = PINPAD_STATES[reply.status];
    setChip(ui.pinpad, known ? reply.status : 'unknown', known ?? `Pin-pad: ${reply.message || 'estado desconhecido'}`);
  } catch (error) {
    if (error instanceof ServiceError) {
      setChip(ui.pinpad, 'error', 'Pin-pad: falha na verificação');
      showServiceError(error.message);
    } else {
      setChip(ui.pinpad, 'unknown', 'Pin-pad: sem resposta (o TEF pode estar ocupado)');
    }
  }
}

// Everything the page asks after each (re)connection.
async function startUp() {
  if (!(await startSession())) return;
  if (document.activeElement === document.body && !state.operation) ui.payment.amount.focus();
  await queryVersions();
  await initialize();
  await checkPinpad();
}

// ---- the payment dialogue ---------------------------------------------------------------------

// Sends one "/transaction" request. The operation is marked as running before anything is
// awaited, so that a double click or a second Enter can never send a second request.
async function startOperation(kind, members) {
  if (state.operation || !state.session) return;
  const operation = { kind, request: null, heard: false, retried: false };
  state.operation = operation;
  state.lastKind = kind;
  clearError();
  prompts.clear();
  qr.clear();
  receipts.clear();
  ui.result.hidden = true;
  setCanCancel(false);
  ui.status.textContent = 'Iniciando a operação…';
  updateForms();
  await connection.whenIdle();
  if (state.operation !== operation) return;
  operation.request = { route: '/transaction', type: kind, session_uuid: state.session?.uuid ?? '', ...members };
  if (!state.session || !connection.send(operation.request)) {
    endOperation();
    showError('Sem conexão com o serviço de pagamento. Aguarde a reconexão e tente de novo.');
    return;
  }
  armSilenceTimer();
}

// A request that the service drops without a word (it does so while another till's operation
// runs) would leave the page waiting for ever: after a minute without any message, let go.
function armSilenceTimer() {
  clearTimeout(state.silenceTimer);
  state.silenceTimer = setTimeout(() => {
    if (!state.operation || state.operation.heard) return;
    endOperation();
    showError('O serviço de pagamento não respondeu ao pedido. Outra operação TEF pode estar em andamento neste computador; aguarde e tente de novo.');
  }, SILENCE_LIMIT_MS);
}

// Any message of a dialogue shows that the service is working on the request. A prompt that
// waits for the cashier also brings the dialogue back when the page had let go of it; the
// messages that follow a result (a last "can_cancel", a status text) do not.
function heard({ reopen = false } = {}) {
  if (!state.operation && reopen) {
    state.operation = { kind: state.lastKind, request: null, heard: true, retried: true };
    clearError();
    updateForms();
  }
  if (state.operation) state.operation.heard = true;
  clearTimeout(state.silenceTimer);
}

function endOperation() {
  clearTimeout(state.silenceTimer);
  state.operation = null;
  prompts.clear();
  qr.clear();
  setCanCancel(false);
  ui.status.textContent = '';
  updateForms();
  if (state.renewDue && connection.isOpen) {
    state.renewDue = false;
    startSession();
  }
}

function sendAnswer(answer) {
  if (!connection.send({ route: '/transaction', ...answer })) {
    showError('Sem conexão com o serviço de pagamento: a resposta não foi enviada.');
  }
}

function cancelOperation() {
  if (ui.cancel.disabled || !state.session) return;
  if (connection.send({ route: '/transaction/cancel', type: 'cancellation', session_uuid: state.session.uuid })) {
    ui.status.textContent = 'Cancelamento solicitado…';
  }
}

function onResult(message) {
  const operation = state.operation;
  const kind = operation?.kind ?? state.lastKind;
  endOperation();
  showResult(ui.result, message, kind, receipts);
  if (message.status === 'approved' && kind === 'transaction') clearPaymentForm();
  ui.result.focus();
}

// An error reply to the request itself ends the operation; a refused session check is met by
// opening the session again and sending the request once more, since nothing was started.
async function onError(message) {
  const operation = state.operation;
  const text = String(message.message ?? '');
  if (operation && !operation.heard && !operation.retried && SESSION_ERRORS.includes(text) && operation.request) {
    operation.retried = true;
    if (await startSession()) {
      operation.request.session_uuid = state.session.uuid;
      if (connection.send(operation.request)) return armSilenceTimer();
    }
  }
  if (operation) endOperation();
  showServiceError(text);
}

function onMessage(message) {
  switch (message.type) {
    case 'menu': case 'collect': case 'question': case 'confirmation':
      heard({ reopen: true });
      prompts.show(message);
      break;
    case 'message':
      heard();
      ui.status.textContent = String(message.message ?? '');
      break;
    case 'qrcode':
      heard({ reopen: Boolean(message.data) });
      if (prompts.kind === 'waiting') prompts.clear();
      qr.show(message.data);
      break;
    case 'can_cancel':
      heard();
      setCanCancel(message.can_cancel === true || message.can_cancel === 'true');
      break;
    case 'receipt':
      heard();
      receipts.add(message.copy_number, message.data);
      break;
    case 'result':
      onResult(message);
      break;
    case 'error':
      onError(message);
      break;
    default:
      break; // a late reply to a query that was given up
  }
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
    startOperation(kind, parsed.members);
  });
}

function bindPage() {
  bindForm(byId('payment-form'), () => readPayment(ui.payment), 'transaction');
  bindForm(byId('cancellation-form'), () => readCancellation(ui.cancellation), 'cancellation');
  bindForm(byId('reprint-form'), () => readReprint(ui.reprint), 'reprint');
  ui.payment.amount.addEventListener('input', updatePayButton);
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
  window.addEventListener('online', () => connection.retryNow());
}

function bindConnection() {
  connection.addEventListener('state', ({ detail }) => {
    if (detail.state === 'connecting') setChip(ui.connection, 'connecting', 'Conectando ao serviço…');
    if (detail.state === 'connected') setChip(ui.connection, 'connected', 'Conectado');
    if (detail.state === 'invalid') {
      setChip(ui.connection, 'invalid', 'Endereço do serviço inválido');
      showError(`O endereço do serviço de pagamento não é válido: ${serviceUrl}`);
    }
    if (detail.state === 'waiting') {
      setChip(ui.connection, 'waiting', `Sem conexão — nova tentativa em ${Math.round(detail.retryInMs / 1000)} s`);
    }
  });
  connection.addEventListener('open', () => {
    if (!state.everConnected) clearError();
    state.everConnected = true;
    startUp();
  });
  connection.addEventListener('close', () => {
    const interrupted = state.operation !== null;
    clearTimeout(state.renewTimer);
    state.session = null;
    setChip(ui.session, 'none', 'Sem sessão');
    setChip(ui.pinpad, 'unknown', 'Pin-pad: —');
    if (interrupted) {
      endOperation();
      showError('A conexão com o serviço de pagamento caiu durante a operação. O serviço desfaz o que ficou pendente; confira o resultado no extrato antes de cobrar de novo.');
    } else if (!state.everConnected) {
      const https = serviceUrl.replace(/^wss:/i, 'https:');
      showError(`Não foi possível conectar ao serviço de pagamento em ${serviceUrl}. Verifique se o Kelvora TEF Server está em execução neste computador.`
        + (https !== serviceUrl ? ' No primeiro uso, abra o endereço abaixo neste navegador e aceite o certificado do serviço.' : ''),
      { link: https !== serviceUrl ? https : null });
    }
    updateForms();
  });
  connection.addEventListener('message', ({ detail }) => onMessage(detail));
}

function main() {
  bindPage();
  updateForms();
  updatePayButton();
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
  bindConnection();
  connection.start();
}

main();
