// What the page remembers of each sale's last payment attempt, in the browser's localStorage: the
// idempotency key it went out with, so that after a reload (or a crash of the browser) the page
// asks the service what became of that attempt instead of letting the cashier charge again.

const PREFIX = 'kelvora-tef:sale:';
// The service remembers keys for 31 days; a record older than that can tell nothing more.
const KEEP_MS = 31 * 24 * 60 * 60 * 1000;

// How an attempt ended, as far as the page knows: "unknown" until a result or the service's
// journal says; "paid" when approved; "ended" when nothing was charged.
export const OUTCOME = { unknown: 'unknown', paid: 'paid', ended: 'ended' };

// The journal's statuses by what they mean for the sale's money.
const PAID_STATUSES = ['approved', 'confirmed'];
const ENDED_STATUSES = ['refused', 'canceled', 'interrupted', 'undone'];

// What a status of the service's journal means for the attempt: OUTCOME.paid, OUTCOME.ended, or
// "running" while it is still in progress; null for a status this page does not know.
export function outcomeOfStatus(status) {
  if (PAID_STATUSES.includes(status)) return OUTCOME.paid;
  if (ENDED_STATUSES.includes(status)) return OUTCOME.ended;
  return status === 'running' ? 'running' : null;
}

// The sale a session token is for (its "sale_id" claim), read from the token's payload; null when
// it cannot be read. The page needs no signature check for that: the service checks the token.
export function tokenSaleId(token) {
  try {
    const payload = String(token).split('.')[1].replaceAll('-', '+').replaceAll('_', '/');
    const saleId = Number(JSON.parse(atob(payload)).sale_id);
    return Number.isSafeInteger(saleId) && saleId > 0 ? saleId : null;
  } catch {
    return null;
  }
}

// The part of the Storage interface the records use, in memory: for a browser that refuses the
// page its localStorage (a locked-down profile), where the page then remembers only until a reload.
export class MemoryStorage {
  constructor() { this.items = new Map(); }
  get length() { return this.items.size; }
  key(index) { return [...this.items.keys()][index] ?? null; }
  getItem(name) { return this.items.get(name) ?? null; }
  setItem(name, value) { this.items.set(name, String(value)); }
  removeItem(name) { this.items.delete(name); }
}

// The browser's localStorage, or MemoryStorage where reading it throws.
export function pageStorage() {
  try {
    return window.localStorage ?? new MemoryStorage();
  } catch {
    return new MemoryStorage();
  }
}

export class SaleRecords {
  constructor(storage, now = () => Date.now()) {
    this.storage = storage;
    this.now = now;
    this.prune();
  }

  // The record of the sale's last attempt ({ key, cents, payerName, outcome, at }), or null.
  get(saleId) {
    try {
      const record = JSON.parse(this.storage.getItem(PREFIX + saleId) ?? 'null');
      return record && typeof record.key === 'string' ? record : null;
    } catch {
      return null;
    }
  }

  // The key the sale's next attempt must reuse: the last one while its outcome is unknown, since
  // that attempt may have reached the service (the service then answers with its outcome rather
  // than charging again); undefined when a new attempt needs a new key.
  reusableKey(saleId) {
    const record = this.get(saleId);
    return record?.outcome === OUTCOME.unknown ? record.key : undefined;
  }

  // Called before the attempt goes out: the key is on disk before the service can charge with it.
  begin(saleId, key, { cents, payerName }) {
    this.write(saleId, { key, cents, payerName, outcome: OUTCOME.unknown, at: this.now() });
  }

  // Records how the attempt of `key` ended; an older key of the sale changes nothing.
  settle(saleId, key, outcome) {
    const record = this.get(saleId);
    if (record?.key !== key || record.outcome === outcome) return;
    this.write(saleId, { ...record, outcome, at: this.now() });
  }

  // The sale whose last attempt went out with `key`, or null.
  saleOfKey(key) {
    for (const [saleId, record] of this.entries()) if (record.key === key) return saleId;
    return null;
  }

  write(saleId, record) {
    try {
      this.storage.setItem(PREFIX + saleId, JSON.stringify(record));
    } catch {
      // Storage full or refused (a private window): the page still works, only without memory.
    }
  }

  * entries() {
    for (let index = 0; index < this.storage.length; index++) {
      const name = this.storage.key(index);
      if (!name?.startsWith(PREFIX)) continue;
      const saleId = Number(name.slice(PREFIX.length));
      const record = this.get(saleId);
      if (record) yield [saleId, record];
    }
  }

  // Forgets the records the service itself has forgotten.
  prune() {
    const stale = [...this.entries()].filter(([, record]) => !(this.now() - record.at < KEEP_MS));
    for (const [saleId] of stale) this.storage.removeItem(PREFIX + saleId);
  }
}
