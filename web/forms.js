// The three operation forms (payment, cancellation, reprint): each turns what the cashier typed
// into the request of the client library's call (pay, cancelPayment, reprint), or names the field
// to fix and why.
import { centsToRequestText, localDateInputValue, parseAmountToCents } from './texts.js';

// Reads the payment form: amount, payer name, instalments, the SiTef function and an optional
// sale number that replaces the one of the session.
export function readPayment(fields) {
  const cents = parseAmountToCents(fields.amount.value);
  if (cents === null) return invalid(fields.amount, 'Informe o valor da compra, por exemplo 10,50.');
  const installments = readWholeNumber(fields.installments.value || '1');
  if (installments === null || installments < 1 || installments > 99) {
    return invalid(fields.installments, 'Informe o número de parcelas, de 1 a 99.');
  }
  const request = {
    operation: Number(fields.operation.value || '0'),
    payerName: fields.payer.value.trim(),
    amount: centsToRequestText(cents),
    installments,
  };
  const saleId = readSaleId(fields.saleId.value);
  if (saleId === null) return invalid(fields.saleId, 'O número da venda deve ser um número inteiro positivo.');
  if (saleId !== undefined) request.saleId = saleId;
  return { request, cents };
}

// The optional sale number: undefined when left empty, null when it is not a sale number.
export function readSaleId(text) {
  const trimmed = String(text).trim();
  if (trimmed === '') return undefined;
  const value = readWholeNumber(trimmed);
  return value === null || value < 1 || value > 2147483647 ? null : value;
}

// Reads the cancellation form: the NSU, the date and the amount of the payment to cancel.
export function readCancellation(fields, now = new Date()) {
  const nsu = fields.nsu.value.trim();
  if (nsu === '') return invalid(fields.nsu, 'Informe o NSU do pagamento que será cancelado (está no comprovante).');
  const date = fields.date.value;
  if (!/^\d{4}-\d{2}-\d{2}$/.test(date)) return invalid(fields.date, 'Informe a data do pagamento que será cancelado.');
  if (date > localDateInputValue(now)) return invalid(fields.date, 'A data do pagamento não pode estar no futuro.');
  const cents = parseAmountToCents(fields.amount.value);
  if (cents === null) return invalid(fields.amount, 'Informe o valor do pagamento que será cancelado, por exemplo 10,50.');
  return { request: { operation: 200, nsu, date, amount: centsToRequestText(cents) }, cents };
}

// Reads the reprint form: which SiTef reprint function to run.
export function readReprint(fields) {
  return { request: { operation: Number(fields.operation.value || '112') } };
}

function readWholeNumber(text) {
  return /^\d{1,10}$/.test(String(text).trim()) ? Number(String(text).trim()) : null;
}

function invalid(field, message) {
  return { error: message, field };
}
