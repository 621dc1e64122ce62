// A page's use of the package, type-checked against its declarations: a mistake an integrator
// could make must fail here the way it would fail in their editor.
import {
  TefClient, TefError, catalogueEntry, newIdempotencyKey, type MenuChoice, type PromptHandlers,
  type RecoveredEvent, type ResultEnding, type TransactionResult, type WebSocketLike,
} from '@kelvora/tef-client';

declare const NodeWebSocket: new (url: string) => WebSocketLike;
declare function askOperator(title: string, options: string[]): Promise<string>;
declare function storeWithSale(saleId: number, key: string): Promise<void>;

const client = new TefClient({
  url: 'wss://localhost:8443',
  getToken: async () => 'token from the sales system',
  WebSocket: NodeWebSocket,
  backoffMs: [500, 1000],
});

const handlers: PromptHandlers = {
  async onMenu(prompt): Promise<MenuChoice> {
    const debit = prompt.options.find((option) => option.label === 'Debito');
    return debit ? { option: debit.line } : { cancel: true };
  },
  onCollect: (prompt) => (prompt.fieldOperation === 'segurança' ? { cancel: true } : { value: '123' }),
  onQuestion: (prompt) => askOperator(prompt.message, prompt.options),
  onReceipt: (receipt) => { receipt.lines.join('\n'); },
  onCanCancel: (canCancel) => { canCancel.valueOf(); },
  onConfirmation: (prompt) => { if (prompt.recovered) prompt.message.trim(); },
  onKey: (key) => storeWithSale(4821, key),
};

client.on('recovered', (event: RecoveredEvent) => event.saleId ?? event.result.transactions.length);

async function sell(): Promise<number> {
  await client.connect();
  client.on('state', (event) => event.retryInMs ?? 0);
  try {
    const idempotencyKey = newIdempotencyKey();
    await storeWithSale(4821, idempotencyKey);
    const result: TransactionResult = await client.pay({ payerName: 'Maria', amount: 10.5, saleId: 4821, idempotencyKey }, handlers);
    const ending: ResultEnding = result.ending;
    if (result.code !== 'APPROVED') return ending === 'canceled_by_page' ? -1 : (result.reason ?? '').length;
    const first = result.transactions[0];
    if (first === undefined || first.operation === 'reprint') return 0;
    return first.payment_id ?? 0;
  } catch (error) {
    if (error instanceof TefError && error.code === 'SESSION_EXPIRED') await client.renewSession();
    if (error instanceof TefError && error.idempotencyKey !== null) {
      const { operations, running_operation: running } = await client.status({ idempotencyKey: error.idempotencyKey });
      return operations.filter((operation) => operation.status === 'confirmed').length + (running?.sale_id ?? 0);
    }
    if (error instanceof TefError && error.code === 'TILL_BUSY') return error.runningSaleId ?? 0;
    if (error instanceof TefError && error.fromService) catalogueEntry(error.message)?.action;
    return 0;
  }
}

async function undo(nsu: string): Promise<void> {
  await client.cancelPayment({ nsu, date: '2024-01-05' }, handlers);
  await client.reprint({ operation: 113 }, handlers);
  await client.initialize({ onConfirmation: (prompt) => { prompt.recovered.valueOf(); } });
  (await client.version('clisitef_dll')).version.trim();
  client.abort();
  await client.close();
}

// What must not compile.
// @ts-expect-error a menu choice names its option
const wrongChoice: MenuChoice = { choose: '1:Debito' };
// @ts-expect-error the payer's name is required
client.pay({ amount: 10 }, handlers);
// @ts-expect-error only the two version categories exist
client.version('sitef');
// @ts-expect-error error codes are a closed set
const unknownCode: TefError['code'] = 'SOMETHING';
// @ts-expect-error a status query names a key or a sale by these names
client.status({ idempotency_key: 'k' });
// @ts-expect-error endings are a closed set
const unknownEnding: ResultEnding = 'lost';

export { sell, undo, wrongChoice, unknownCode, unknownEnding };
