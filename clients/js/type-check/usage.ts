// A page's use of the package, type-checked against its declarations: a mistake an integrator
// could make must fail here the way it would fail in their editor.
import {
  TefClient, TefError, catalogueEntry, type MenuChoice, type PromptHandlers, type TransactionResult,
  type WebSocketLike,
} from '@kelvora/tef-client';

declare const NodeWebSocket: new (url: string) => WebSocketLike;
declare function askOperator(title: string, options: string[]): Promise<string>;

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
};

async function sell(): Promise<number> {
  await client.connect();
  client.on('state', (event) => event.retryInMs ?? 0);
  try {
    const result: TransactionResult = await client.pay({ payerName: 'Maria', amount: 10.5 }, handlers);
    if (result.code !== 'APPROVED') return 0;
    const first = result.transactions[0];
    if (first === undefined || first.operation === 'reprint') return 0;
    return first.payment_id;
  } catch (error) {
    if (error instanceof TefError && error.code === 'SESSION_EXPIRED') await client.renewSession();
    if (error instanceof TefError && error.fromService) catalogueEntry(error.message)?.action;
    return 0;
  }
}

async function undo(nsu: string): Promise<void> {
  await client.cancelPayment({ nsu, date: '2024-01-05' }, handlers);
  await client.reprint({ operation: 113 }, handlers);
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

export { sell, undo, wrongChoice, unknownCode };
