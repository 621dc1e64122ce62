// Type declarations of @kelvora/tef-client, the point-of-sale page's client of the Kelvora TEF
// service. Hand-written beside src/ and checked by `tsc --noEmit -p clients/js`.

/** The part of a WebSocket the client uses: the browser's, or npm "ws" in Node. */
export interface WebSocketLike {
  readonly readyState: number;
  send(data: string): void;
  close(code?: number, reason?: string): void;
  addEventListener(type: 'open' | 'close' | 'error', listener: () => void): void;
  addEventListener(type: 'message', listener: (event: { data: unknown }) => void): void;
}

export interface TefClientOptions {
  /** The service's address, e.g. "wss://localhost:8443". */
  url: string;
  /** A session token signed by the sales system; called for every new session. */
  getToken: () => string | Promise<string>;
  /** A WebSocket class (npm "ws" in Node); the browser's by default. */
  WebSocket?: new (url: string) => WebSocketLike;
  /** Makes the WebSocket itself (to pass TLS options in Node); wins over `WebSocket`. */
  createWebSocket?: (url: string) => WebSocketLike;
  /** Pauses between reconnection tries; the last one repeats. */
  backoffMs?: number[];
  /** How long a query (session, initialise, pin-pad, version) may wait for its reply. Default 20000. */
  replyTimeoutMs?: number;
  /** How long a payment may wait for the service's first message. Default 60000. */
  startTimeoutMs?: number;
  /**
   * How long a payment or cancellation waits for the service's first message before the library
   * asks, on a second connection, whether another operation holds the till (TILL_BUSY). Default 5000.
   */
  lateStartMs?: number;
  /**
   * After the connection dropped (or the service fell silent) during a payment or cancellation,
   * how long the library keeps trying to learn its outcome from the service before it rejects
   * with CONNECTION_LOST or NO_REPLY. Default 60000.
   */
  outcomeWaitMs?: number;
  /** How long a dialogue may stay silent while no prompt waits for the page. Default 300000. */
  silenceMs?: number;
  /** How long before its expiration a session is replaced. Default 120000. */
  renewBeforeMs?: number;
  /** Quiet time after a refused or cancelled result before the next operation may start. Default 500. */
  settleMs?: number;
}

/** "failed": a refusal no reconnection can mend stopped the tries; connect() tries anew. */
export type ConnectionState = 'idle' | 'connecting' | 'waiting' | 'ready' | 'failed' | 'closed';

export interface StateEvent {
  state: ConnectionState;
  /** Set with "waiting": the pause before the next try. */
  retryInMs?: number;
  /** Set with "failed": why the tries stopped. */
  error?: TefError;
}

export interface Session {
  sessionUuid: string;
  /** UTC, ISO 8601 with milliseconds ("2025-10-07T17:33:22.123Z"). */
  expiration: string;
  storeCode: string;
  terminalNumber: string;
}

export interface MenuOption {
  /** The line as the service offered it ("1:Debito"). */
  line: string;
  /** The code before the colon ("1"), or empty. */
  code: string;
  /** The text after the colon ("Debito"). */
  label: string;
}

export interface MenuPrompt {
  title: string;
  options: MenuOption[];
}

/** Choose an option (its `line`), go back one step, or leave the dialogue. */
export type MenuChoice = { option: string } | { back: true } | { cancel: true };

export type FieldOperation = 'string' | 'currency' | 'cmc7' | 'barcode' | 'segurança' | '';

export interface CollectPrompt {
  title: string;
  minimumSize: number;
  maximumSize: number;
  /** The SiTef field type number. */
  fieldType: number;
  /** How to ask for the value; "segurança" fields must be masked. */
  fieldOperation: FieldOperation;
}

/** Give the typed value, go back one step, or leave the dialogue. */
export type CollectChoice = { value: string } | { back: true } | { cancel: true };

export interface QuestionPrompt {
  message: string;
  /** Usually "Sim" and "Não", sometimes "Reimprimir" as well. */
  options: string[];
}

export interface ConfirmationPrompt {
  message: string;
  /**
   * True for the confirmation of a leftover: a payment an earlier run of the service left
   * approved, confirmed now ("Transação TEF efetuada. Favor reimprimir último Cupom. ...").
   * It is not the running operation's.
   */
  recovered: boolean;
}

/** Handlers of the confirmations a leftover may bring to any initialisation. */
export interface RecoveryHandlers {
  /** Resolve once the operator has read it; acknowledged at once when absent. */
  onConfirmation?: (prompt: ConfirmationPrompt) => MaybePromise<void>;
}

export interface DisplayMessage {
  /** A text for the operator; may be empty, which clears the previous one. */
  message: string;
}

export interface QrCode {
  /** The payload to draw as a QR code (a PIX "copia e cola" text). */
  data: string;
}

export interface Receipt {
  copyNumber: number;
  lines: string[];
}

type MaybePromise<T> = T | Promise<T>;

/**
 * One handler per kind of prompt. The answering handlers may be async; a handler that throws
 * leaves the dialogue (the operation then fails with HANDLER_FAILED unless it was approved).
 */
export interface PromptHandlers {
  onMenu: (prompt: MenuPrompt) => MaybePromise<MenuChoice>;
  onCollect: (prompt: CollectPrompt) => MaybePromise<CollectChoice>;
  /** Resolve with one of `prompt.options`. */
  onQuestion: (prompt: QuestionPrompt) => MaybePromise<string>;
  /** Resolve once the operator has read it; acknowledged at once when absent. */
  onConfirmation?: (prompt: ConfirmationPrompt) => MaybePromise<void>;
  onMessage?: (message: DisplayMessage) => void;
  onQrCode?: (qrCode: QrCode) => void;
  onReceipt?: (receipt: Receipt) => void;
  /** Offer the page's cancel button (client.abort()) only while the last call said true. */
  onCanCancel?: (canCancel: boolean) => void;
  /**
   * Called with the operation's idempotency key before anything is sent (payments and
   * cancellations): store it with the sale, to ask its outcome after a reload. The request waits
   * for a returned promise; a failure sends nothing and rejects with HANDLER_FAILED.
   */
  onKey?: (idempotencyKey: string) => MaybePromise<void>;
}

export interface ReceiptCopy {
  copy_number: number;
  data: string[];
}

/** One approved payment or cancellation, as the service reports it to the sales system. */
export interface PaymentData {
  sale_id: number;
  operation: 'debit' | 'credit' | 'pix' | 'cancellation';
  card_number?: string;
  operator: string;
  payer_name: string;
  institution: string;
  payment_method_code: string;
  payment_method_description: string;
  hash: string;
  /** The authorizer's NSU (SiTef field 134): the number a cancellation sends as "cancellation_nsu". */
  nsu_code: string;
  authorization_code: string;
  establishment_code: string;
  number_of_installments: number;
  transaction_value: number;
  /** UTC, "2024-01-05T13:30:00Z". */
  transaction_date_time: string;
  gateway: string;
  receipt: ReceiptCopy[];
  /** The sales system's payment id, 0 when it could not be registered; in the first element only. */
  payment_id?: number;
  /** The session token's company; in the first element only. */
  company_id?: number;
}

export interface ReprintData {
  sale_id: number;
  operation: 'reprint';
  receipt: ReceiptCopy[];
  payment_id?: number;
  company_id?: number;
}

export type TransactionData = PaymentData | ReprintData;

/** "interrupted": ended by a stop, a crash or a lost connection before any approval. */
export type ResultStatus = 'approved' | 'unauthorized' | 'canceled' | 'interrupted';
/** UNKNOWN_RESULT: a status this library does not know (a newer service): check the sale. */
export type ResultCode = 'APPROVED' | 'NOT_AUTHORIZED' | 'CANCELED' | 'INTERRUPTED' | 'UNKNOWN_RESULT';

/**
 * How an operation ended. Only "approved" moved money.
 * - refused: not authorised (by the authorizer, SiTef, or an approval not confirmed);
 * - canceled_by_page: abort(), or the page left a prompt;
 * - canceled_on_pinpad: the operator or customer cancelled on the pin-pad (or the service did);
 * - interrupted: the service stopped or crashed, the connection was lost, or the library failed,
 *   before any approval;
 * - undone: approved, then reversed before confirmation;
 * - unknown: a status this library does not know.
 */
export type ResultEnding =
  | 'approved' | 'refused' | 'canceled_by_page' | 'canceled_on_pinpad' | 'interrupted' | 'undone' | 'unknown';

export interface TransactionResult {
  /** The service's status; another text only from a newer service. */
  status: ResultStatus;
  code: ResultCode;
  /** The service's text ("Transação TEF concluída com sucesso."). */
  message: string;
  /** One element per confirmed transaction; empty unless approved. */
  transactions: TransactionData[];
  ending: ResultEnding;
  /**
   * Why it failed, as the operator was told: the dialogue's last confirmation ("Negada pelo
   * autorizador (51)", "Operação cancelada pelo operador") or message, or the journal's reason;
   * null when approved.
   */
  reason: string | null;
  /** The operation's idempotency key; null for a reprint. */
  idempotencyKey: string | null;
  /** The sale a leftover belongs to ("recovered" results); null otherwise. */
  saleId: number | null;
  /** A leftover an earlier run of the service left approved, confirmed now. */
  recovered: boolean;
  /** The outcome of an operation that had already ended, sent again for the same key. */
  replayed: boolean;
}

/** A leftover's result, delivered by the "recovered" event. */
export interface RecoveredEvent {
  result: TransactionResult;
  /** The sale the leftover was paid for (not necessarily the page's). */
  saleId: number | null;
  idempotencyKey: string | null;
}

/** What the service's journal says of one payment or cancellation. */
export type OperationStatus =
  | 'running' | 'approved' | 'confirmed' | 'undone' | 'refused' | 'canceled' | 'interrupted';

/** One payment or cancellation of the journal, as the service reports it (remembered 31 days). */
export interface JournalOperation {
  /** Absent when the request carried no key. */
  idempotency_key?: string;
  operation_id: string;
  sale_id: number;
  kind: 'payment' | 'cancellation';
  amount: number;
  installments: number;
  /**
   * running: in progress now; approved: authorised and kept, confirmed (charged) at the next
   * initialisation: treat as paid; confirmed: charged; undone, refused, canceled, interrupted:
   * nothing charged.
   */
  status: OperationStatus;
  /** The library's last text, or why it was interrupted; when known. */
  reason?: string;
  /** Masked; card payments once approved. */
  card_number?: string;
  nsu?: string;
  authorizer_nsu?: string;
  /** UTC, ISO 8601 with milliseconds. */
  requested_at: string;
  updated_at: string;
  /** Confirmed operations: whether the sales API has taken the report. */
  report?: 'sent' | 'pending';
  /** When report is "sent". */
  payment_id?: number;
}

export interface RunningOperation {
  sale_id: number;
  kind: 'payment' | 'cancellation';
  idempotency_key?: string;
}

export interface TransactionStatus {
  /** Oldest first; empty when none is known. */
  operations: JournalOperation[];
  /** An operation (payment, cancellation, reprint, pin-pad query) runs on the till now. */
  running: boolean;
  /** Set while a payment or cancellation runs. */
  running_operation?: RunningOperation;
}

export interface StatusQuery {
  idempotencyKey?: string;
  saleId?: number;
}

export interface PaymentRequest {
  payerName: string;
  /** A number (10.5) or the service's text form ("10,50"). */
  amount?: number | string;
  /** The SiTef function; 0 (the default) lets the customer choose at the menu. */
  operation?: number;
  installments?: number;
  /** The sale this payment belongs to, when it is not the session token's. */
  saleId?: number;
  /**
   * 1 to 64 letters, digits, "_" or "-"; one per attempt (after a refusal, a new one). Made by
   * the library when absent and handed to handlers.onKey before the request goes out.
   */
  idempotencyKey?: string;
}

export interface CancellationRequest {
  /**
   * The payment's "nsu_code": the authorizer's NSU (SiTef field 134), which the service gives
   * SiTef as the original transaction's NSU. Not the "NSU" line of the customer's receipt, which
   * is SiTef's own NSU (field 133).
   */
  nsu: string;
  /**
   * The payment's date in the till's local time, as its receipt prints it ("2024-01-05" or
   * "2024-01-05 10:30:00"); near midnight not the date of the UTC transaction_date_time.
   */
  date: string;
  amount?: number | string;
  /** The SiTef function; 200 by default. */
  operation?: number;
  installments?: number;
  saleId?: number;
  /** As for a payment. */
  idempotencyKey?: string;
}

export interface ReprintRequest {
  /** The SiTef reprint function (112, 113, 114); 112 by default. */
  operation?: number;
}

export interface PinpadStatus {
  status: 'connected' | 'disconnected' | 'error' | '';
  message: string;
}

export type VersionCategory = 'service_exe' | 'clisitef_dll';

export interface Version {
  category: VersionCategory;
  /** "1.0.0.4", or "Versão não encontrada". */
  version: string;
}

export type ServiceErrorCode =
  | 'FIELD_MISSING' | 'TYPE_MISMATCH' | 'REQUEST_INVALID' | 'VALUE_INVALID'
  | 'SESSION_DATA_INVALID' | 'UNAUTHORIZED' | 'SALE_ID_MISSING' | 'CALLBACK_URL_MISSING'
  | 'CALLBACK_URL_INVALID' | 'SESSION_INVALID' | 'SESSION_EXPIRED' | 'SESSION_FINISH_FAILED'
  | 'TEF_CONNECTION_FAILED' | 'SITEF_CONFIGURATION_INVALID' | 'SITEF_NOT_INITIALIZED'
  | 'PINPAD_CHECK_FAILED' | 'VERSION_CATEGORY_INVALID' | 'CANCELLATION_NSU_MISSING'
  | 'TRANSACTION_DATE_MISSING' | 'TRANSACTION_DATE_INVALID' | 'AMOUNT_INVALID' | 'TEF_BUSY'
  | 'IDEMPOTENCY_KEY_INVALID' | 'STATUS_FILTER_MISSING' | 'JOURNAL_UNAVAILABLE'
  | 'SALES_API_FAILED' | 'TEF_COMPONENT_ERROR' | 'INTERNAL_ERROR'
  /** A text the catalogue does not hold (a newer service). */
  | 'SERVICE_ERROR';

export type ClientErrorCode =
  | 'BUSY' | 'NOT_CONNECTED' | 'CONNECTION_LOST' | 'NO_REPLY' | 'CLOSED' | 'HANDLER_FAILED'
  /** Another operation (another tab or page) holds the till. */
  | 'TILL_BUSY'
  /** The service refused the page's origin (HTTP 403 at the handshake; Node only). */
  | 'ORIGIN_REFUSED'
  /** The service's certificate is not trusted (Node only). */
  | 'CERTIFICATE_UNTRUSTED'
  /** Warning only ("error" event): closes before opening, with no detail, three times in a row. */
  | 'HANDSHAKE_FAILED';

export type TefErrorCode = ServiceErrorCode | ClientErrorCode;

export class TefError extends Error {
  readonly name: 'TefError';
  readonly code: TefErrorCode;
  /** The service's own text when the service reported the failure; null otherwise. */
  readonly serviceMessage: string | null;
  /** The missing member, for FIELD_MISSING. */
  readonly field: string | null;
  /** For HANDLER_FAILED: the result the dialogue ended with. */
  readonly result: TransactionResult | null;
  /** The key of the payment or cancellation that failed: ask status() with it later. */
  readonly idempotencyKey: string | null;
  /** For TILL_BUSY: the sale of the operation holding the till, when the service named it. */
  readonly runningSaleId: number | null;
  /** True when the failure came from the service's error reply. */
  readonly fromService: boolean;
}

export interface CatalogueEntry {
  code: Exclude<ServiceErrorCode, 'SERVICE_ERROR'>;
  texts?: string[];
  prefixes?: string[];
  patterns?: RegExp[];
  meaning: string;
  action: string;
  fixedBy: 'operator' | 'integrator' | 'support';
}

export const ERROR_CATALOGUE: readonly CatalogueEntry[];
export const RESULT_CODES: Readonly<Record<ResultStatus, ResultCode>>;
export const CLIENT_ERRORS: Readonly<Record<ClientErrorCode, string>>;
export function catalogueEntry(text: string): CatalogueEntry | undefined;

/** The text of the service's "cancel this operation?" question. */
export const CANCEL_QUESTION: string;
export function menuOption(line: string): MenuOption;
export const DEFAULT_BACKOFF_MS: readonly number[];
/** A new idempotency key, to store with the sale before paying. */
export function newIdempotencyKey(): string;

export interface TefClientEvents {
  state: StateEvent;
  session: Session;
  /**
   * The result of a leftover: a payment an earlier run of the service left approved, confirmed
   * at this initialisation (initialize(), or the start of an operation). Record it with its
   * own sale; it is never the running operation's result.
   */
  recovered: RecoveredEvent;
  /** A message the service sent while no operation was waiting for one. */
  message: Record<string, unknown>;
  /** A failure in the background, such as a session that could not be started or renewed. */
  error: TefError | Error;
}

export class TefClient {
  constructor(options: TefClientOptions);
  readonly state: ConnectionState;
  readonly session: Session | null;
  /** Returns a function that unsubscribes. */
  on<E extends keyof TefClientEvents>(event: E, listener: (detail: TefClientEvents[E]) => void): () => void;
  /**
   * Connects and starts a session; resolves when ready. Reconnects by itself after a loss.
   * Rejects, and stops trying, when the service refuses the token (UNAUTHORIZED and the other
   * session refusals), the page's origin (ORIGIN_REFUSED) or the certificate is not trusted
   * (CERTIFICATE_UNTRUSTED); the last two are told apart in Node only.
   */
  connect(): Promise<Session>;
  /** Resolves once connected with a session (at once when ready); rejects with the refusal while "failed". */
  ready(): Promise<Session>;
  /** Replaces the session with one from a new token and finishes the old one. */
  renewSession(): Promise<Session>;
  initialize(handlers?: RecoveryHandlers): Promise<{ message: string }>;
  pinpadStatus(handlers?: RecoveryHandlers): Promise<PinpadStatus>;
  /** The journal's operations of a key or a sale, and what runs on the till now. */
  status(query: StatusQuery): Promise<TransactionStatus>;
  version(category: VersionCategory): Promise<Version>;
  pay(payment: PaymentRequest, handlers: PromptHandlers): Promise<TransactionResult>;
  /** Cancels an earlier, approved payment. */
  cancelPayment(cancellation: CancellationRequest, handlers: PromptHandlers): Promise<TransactionResult>;
  reprint(reprint: ReprintRequest, handlers: PromptHandlers): Promise<TransactionResult>;
  /**
   * Ends the running operation as soon as the service allows: a waiting menu or field is left,
   * otherwise one cancellation goes out while the service allows it (a repeated call adds none);
   * false when none runs.
   */
  abort(): boolean;
  /** Finishes the session when idle, fails a running operation with CLOSED, closes for good. */
  close(): Promise<void>;
}
