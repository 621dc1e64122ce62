// A page that takes payments with @kelvora/tef-client: it gets its session token from the sales
// system's back end, keeps each payment's idempotency key with its sale before paying, asks the
// service what became of a payment left unfinished by a reload, shows each prompt of the
// dialogue, answers with the operator's choice and shows the result. Open it as
//   index.html?service=wss://localhost:8443&token-url=/pos/tef-token
// The back end must answer GET <token-url> with a session token as plain text (see README.md).
import { TefClient, TefError, catalogueEntry, newIdempotencyKey } from '../src/index.js';

const byId = (id) => document.getElementById(id);
const parameters = new URLSearchParams(location.search);
const service = parameters.get('service') ?? 'wss://localhost:8443';
const tokenUrl = parameters.get('token-url') ?? '/pos/tef-token';

// Every session start asks the back end for a fresh token: the page never holds the signing key.
async function getToken() {
  const response = await fetch(tokenUrl, { cache: 'no-store', credentials: 'same-origin' });
  if (!response.ok) throw new Error(`O servidor de vendas não deu o token (HTTP ${response.status}).`);
  return (await response.text()).trim();
}

// The sale's record of its payment attempt. A real page writes it to the sales system; the
// example keeps it in the browser, which survives a reload just the same.
const PENDING = 'kelvora-example-pending-payment';
const pending = {
  read: () => JSON.parse(localStorage.getItem(PENDING) ?? 'null'),
  write: (record) => localStorage.setItem(PENDING, JSON.stringify(record)),
  clear: () => localStorage.removeItem(PENDING),
};

const client = new TefClient({ url: service, getToken });
client.on('state', ({ state, retryInMs, error }) => {
  const texts = { connecting: 'Conectando…', ready: 'Conectado', closed: 'Desconectado' };
  if (state === 'waiting') byId('state').textContent = `Sem conexão; nova tentativa em ${retryInMs / 1000} s`;
  else if (state === 'failed') byId('state').textContent = error.message;
  else byId('state').textContent = texts[state] ?? state;
});
client.on('error', (error) => { byId('state').textContent = error.message; });
// A payment an earlier run of the service left approved, confirmed now: it belongs to its own sale.
client.on('recovered', ({ saleId, result }) => {
  notice(`Pagamento da venda ${saleId ?? '?'} confirmado após o reinício do serviço: ${result.message}`);
});

function notice(text) {
  const item = document.createElement('li');
  item.textContent = text;
  byId('notices').append(item);
}

// Shows a title and one button per choice; resolves with the value of the button pressed.
function choose(title, choices) {
  const prompt = byId('prompt');
  return new Promise((resolve) => {
    const heading = document.createElement('h2');
    heading.textContent = title;
    const buttons = choices.map(([label, value]) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label;
      button.addEventListener('click', () => {
        prompt.replaceChildren();
        resolve(value);
      });
      return button;
    });
    prompt.replaceChildren(heading, ...buttons);
  });
}

// Shows a field to type; resolves with the value.
function collect(prompt) {
  const form = document.createElement('form');
  const input = document.createElement('input');
  input.type = prompt.fieldOperation === 'segurança' ? 'password' : 'text';
  if (prompt.maximumSize > 0) input.maxLength = prompt.maximumSize;
  const heading = document.createElement('h2');
  heading.textContent = prompt.title;
  const ok = document.createElement('button');
  ok.textContent = 'Confirmar';
  form.append(heading, input, ok);
  byId('prompt').replaceChildren(form);
  input.focus();
  return new Promise((resolve) => {
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      byId('prompt').replaceChildren();
      resolve({ value: input.value });
    });
  });
}

const confirm = (prompt) => choose(prompt.message, [['OK', undefined]]);

const handlers = {
  onMenu: (prompt) => choose(prompt.title, [
    ...prompt.options.map((option) => [option.label, { option: option.line }]),
    ['Voltar', { back: true }], ['Cancelar', { cancel: true }],
  ]),
  onCollect: collect,
  onQuestion: (prompt) => choose(prompt.message, prompt.options.map((option) => [option, option])),
  onConfirmation: confirm,
  onMessage: ({ message }) => { byId('state').textContent = message; },
  onQrCode: ({ data }) => { byId('receipt').textContent = `PIX copia e cola:\n${data}`; },
  onReceipt: ({ lines }) => { byId('receipt').textContent = lines.join('\n'); },
  onCanCancel: (canCancel) => { byId('abort').hidden = !canCancel; },
};

function showResult(outcome) {
  const result = byId('result');
  result.className = outcome.code === 'APPROVED' ? '' : 'failed';
  result.textContent = outcome.code === 'APPROVED' ? outcome.message : `${outcome.message} ${outcome.reason ?? ''}`;
}

function showError(error) {
  const result = byId('result');
  result.className = 'failed';
  const advice = error instanceof TefError && error.fromService ? catalogueEntry(error.message)?.action : '';
  result.textContent = [error.message, advice].filter(Boolean).join(' — ');
}

// Pays once; the attempt's record keeps its key until the outcome is known. A refused or
// cancelled attempt is over: the next one gets a new key.
async function pay(record, payment) {
  try {
    const outcome = await client.pay({ ...payment, idempotencyKey: record.key }, handlers);
    pending.clear();
    showResult(outcome);
  } catch (error) {
    // With CONNECTION_LOST or NO_REPLY the service may still have taken the payment: the record
    // stays, and the next load asks.
    if (!(error instanceof TefError && error.idempotencyKey)) pending.clear();
    showError(error);
  } finally {
    byId('prompt').replaceChildren();
    byId('abort').hidden = true;
  }
}

// After a reload: what became of the payment the record names. A confirmed payment is asked
// again with its key, which gives its full result back without charging again.
async function resume(record) {
  const { operations, running } = await client.status({ idempotencyKey: record.key });
  const operation = operations.at(-1);
  if (!operation) {
    pending.clear();
    notice(`O pagamento da venda ${record.saleId} não chegou ao serviço: nada foi cobrado.`);
  } else if (operation.status === 'confirmed' || operation.status === 'approved') {
    notice(`O pagamento da venda ${record.saleId} foi aprovado.`);
    await pay(record, record.payment);
  } else if (operation.status === 'running' || running) {
    notice(`O pagamento da venda ${record.saleId} ainda está em andamento; recarregue em instantes.`);
  } else {
    pending.clear();
    notice(`O pagamento da venda ${record.saleId} não foi realizado (${operation.reason ?? operation.status}).`);
  }
}

byId('abort').addEventListener('click', () => client.abort());

byId('payment').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = new FormData(event.target);
  byId('result').className = '';
  byId('result').textContent = 'Pagamento em andamento…';
  const payment = {
    payerName: String(form.get('payer')),
    amount: String(form.get('amount')),
    saleId: Number(form.get('sale')),
  };
  // Stored with the sale before the request goes out, so that a reload can ask about it.
  const record = { saleId: payment.saleId, key: newIdempotencyKey(), payment };
  pending.write(record);
  await client.ready();
  await pay(record, payment);
});

async function start() {
  await client.connect();
  // Confirms what an earlier run of the service left approved; its confirmation is shown.
  await client.initialize({ onConfirmation: confirm });
  const record = pending.read();
  if (record) await resume(record);
}

start().catch(showError);
