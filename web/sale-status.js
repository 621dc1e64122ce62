// Keeps the payment form in step with what became of the current sale's last attempt: what the
// page remembers at once, then what the service's journal says of the attempt's stored key. A
// paid sale, or one whose attempt still runs, takes the pay button away.
import { OUTCOME, outcomeOfStatus } from './sales.js';

// How often the service is asked again about an attempt that still runs, and how long the page
// waits after the cashier types a sale number before asking about that sale.
const RUNNING_POLL_MS = 2000;
const TYPING_PAUSE_MS = 400;

export class SaleStatus {
  // records: the SaleRecords; view: the SaleStateView; payButton: hidden while the sale may not be
  // charged; currentSale(): the sale a payment would be for now (null for none); ask(key): the
  // client's status() for a key; connected(): whether the service can be asked; idle(): whether
  // no operation runs (a running payment's outcome belongs to the result panel).
  constructor({ records, view, payButton, currentSale, ask, connected, idle }) {
    Object.assign(this, { records, view, payButton, currentSale, ask, connected, idle });
    this.checks = 0;   // only the answer of the latest question counts
    this.timer = null;
  }

  // True while the current sale may not be charged from the page.
  get blocked() {
    return this.view.state === OUTCOME.paid || this.view.state === 'running';
  }

  // Asks the service about the current sale's stored key and shows the answer: paid, still
  // running (asked again shortly), or ended without a charge (the cashier may pay again, with a
  // new key). Without an answer what the page itself knows stays shown, and the key is kept.
  async check() {
    clearTimeout(this.timer);
    const check = ++this.checks;
    if (!this.idle()) return;
    const saleId = this.currentSale();
    const record = saleId === null ? null : this.records.get(saleId);
    this.show(saleId, record, null);
    if (record === null || !this.connected()) return;
    let operation = null;
    try {
      const status = await this.ask(record.key);
      operation = status.operations.filter((known) => known.idempotency_key === record.key).at(-1) ?? null;
    } catch {
      return;
    }
    if (check !== this.checks || !this.idle()) return;
    const outcome = operation ? outcomeOfStatus(operation.status) : null;
    if (outcome === OUTCOME.paid || outcome === OUTCOME.ended) this.records.settle(saleId, record.key, outcome);
    this.show(saleId, this.records.get(saleId), operation);
    if (outcome === 'running') this.timer = setTimeout(() => this.check(), RUNNING_POLL_MS);
  }

  // The cashier typed a sale number: what the page knows of it is shown at once, and the
  // service asked once the typing pauses.
  saleTyped() {
    clearTimeout(this.timer);
    this.checks += 1;
    const saleId = this.currentSale();
    this.show(saleId, saleId === null ? null : this.records.get(saleId), null);
    this.timer = setTimeout(() => this.check(), TYPING_PAUSE_MS);
  }

  // A payment of the sale starts: its outcome goes to the result panel, and no earlier question's
  // answer may replace it.
  hide() {
    clearTimeout(this.timer);
    this.checks += 1;
    this.view.show(null);
  }

  // The service confirmed a leftover approval of `key`: when it was the page's own attempt, its
  // sale is paid, which the form shows when that sale is the current one.
  paidByLeftover(key, idle) {
    const saleId = key ? this.records.saleOfKey(key) : null;
    if (saleId === null) return;
    this.records.settle(saleId, key, OUTCOME.paid);
    if (idle && saleId === this.currentSale()) this.show(saleId, this.records.get(saleId), null);
  }

  // The sale's state from its record and, when the service told, the journal's operation.
  show(saleId, record, operation) {
    const known = operation ? outcomeOfStatus(operation.status) : null;
    const outcome = known ?? record?.outcome ?? OUTCOME.unknown;
    if (record === null || outcome === OUTCOME.unknown) {
      this.view.show(null);
    } else {
      this.view.show({
        saleId,
        state: outcome,
        status: operation?.status ?? (outcome === OUTCOME.paid ? 'confirmed' : null),
        amount: operation ? operation.amount : record.cents / 100,
        reason: operation?.reason ?? null,
        nsu: operation?.authorizer_nsu ?? operation?.nsu ?? null,
        cardNumber: operation?.card_number ?? null,
      });
    }
    this.payButton.hidden = this.blocked;
  }
}
