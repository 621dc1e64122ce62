// How the page shows what became of a sale's earlier payment attempt (paid, still running, ended
// without a charge), asked of the service after a reload, and the payments the service confirmed
// after an interruption of its own.
import { el } from './dom.js';
import { formatMoney, operationName } from './texts.js';

const ENDED_WORDS = { refused: 'recusada', canceled: 'cancelada', interrupted: 'interrompida', undone: 'desfeita' };

// The sale's state in the payment form. `onReprint` runs when the cashier asks for the receipt of
// a paid sale again.
export class SaleStateView {
  constructor(root, { onReprint }) {
    this.root = root;
    this.onReprint = onReprint;
    this.show(null);
  }

  // view: null (nothing to tell: the sale may be paid as usual) or { saleId, state ("paid",
  // "running" or "ended"), status (the journal's), amount (units), reason, nsu, cardNumber }.
  show(view) {
    this.state = view?.state ?? 'none';
    this.root.dataset.state = this.state;
    this.root.hidden = view === null;
    if (view === null) {
      this.root.replaceChildren();
      return;
    }
    const amount = Number.isFinite(view.amount) ? formatMoney(view.amount) : null;
    const fill = (...nodes) => this.root.replaceChildren(...nodes.filter(Boolean));
    const title = (text) => el('p', { class: 'sale-title', 'data-testid': 'sale-title' }, text);
    const line = (...parts) => el('p', {}, parts.filter(Boolean).join(' · '));
    if (view.state === 'paid') {
      fill(
        title(`Venda ${view.saleId} paga`),
        line(amount, view.cardNumber && `Cartão ${view.cardNumber}`, view.nsu && `NSU ${view.nsu}`),
        view.status === 'approved' ? el('p', {}, 'Aprovado: a confirmação termina na próxima inicialização do TEF.') : null,
        el('button', { type: 'button', 'data-testid': 'sale-reprint', onclick: () => this.onReprint() }, 'Reimprimir comprovante'));
    } else if (view.state === 'running') {
      fill(
        title(`Pagamento da venda ${view.saleId} em andamento`),
        el('p', {}, `O terminal ainda processa a tentativa${amount ? ` de ${amount}` : ''}. Aguarde o resultado antes de cobrar de novo.`));
    } else {
      fill(
        title(`Tentativa anterior da venda ${view.saleId} não concluída`),
        line(amount, ENDED_WORDS[view.status] ?? view.status),
        view.reason ? el('p', { 'data-testid': 'sale-reason' }, view.reason) : null,
        el('p', {}, 'Nada foi cobrado: pode cobrar de novo.'));
    }
  }
}

// Payments an earlier run of the service left approved and confirmed at this page's start-up:
// each belongs to its own sale, which may not be the one at the till.
export class RecoveredList {
  constructor(root, list) {
    this.root = root;
    this.list = list;
  }

  // result: the client library's result of the leftover; saleId: its sale.
  add(saleId, result) {
    const [first] = result.transactions;
    const parts = [
      `Venda ${saleId ?? first?.sale_id ?? '—'}`,
      first && formatMoney(first.transaction_value),
      first?.operation && operationName(first.operation),
      first?.nsu_code && `NSU ${first.nsu_code}`,
    ];
    this.list.append(el('li', { 'data-testid': 'recovered-payment', 'data-sale-id': saleId ?? '' }, parts.filter(Boolean).join(' · ')));
    this.root.hidden = false;
  }
}
