// What a finished operation came to, as the page reads it: the service's status and its code, how
// it ended (whether money moved, and who stopped it), the reason the operator was shown, and the
// key and flags that tie the result to its request.
import { RESULT_CODES } from './catalogue.js';

const NOT_DONE = 'Transação TEF não realizada.';
// The library's texts for an operation stopped at the pin-pad ("Operação cancelada pelo
// operador", "... pelo usuário").
const CANCELED_TEXT = /cancelad/i;
const BY_SOMEONE = /operador|usu[aá]rio|cliente|pin-?pad/i;

// How a result ended. `pageLeft`: the page aborted or left a prompt; `reason`: the dialogue's last
// text for the operator.
export function endingOf(status, { reason = '', pageLeft = false } = {}) {
  if (status === 'approved') return 'approved';
  if (status === 'interrupted') return 'interrupted';
  if (status !== 'unauthorized' && status !== 'canceled') return 'unknown';
  if (pageLeft) return 'canceled_by_page';
  if (status === 'canceled' || (CANCELED_TEXT.test(reason) && BY_SOMEONE.test(reason))) return 'canceled_on_pinpad';
  return 'refused';
}

// A "result" message as the page reads it. `key` is the operation's own key (the service repeats
// it), `reason` the dialogue's last text; a failure without one gives the result's own text.
export function transactionResult(message, { key = null, reason = '', pageLeft = false } = {}) {
  const status = String(message.status ?? '');
  const text = String(message.message ?? '');
  return {
    status,
    code: RESULT_CODES[status] ?? 'UNKNOWN_RESULT',
    message: text,
    transactions: Array.isArray(message.transaction_data) ? message.transaction_data : [],
    ending: endingOf(status, { reason, pageLeft }),
    reason: status === 'approved' ? null : reason || text,
    idempotencyKey: typeof message.idempotency_key === 'string' ? message.idempotency_key : key,
    saleId: Number.isInteger(message.sale_id) ? message.sale_id : null,
    recovered: message.recovered === true,
    replayed: message.replayed === true,
  };
}

// The journal's word for an ended operation that moved no money, as the result the service would
// have sent and the ending the page branches on.
const JOURNAL_FAILURES = {
  refused: ['unauthorized', 'refused'],
  undone: ['unauthorized', 'undone'],
  canceled: ['canceled', null],
  interrupted: ['interrupted', 'interrupted'],
};

// The failed result of an operation the journal says ended without charging; null for a status
// that is not such an ending (running, approved, confirmed).
export function journalResult(operation, { key, pageLeft = false }) {
  const failure = JOURNAL_FAILURES[operation.status];
  if (!failure) return null;
  const [status, ending] = failure;
  const reason = typeof operation.reason === 'string' && operation.reason !== '' ? operation.reason : NOT_DONE;
  const result = transactionResult({ status, message: NOT_DONE, idempotency_key: key }, { key, reason, pageLeft });
  return { ...result, ending: ending ?? result.ending, saleId: Number.isInteger(operation.sale_id) ? operation.sale_id : null };
}

// The result of an operation the service never received: nothing ran, nothing was charged.
export function notReceivedResult(key) {
  return transactionResult({ status: 'interrupted', message: NOT_DONE, idempotency_key: key },
    { key, reason: 'O serviço de pagamento não recebeu o pedido.' });
}

// The "recovered" event of a leftover's result: an operation an earlier run of the service left
// approved and confirmed now, which belongs to its own sale, not to the operation running.
export function recoveredEvent(message) {
  const result = transactionResult(message);
  return { result, saleId: result.saleId, idempotencyKey: result.idempotencyKey };
}
