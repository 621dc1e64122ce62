// A page that takes one payment with @kelvora/tef-client: it shows each prompt of the dialogue,
// answers with the operator's choice and shows the result. Open it as
//   index.html?service=wss://localhost:8443#token=<session token from the sales system>
// (in a real page the token comes from the sales system's back end).
import { TefClient, TefError, catalogueEntry } from '../src/index.js';

const byId = (id) => document.getElementById(id);
const token = new URLSearchParams(location.hash.slice(1)).get('token') ?? '';
const service = new URLSearchParams(location.search).get('service') ?? 'wss://localhost:8443';

const client = new TefClient({ url: service, getToken: () => token });
client.on('state', ({ state, retryInMs }) => {
  const texts = { connecting: 'Conectando…', ready: 'Conectado', closed: 'Desconectado' };
  byId('state').textContent = state === 'waiting' ? `Sem conexão; nova tentativa em ${retryInMs / 1000} s` : texts[state] ?? state;
});
client.on('error', (error) => { byId('state').textContent = error.message; });

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

// Shows a field to type; resolves with the value, or with "back"/"cancel".
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

const handlers = {
  onMenu: (prompt) => choose(prompt.title, [
    ...prompt.options.map((option) => [option.label, { option: option.line }]),
    ['Voltar', { back: true }], ['Cancelar', { cancel: true }],
  ]),
  onCollect: collect,
  onQuestion: (prompt) => choose(prompt.message, prompt.options.map((option) => [option, option])),
  onConfirmation: (prompt) => choose(prompt.message, [['OK', undefined]]),
  onMessage: ({ message }) => { byId('state').textContent = message; },
  onQrCode: ({ data }) => { byId('receipt').textContent = `PIX copia e cola:\n${data}`; },
  onReceipt: ({ lines }) => { byId('receipt').textContent = lines.join('\n'); },
  onCanCancel: (canCancel) => { byId('abort').hidden = !canCancel; },
};

byId('abort').addEventListener('click', () => client.abort());

byId('payment').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = new FormData(event.target);
  const result = byId('result');
  result.className = '';
  result.textContent = 'Pagamento em andamento…';
  try {
    await client.ready();
    const outcome = await client.pay({ payerName: form.get('payer'), amount: form.get('amount') }, handlers);
    result.textContent = outcome.message;
    result.className = outcome.code === 'APPROVED' ? '' : 'failed';
  } catch (error) {
    result.className = 'failed';
    const advice = error instanceof TefError && error.fromService ? catalogueEntry(error.message)?.action : '';
    result.textContent = [error.message, advice].filter(Boolean).join(' — ');
  } finally {
    byId('prompt').replaceChildren();
    byId('abort').hidden = true;
  }
});

client.connect();
