// How an operation ends on the page: the "result" panel with the payment data, and the receipts
// as printable text.
import { el } from './dom.js';
import { formatDateTime, formatMoney, operationName } from './texts.js';

// The members of an approved element shown to the cashier, in reading order.
const FIELDS = [
  ['sale_id', 'Venda', 'result-sale-id'],
  ['operation', 'Operação', 'result-operation', operationName],
  ['card_number', 'Cartão', 'result-card-number'],
  ['institution', 'Instituição', 'result-institution'],
  ['operator', 'Rede', 'result-operator'],
  ['payment_method_description', 'Modalidade', 'result-payment-method'],
  ['payer_name', 'Pagador', 'result-payer-name'],
  ['nsu_code', 'NSU', 'result-nsu'],
  ['authorization_code', 'Autorização', 'result-authorization'],
  ['number_of_installments', 'Parcelas', 'result-installments'],
  ['transaction_value', 'Valor', 'result-value', formatMoney],
  ['transaction_date_time', 'Data e hora', 'result-date-time', formatDateTime],
  ['payment_id', 'ID do pagamento', 'result-payment-id'],
];

const TITLES = {
  approved: { transaction: 'Pagamento aprovado', cancellation: 'Cancelamento aprovado', reprint: 'Reimpressão concluída' },
  unauthorized: { transaction: 'Pagamento não aprovado', cancellation: 'Cancelamento não realizado', reprint: 'Reimpressão não realizada' },
  canceled: { transaction: 'Pagamento cancelado', cancellation: 'Cancelamento interrompido', reprint: 'Reimpressão cancelada' },
  interrupted: { transaction: 'Pagamento interrompido', cancellation: 'Cancelamento interrompido', reprint: 'Reimpressão interrompida' },
};

const ADVICE = {
  unauthorized: 'A transação não foi concluída. Peça outra forma de pagamento ou tente de novo.',
  canceled: 'A operação foi cancelada antes de terminar e não foi concluída.',
  interrupted: 'A operação parou antes de qualquer aprovação: nada foi cobrado. Pode tentar de novo.',
};

// Why a result is not the one of a dialogue the cashier just followed.
const ORIGINS = {
  recovered: 'Este pagamento foi aprovado antes de uma interrupção do serviço de pagamento e confirmado agora. Reimprima o comprovante se o cliente precisar.',
  replayed: 'Esta tentativa já tinha terminado: este é o resultado registrado pelo serviço, e nada foi cobrado de novo.',
};

// Receipt copies, each with its own print button. A copy already shown (the same lines) is not
// added twice, since the same receipt arrives while printing and again inside the result.
export class ReceiptList {
  constructor(root) {
    this.root = root;
    this.clear();
  }

  clear() {
    this.root.replaceChildren();
    this.root.hidden = true;
  }

  add(copyNumber, lines) {
    const text = (Array.isArray(lines) ? lines : []).map(String).join('\n');
    if (text.trim() === '') return;
    if ([...this.root.querySelectorAll('pre')].some((pre) => pre.textContent === text)) return;
    const copy = Number.parseInt(copyNumber, 10);
    const receipt = el('article', { class: 'receipt', 'data-testid': 'receipt', 'data-copy': Number.isFinite(copy) ? copy : '' });
    const print = el('button', { type: 'button', 'data-testid': 'receipt-print', onclick: () => printOnly(receipt) }, 'Imprimir');
    receipt.append(el('header', {}, el('h3', {}, Number.isFinite(copy) ? `${copy}ª via` : 'Comprovante'), print), el('pre', {}, text));
    if (this.root.hidden) this.root.append(el('h2', {}, 'Comprovantes'));
    this.root.append(receipt);
    this.root.hidden = false;
  }
}

// Prints one receipt alone: the print style sheet hides everything but the marked element.
function printOnly(receipt) {
  receipt.classList.add('print-target');
  document.body.classList.add('printing-receipt');
  const done = () => {
    receipt.classList.remove('print-target');
    document.body.classList.remove('printing-receipt');
  };
  window.addEventListener('afterprint', done, { once: true });
  window.print();
}

// Fills the result panel from the client library's result of an operation; `kind` is the
// operation the page started ("transaction", "cancellation", "reprint"). The receipts inside an
// approved result join `receipts`.
export function showResult(panel, result, kind, receipts) {
  const status = Object.hasOwn(TITLES, result.status) ? result.status : 'unauthorized';
  panel.dataset.status = status;
  panel.replaceChildren(
    el('h2', { 'data-testid': 'result-title' }, TITLES[status][kind] ?? TITLES[status].transaction),
    el('p', { class: 'result-message', 'data-testid': 'result-message' }, result.message));
  for (const origin of ['recovered', 'replayed']) {
    if (result[origin]) panel.append(el('p', { class: 'result-advice', 'data-testid': `result-${origin}` }, ORIGINS[origin]));
  }
  if (status !== 'approved') {
    // The library's last words to the operator ("Negada pelo autorizador (51)") say why.
    if (result.reason && result.reason !== result.message) {
      panel.append(el('p', { class: 'result-reason', 'data-testid': 'result-reason' }, result.reason));
    }
    panel.append(el('p', { class: 'result-advice' }, ADVICE[status]));
  } else {
    const elements = result.transactions;
    for (const element of elements) {
      if (!element || typeof element !== 'object') continue;
      panel.append(paymentData(element, kind));
      for (const copy of Array.isArray(element.receipt) ? element.receipt : []) receipts.add(copy?.copy_number, copy?.data);
    }
    const first = elements[0];
    if (first && typeof first === 'object' && 'payment_id' in first && Number(first.payment_id) === 0 && first.operation !== 'reprint') {
      panel.append(el('p', { class: 'result-warning', 'data-testid': 'result-warning' },
        'Atenção: o pagamento foi aprovado, mas o sistema de vendas não confirmou o registro. Anote o NSU e avise o suporte.'));
    }
  }
  panel.hidden = false;
}

// One element's data as label and value pairs. In the result of a cancellation the element may
// name the kind of the cancelled payment, so the operation says both.
function paymentData(element, kind) {
  const list = el('dl', { class: 'payment-data', 'data-testid': 'result-data' });
  for (const [key, label, testid, format] of FIELDS) {
    if (!(key in element)) continue;
    let value = format ? format(element[key]) : String(element[key] ?? '');
    if (key === 'operation' && kind === 'cancellation' && element.operation !== 'cancellation') {
      value = `${operationName('cancellation')} de ${value}`;
    }
    list.append(el('div', {}, el('dt', {}, label), el('dd', { 'data-testid': testid }, value === '' ? '—' : value)));
  }
  return list;
}
