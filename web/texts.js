// Pure text helpers of the point-of-sale page: amounts, dates and the cashier's wording of the
// service's messages and of the client library's failures. Nothing here touches the page, so
// every rule can be tried in Node.

const MAX_CENTS = 99_999_999_999; // 999.999.999,99: far above any till amount, still exact in a double

const money = new Intl.NumberFormat('pt-BR', { style: 'currency', currency: 'BRL' });
const dateTime = new Intl.DateTimeFormat('pt-BR', {
  day: '2-digit', month: '2-digit', year: 'numeric', hour: '2-digit', minute: '2-digit', second: '2-digit',
});

// Reads an amount as a cashier types it ("10,50", "10.50", "1.234,56", "R$ 7") into whole cents.
// Returns null for anything that is not a positive amount with at most two decimals, so that a
// typo can never become a different charge.
export function parseAmountToCents(text) {
  const cleaned = String(text ?? '').replace(/R\$/i, '').replace(/\s+/g, '');
  if (!/^[0-9.,]+$/.test(cleaned)) return null;
  let whole = cleaned;
  let fraction = '';
  const commas = cleaned.split(',').length - 1;
  const dots = cleaned.split('.').length - 1;
  if (commas > 1) return null;
  if (commas === 1) {
    [whole, fraction] = cleaned.split(',');
  } else if (dots === 1 && /\.\d{1,2}$/.test(cleaned)) {
    // A lone dot followed by one or two digits is a decimal point ("10.50"); "1.234" stays one
    // thousand two hundred and thirty-four, as Brazilian cashiers write it.
    [whole, fraction] = cleaned.split('.');
  }
  if (!/^\d{0,2}$/.test(fraction)) return null;
  if (whole.includes('.')) {
    if (!/^\d{1,3}(\.\d{3})+$/.test(whole)) return null;
    whole = whole.replaceAll('.', '');
  }
  if (whole === '' && fraction === '') return null;
  const cents = Number(whole || '0') * 100 + Number(fraction.padEnd(2, '0'));
  if (!Number.isSafeInteger(cents) || cents <= 0 || cents > MAX_CENTS) return null;
  return cents;
}

// The amount as the service reads it: units, a comma and two decimals, no thousands separator.
export function centsToRequestText(cents) {
  const whole = Math.floor(cents / 100);
  return `${whole},${String(cents % 100).padStart(2, '0')}`;
}

// An amount for the screen: "R$ 1.234,56". Takes units as the result message carries them.
export function formatMoney(units) {
  const value = Number(units);
  return Number.isFinite(value) ? money.format(value) : '—';
}

// A UTC date-time of a result ("2024-01-05T13:30:00Z") in the till's local time, or the text
// unchanged when it is not a date the browser can read.
export function formatDateTime(isoText) {
  const date = new Date(isoText);
  return Number.isNaN(date.getTime()) ? String(isoText ?? '') : dateTime.format(date).replace(', ', ' ');
}

// Today's date as a date input wants it (YYYY-MM-DD), in local time.
export function localDateInputValue(now = new Date()) {
  const pad = (n) => String(n).padStart(2, '0');
  return `${now.getFullYear()}-${pad(now.getMonth() + 1)}-${pad(now.getDate())}`;
}

// A SiTef library version that is the simulator's ("6.2.0.1-sim"): payments through it are not real.
export function isSimulatorVersion(version) {
  return /sim/i.test(String(version ?? ''));
}

const OPERATION_NAMES = {
  debit: 'Débito', credit: 'Crédito', pix: 'PIX', reprint: 'Reimpressão', cancellation: 'Cancelamento',
};

// The name of a result's "operation" for the cashier.
export function operationName(operation) {
  return OPERATION_NAMES[operation] ?? String(operation ?? '');
}

// Service messages rewritten in the words a cashier acts on. Each entry matches the exact text
// the service sends (or its fixed prefix) and says what happened and what to do next.
const ERROR_WORDS = [
  { exact: 'Acesso não autorizado.', text: 'O serviço de pagamento recusou o acesso deste link. Abra a cobrança de novo pelo sistema de vendas.' },
  { exact: 'Dados de sessão inválidos.', text: 'O link desta página está incompleto ou danificado. Abra a cobrança de novo pelo sistema de vendas.' },
  { exact: 'ID de venda não informado.', text: 'O link desta página não traz o número da venda. Abra a cobrança de novo pelo sistema de vendas.' },
  { exact: 'URL de callback não informada.', text: 'O link desta página não diz para onde enviar o resultado. Abra a cobrança de novo pelo sistema de vendas.' },
  { exact: 'Sessão expirada.', text: 'A sessão com o serviço de pagamento expirou. Recarregue a página.' },
  { exact: 'Sessão inválida.', text: 'O serviço de pagamento não reconhece mais esta sessão. Recarregue a página.' },
  { exact: 'SiTef não inicializado.', text: 'O TEF não está pronto: não foi possível iniciar o SiTef. Verifique a rede e o pin-pad e tente de novo.' },
  { exact: 'O campo "cancellation_nsu" não foi preenchido.', text: 'Informe o NSU do pagamento que será cancelado.' },
  { exact: 'O campo "transaction_date" não foi preenchido.', text: 'Informe a data do pagamento que será cancelado.' },
  { exact: 'O campo "transaction_date" não foi preenchido corretamente.', text: 'A data do pagamento que será cancelado não é válida.' },
  { prefix: 'Erro ao conectar com servidor TEF: ', text: 'Não foi possível conectar ao servidor TEF (SiTef). Verifique a rede e tente de novo.' },
  { prefix: 'Erro ao verificar pinpad: ', text: 'Não foi possível verificar o pin-pad. Confira o cabo e tente de novo.' },
  { prefix: 'Campo ', suffix: ' nao encontrado.', text: 'O serviço de pagamento recusou um pedido incompleto desta página.' },
];

// Turns a service message into { text, detail }: the cashier's words, and the service's own
// text kept as a technical detail for support (null when the words are the service's own).
export function describeServiceError(message) {
  const original = String(message ?? '');
  for (const entry of ERROR_WORDS) {
    const matches = entry.exact !== undefined
      ? original === entry.exact
      : original.startsWith(entry.prefix) && (!entry.suffix || original.endsWith(entry.suffix));
    if (matches) return { text: entry.text, detail: original };
  }
  return { text: original || 'O serviço de pagamento informou um erro sem descrição.', detail: null };
}

// The client library's own failures (no service text), by its error code, in the cashier's words.
const CLIENT_WORDS = {
  NOT_CONNECTED: 'Sem conexão com o serviço de pagamento. Aguarde a reconexão e tente de novo.',
  CONNECTION_LOST: 'A conexão com o serviço de pagamento caiu durante a operação. O serviço desfaz o que ficou pendente; confira o resultado no extrato antes de cobrar de novo.',
  NO_REPLY: 'O serviço de pagamento não respondeu ao pedido. Outra operação TEF pode estar em andamento neste computador; aguarde e tente de novo.',
};

// Turns a failure of a library call into { text, detail } as describeServiceError does: the
// service's text when the service refused, else the library's code in the cashier's words.
export function describeFailure(error) {
  if (typeof error?.serviceMessage === 'string') return describeServiceError(error.serviceMessage);
  return { text: CLIENT_WORDS[error?.code] ?? String(error?.message || 'Falha inesperada na página de pagamento.'), detail: null };
}
