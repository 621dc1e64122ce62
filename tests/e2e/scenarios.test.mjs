// Every command of the SiTef dialogue end to end: the simulator plays a scenario file, the real
// service relays it, and a real WebSocket client plays the page. Each case checks the prompts the
// page receives, in order, what its answers do (the answers the scenario expects reach the
// library), the result and what the simulated server remembers.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { describe, test } from 'node:test';
import {
  CAN_CANCEL, CANCEL_QUESTION, PAYMENT, assertMessage, failure, message, serviceWithStopAfterEach,
} from './transaction-support.mjs';
import {
  collect, collectBack, confirmation, hostTimeUtc, menu, menuBack, ok, pick, play, question,
  readTefLog, receipt, reply, scenarioIni, typed,
} from './scenario-support.mjs';

// The page may no longer cancel: announced when the library's wait ends.
const CANCEL_ENDED = { type: 'can_cancel', can_cancel: false };

const serviceWith = serviceWithStopAfterEach();

const HOST_TIME = hostTimeUtc(2025, 1, 5, 10, 30, 0);

async function waitFor(condition, what, timeoutMs = 15000) {
  const deadline = Date.now() + timeoutMs;
  while (!(await condition())) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}
const CANCELLED = confirmation('Operação cancelada pelo operador', []);

// scenario: the file played; request: the page's "/transaction" members; answers: the page's
// answers in order; prompts: every message before the result; result: the result without its
// "transaction_data", and element: members of its first element; ledger: the simulator's events;
// tefLog: texts the TEF log must (and must not) hold.
const CASES = [
  {
    name: 'every message command, a menu whose title was cleared, both questions, an approved debit',
    scenario: 'every-message.scenario',
    answers: [pick('2:Nao'), pick('1:debito'), reply('Sim'), reply('Não')],
    prompts: [
      message('Operador\r\nsegunda linha'),
      message('Cliente\r\nsegunda linha'),
      message('Ambos'), message('Ambos'),
      message(''), // 11 removes the operator message; 12 sends nothing
      message(''), // 13
      message(''), // 22 without text shows nothing; going back removes the messages
      menu('', ['1:Sim', '2:Nao']),
      menu('Forma de pagamento', ['1:Debito', '2:Credito']),
      question('Confirma o valor?'),
      question('CONFIRMA ?'),
      CAN_CANCEL,
      CANCEL_ENDED, // the wait is over
      message('Aguarde\r\nautorizacao'), // field 732
      receipt(1, ['CENARIO - SEM VALOR', 'VIA CLIENTE']),
      receipt(2, ['CENARIO - SEM VALOR', 'VIA ESTABELECIMENTO', 'FIM']),
    ],
    result: 'approved',
    element: {
      operation: 'debit', card_number: '411111******1111', operator: 'REDE',
      institution: '00099', payment_method_code: '0100', payment_method_description: 'Cartão de Débito',
      hash: 'HASH-CENARIO', nsu_code: '000000123', authorization_code: '654321',
      establishment_code: '000000000000001', number_of_installments: 0, transaction_value: 10,
      transaction_date_time: HOST_TIME, gateway: 'Software Express',
    },
    ledger: ['APPROVED', 'CONFIRMED'],
    tefLog: { has: ['015-000 = True', '025-000 = True', '502-000 = 12345678909'] },
  },
  {
    name: 'fields asked of the page (string, security code, cmc7, currency, bar code) or answered by the service',
    scenario: 'fields.scenario',
    request: { number_of_installments: 3 },
    answers: [
      typed('4111111111111111'), collectBack, typed('V42'), typed('123'),
      typed('000000000000000000000000000000'), typed('12.5'),
      typed('84670000001435900240200240500024384221010811'),
    ],
    prompts: [
      collect('Digite o numero do cartao', 13, 19, 512, 'string'),
      collect('Codigo do vendedor', 0, 10, 999, 'string'),
      message(''), // going back removes the messages
      collect('Codigo do vendedor', 0, 10, 999, 'string'),
      collect('Codigo de seguranca', 3, 4, 514, 'segurança'),
      collect('Digite o CMC7', 0, 30, 518, 'cmc7'),
      collect('Valor do saque', 1, 9, 130, 'currency'),
      collect('Leia o codigo de barras', 1, 48, 530, 'barcode'),
      receipt(1, ['CENARIO - SEM VALOR', 'VIA CLIENTE']),
    ],
    result: 'approved',
    element: { operation: 'credit', payment_method_code: '0202', nsu_code: '', authorization_code: '654322' },
    ledger: ['APPROVED', 'CONFIRMED'],
    // Card number and security code never reach the TEF log in clear.
    tefLog: {
      has: ['Chamando: Continua = 0 Buffer = 411111******1111\r\n', 'Chamando: Continua = 0 Buffer = ***\r\n',
        '512-000 = 411111******1111\r\n', 'Buffer = VISA ELECTRON\\x0ASAQUE Tam.Min'],
      hasNot: ['4111111111111111', 'Buffer = 123\r\n'],
    },
  },
  {
    name: 'a Pix whose QR code comes back as text (commands 50 and 52)',
    scenario: 'pix-qrcode.scenario',
    answers: [],
    prompts: [
      { type: 'qrcode', data: '00020101021226830014br.gov.bcb.pix2561qrcode.exemplo/v2/cobv6304ABCD' },
      message('Aguardando\r\npagamento'), message('Aguardando\r\npagamento'),
      CAN_CANCEL,
      CANCEL_ENDED, // approved
      receipt(1, ['CENARIO - SEM VALOR', 'PIX']),
    ],
    result: 'approved',
    element: { operation: 'pix', operator: 'PIX', payment_method_code: '9900' },
    ledger: ['APPROVED', 'CONFIRMED'],
    tefLog: { has: ['Restricoes: {DevolveStringQRCode=1}'] },
  },
  {
    name: 'qrcode_on_pinpad: without {DevolveStringQRCode=1} the QR code is on the pin-pad (command 52, field 4128)',
    scenario: 'qrcode-on-pinpad.scenario',
    ini: '[Sitef]\nqrcode_on_pinpad=1\n',
    answers: [],
    prompts: [
      message('Leia o QR Code\r\nno pinpad'), CAN_CANCEL, CANCEL_ENDED,
      receipt(1, ['CENARIO - SEM VALOR', 'PIX']),
    ],
    result: 'approved',
    element: { operation: 'pix' },
    ledger: ['APPROVED', 'CONFIRMED'],
    tefLog: { hasNot: ['DevolveStringQRCode'] },
  },
  {
    name: 'an approval without receipt fields 121/122 is confirmed in the library',
    scenario: 'no-receipt.scenario',
    answers: [],
    prompts: [CAN_CANCEL, CANCEL_ENDED],
    result: 'approved',
    element: { operation: 'debit', receipt: [] },
    ledger: ['APPROVED', 'CONFIRMED'],
  },
  {
    name: 'command 22 "Transacao ja efetuada" tells the operator to settle the payment by hand',
    scenario: 'already-done.scenario',
    answers: [ok, ok],
    prompts: [
      confirmation('Transação já efetuada no sitef\r\nImprima o ultimo comprovante de pagamento e informe o pagamento manual.'),
      message(''),
      CANCELLED,
    ],
    result: failure('unauthorized'),
    ledger: [],
  },
  {
    name: 'command 22 "Unauthorized" is shown as the library\'s final word, and the dialogue fails',
    scenario: 'unauthorized.scenario',
    answers: [ok, ok],
    prompts: [
      confirmation(' Unauthorized', []),
      message(''),
      confirmation('Não foi possivel realizar a conexão com o servidor SiTef\r\nPor favor tente mais tarde...', []),
    ],
    result: failure('unauthorized'),
    ledger: [],
  },
  {
    name: 'a menu left with the back key, the cancellation declined, then answered',
    scenario: 'menu-back.scenario',
    answers: [menuBack, reply('Não'), pick('1:Debito')],
    prompts: [
      menu('Selecione a forma de pagamento', ['1:Debito', '2:Credito']),
      CANCEL_QUESTION,
      message(''),
      menu('Selecione a forma de pagamento', ['1:Debito', '2:Credito']),
      receipt(1, ['CENARIO - SEM VALOR']),
    ],
    result: 'approved',
    element: { operation: 'debit' },
    ledger: ['APPROVED', 'CONFIRMED'],
  },
  {
    name: 'a debit: the card-entry, VISA ELECTRON and "A Vista" menus are answered without being shown',
    scenario: 'debit-menus.scenario',
    request: { operation: '2' },
    answers: [pick('2:Poupanca')],
    prompts: [menu('', ['1:Conta corrente', '2:Poupanca']), receipt(1, ['CENARIO - SEM VALOR'])],
    result: 'approved',
    element: { operation: 'debit' },
    ledger: ['APPROVED', 'CONFIRMED'],
  },
  {
    name: 'a credit in instalments: the plan menu is answered from the sale, VISA ELECTRON is shown',
    scenario: 'credit-menus.scenario',
    request: { operation: '3', number_of_installments: 3 },
    answers: [pick('2:VISA')],
    prompts: [menu('', ['1:VISA ELECTRON', '2:VISA']), receipt(1, ['CENARIO - SEM VALOR'])],
    result: 'approved',
    element: { operation: 'credit', number_of_installments: 3 },
    ledger: ['APPROVED', 'CONFIRMED'],
  },
  {
    name: 'a menu answered with a line it does not offer aborts the dialogue',
    scenario: 'menu-abort.scenario',
    answers: [pick('3:Outro'), ok],
    prompts: [menu('', ['1:Debito', '2:Credito']), message(''), CANCELLED],
    result: failure('unauthorized'),
    ledger: [],
  },
  {
    name: 'a menu cancelled by the page, the cancellation confirmed, aborts the dialogue',
    scenario: 'menu-abort.scenario',
    answers: [{ type: 'menu', response: '', back_menu: 'false' }, reply('Sim'), ok],
    prompts: [menu('', ['1:Debito', '2:Credito']), CANCEL_QUESTION, message(''), CANCELLED],
    result: failure('canceled'),
    ledger: [],
  },
  {
    name: 'a cancellation: date, NSU and amount answered by the service; field 110 asks to keep the coupon',
    scenario: 'cancellation.scenario',
    request: {
      type: 'cancellation', operation: '200', cancellation_nsu: '000123', transaction_date: '2025-01-05',
      transaction_value: '10,00', payer_name: undefined,
    },
    answers: [ok],
    prompts: [
      receipt(1, ['CENARIO - SEM VALOR', 'CANCELAMENTO']),
      confirmation('Transação efetuada com sucesso.\r\nFavor reter o Cupom'),
    ],
    result: 'approved',
    element: { operation: 'cancellation' },
    ledger: ['APPROVED', 'CONFIRMED'],
  },
  {
    name: 'a reprint (fields 56, 57, 58) is not confirmed in the library',
    scenario: 'reprint.scenario',
    request: { type: 'reprint', operation: '113', payer_name: undefined, transaction_value: undefined },
    answers: [],
    prompts: [receipt(1, ['CENARIO - SEM VALOR', 'REIMPRESSAO'])],
    result: 'approved',
    element: { operation: 'reprint' },
    ledger: [],
  },
];

async function checkTefLog(t, expected) {
  if (!expected) return;
  const log = await readTefLog(t.svc.baseDir);
  for (const text of expected.has ?? []) assert.ok(log.includes(text), `TEF log lacks ${text}\n${log}`);
  for (const text of expected.hasNot ?? []) assert.ok(!log.includes(text), `TEF log holds ${text}`);
}

describe('scenarios', () => {
  for (const c of CASES) {
    test(c.name, async () => {
      const t = await serviceWith({ simulatorIni: scenarioIni(c.scenario), ini: c.ini });
      const members = { ...PAYMENT, ...c.request };
      for (const key of Object.keys(members)) if (members[key] === undefined) delete members[key];
      await t.request(members);
      const seen = await play(t, c.answers);
      const result = seen.pop();
      assertMessage(seen, c.prompts, `prompts of ${c.scenario}`);

      if (c.result === 'approved') {
        assert.equal(result.status, 'approved', JSON.stringify(result));
        const [element] = result.transaction_data;
        for (const [key, value] of Object.entries(c.element)) {
          assert.deepEqual(element[key], value, `element member ${key}`);
        }
      } else {
        assertMessage(result, c.result, 'result');
      }
      const ledger = await t.ledger();
      assert.deepEqual(ledger.map((e) => e.event), c.ledger, JSON.stringify(ledger));
      await checkTefLog(t, c.tefLog);
    });
  }

  test('an answer the scenario does not expect ends the dialogue and is reported', async () => {
    const t = await serviceWith({ simulatorIni: scenarioIni('menu-back.scenario') });
    await t.request(PAYMENT);
    const seen = await play(t, [pick('2:Credito'), ok]);
    assertMessage(seen, [
      menu('Selecione a forma de pagamento', ['1:Debito', '2:Credito']),
      confirmation('Operadora do cartão de crédito off-line (-101)', []),
      failure('unauthorized'),
    ]);
    const [mismatch, ...rest] = await t.ledger();
    assert.deepEqual(rest, []);
    assert.deepEqual({ ...mismatch, at: undefined }, {
      event: 'MISMATCH', scenario: scenarioIni('menu-back.scenario').split('=')[1].trim(), line: '3',
      command: '21', field: '-1', expected: 'back', got: '"2"', at: undefined,
    });
    assert.match(t.svc.service.stderr,
      /Simulador CliSiTef: cenário .*menu-back\.scenario, linha 3 \(comando 21, campo -1\): esperava back, recebeu "2"/);
  });

  test('a scenario file that cannot be played refuses the start, naming the line at fault', async () => {
    const t = await serviceWith({ simulatorIni: '[dialog]\nscenario=bad.scenario\n' });
    await fs.writeFile(path.join(t.svc.baseDir, 'dll', 'bad.scenario'), 'command 1 "ok"\ncommand x\nfinal 0\n');
    await t.request(PAYMENT);
    const seen = await play(t, [ok]);
    assertMessage(seen, [confirmation('Operadora do cartão de crédito off-line (-100)', []), failure('unauthorized')]);
    const [bad] = await t.ledger();
    assert.equal(bad.event, 'BADSCENARIO');
    assert.equal(bad.scenario, 'bad.scenario');
    assert.equal(bad.line, '2');
    assert.match(t.svc.service.stderr, /cenário bad\.scenario recusado, linha 2: número inválido/);
  });

  test('an approval after which the dialogue is abandoned leaves nothing pending', async () => {
    const t = await serviceWith({ simulatorIni: scenarioIni('abandoned.scenario') });
    await t.request(PAYMENT);
    assertMessage(await t.next(), menu('', ['1:Imprimir', '2:Nao imprimir']));
    // The page goes away without answering: the dialogue never reaches its final status, and the
    // service cancels what it left pending once it notices.
    await t.client.terminate();
    await waitFor(async () => {
      const log = await readTefLog(t.svc.baseDir);
      return log.indexOf('CancelarTransacoesPendentesClass', log.indexOf('Buffer = 1:Imprimir')) > 0;
    }, 'the cancellation of what the lost connection left');
    assert.deepEqual(await t.ledger(), []);

    const second = await t.connect();
    const uuid = await t.session(second);
    await t.request(PAYMENT, second, uuid);
    const seen = await play(t, [pick('1:Imprimir')], second);
    assert.equal(seen.at(-1).status, 'approved', JSON.stringify(seen));
    const ledger = await t.ledger();
    // The library notes the dialogue the page gave up when the next one starts.
    assert.deepEqual(ledger.map((e) => e.event), ['ABANDONED', 'APPROVED', 'CONFIRMED']);
    assert.equal(ledger[2].count, '1');
    const backups = (await fs.readdir(path.join(t.svc.baseDir, 'TEF'), { withFileTypes: true }))
      .filter((entry) => entry.isFile());
    assert.deepEqual(backups, [], 'no backup file is left');
  });
});
