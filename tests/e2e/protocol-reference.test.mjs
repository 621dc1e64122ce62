// The protocol reference itself: docs/protocol/asyncapi.yaml and sales-api.yaml parse, every
// reference in them leads somewhere, every example validates against its own schema and is read
// as the message it illustrates, and the schemas refuse the faults they exist to catch.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import {
  ASYNCAPI_FILE, FROM_PAGE, SALES_API_FILE, TO_PAGE, checkProtocolMessage, checkSalesApiBody,
  protocolSchemas, readProtocolDocument, resolvePointer,
} from './lib/protocolSchemas.mjs';

// Every "$ref" value in a document, with where it stands.
function refsOf(node, where = '#') {
  if (node === null || typeof node !== 'object') return [];
  return Object.entries(node).flatMap(([key, value]) => (key === '$ref' && typeof value === 'string'
    ? [[where, value]] : refsOf(value, `${where}/${key}`)));
}

// The approved result of a PIX payment as the page receives it, from asyncapi.yaml's examples.
function approvedExample() {
  const { messages } = protocolSchemas();
  return structuredClone(messages.ResultApproved.examples[0].payload);
}

describe('the documents', () => {
  test('parse, and name the AsyncAPI and OpenAPI versions they follow', () => {
    assert.equal(readProtocolDocument(ASYNCAPI_FILE).asyncapi, '3.0.0');
    assert.match(readProtocolDocument(SALES_API_FILE).openapi, /^3\.1\.\d+$/);
  });

  test('every reference leads to something, in the same document or the other', () => {
    const docs = { [ASYNCAPI_FILE]: readProtocolDocument(ASYNCAPI_FILE), [SALES_API_FILE]: readProtocolDocument(SALES_API_FILE) };
    for (const [file, doc] of Object.entries(docs)) {
      for (const [where, ref] of refsOf(doc)) {
        const [target, pointer] = ref.startsWith('#') ? [file, ref] : [ref.slice(2, ref.indexOf('#')), ref.slice(ref.indexOf('#'))];
        assert.ok(docs[target], `${file} ${where}: ${ref} names an unknown document`);
        assert.notEqual(resolvePointer(docs[target], pointer), undefined, `${file} ${where}: ${ref} leads nowhere`);
      }
    }
  });

  test('every message travels one way only', () => {
    const { asyncapi, directions } = protocolSchemas();
    const names = [...directions[FROM_PAGE], ...directions[TO_PAGE]].map((m) => m.name);
    assert.deepEqual([...names].sort(), Object.keys(asyncapi.channels.tef.messages).sort());
    assert.equal(new Set(names).size, names.length);
  });
});

describe('the examples', () => {
  test('each WebSocket message has an example, and each example is read as its own message', () => {
    const { directions } = protocolSchemas();
    for (const direction of [FROM_PAGE, TO_PAGE]) {
      for (const message of directions[direction]) {
        assert.ok(message.examples.length > 0, `${message.name} has no example`);
        for (const example of message.examples) {
          assert.equal(checkProtocolMessage(direction, example.payload), message.name, `${message.name}: ${example.name}`);
        }
      }
    }
  });

  test('each example of the sales API validates against its schema', () => {
    const { salesApi, ajv, compile } = protocolSchemas();
    const schemaFor = (schema) => (schema.$ref ? compile(SALES_API_FILE, schema.$ref) : ajv.compile(schema));
    const checked = [];
    const check = (where, schema, value) => {
      const validate = schemaFor(schema);
      assert.ok(validate(value), `${where}: ${JSON.stringify(validate.errors)}`);
      checked.push(where);
    };
    const operation = salesApi.paths['/v1/sales/tef/callback/{token}'].post;
    for (const parameter of operation.parameters) {
      if (parameter.example !== undefined) check(`parameter ${parameter.name}`, parameter.schema, parameter.example);
    }
    const bodies = [['request body', operation.requestBody]];
    for (const [status, response] of Object.entries(operation.responses)) {
      bodies.push([`response ${status}`, response.$ref ? resolvePointer(salesApi, response.$ref) : response]);
    }
    for (const [where, body] of bodies) {
      for (const media of Object.values(body.content ?? {})) {
        for (const [name, example] of Object.entries(media.examples ?? {})) {
          check(`${where} ${name}`, media.schema, example.value);
        }
      }
    }
    assert.ok(checked.includes('request body debit') && checked.includes('parameter token'), checked.join(', '));
  });
});

describe('the schemas refuse what the service must never send', () => {
  const withFirst = (change) => {
    const result = approvedExample();
    change(result.transaction_data[0]);
    return result;
  };
  const cases = [
    ['an approved result without the sales API\'s payment id', withFirst((e) => { delete e.payment_id; })],
    ['an amount written as text', withFirst((e) => { e.transaction_value = '5,00'; })],
    ['instalments as text', withFirst((e) => { e.number_of_installments = '0'; })],
    ['a date with a time zone other than Z', withFirst((e) => { e.transaction_date_time = '2026-12-11T01:01:40-03:00'; })],
    ['a card payment without its card number', withFirst((e) => { e.operation = 'debit'; })],
    ['an unknown operation', withFirst((e) => { e.operation = 'refund'; })],
    ['a member no one documented', withFirst((e) => { e.track2 = ';4111111111111111=2512?'; })],
    ['a second element with a payment id', (() => {
      const result = approvedExample();
      result.transaction_data.push(structuredClone(result.transaction_data[0]));
      return result;
    })()],
    ['a menu whose option is a number', { type: 'menu', title: 'x', options: [1], can_cancel: false, back_menu: false }],
    ['a question offering other answers', { type: 'question', message: 'x', options: ['Yes', 'No'], can_cancel: false }],
    ['a pin-pad status with another status\'s text', { type: 'status', status: 'connected', message: 'Nenhum PinPad conectado' }],
    ['a session id in lower case', {
      type: 'session', status: 'created', message: 'Sessão criada com sucesso.', expiration: '2026-12-11T01:35:04.836Z',
      session_uuid: '4095e256-91f9-4770-bc11-b5f72b6bd55f', store_code: '00000001', terminal_number: 'AG001200',
    }],
    ['a reply of no known type', { type: 'notice', message: 'x' }],
  ];
  for (const [name, message] of cases) {
    test(name, () => assert.throws(() => checkProtocolMessage(TO_PAGE, message), { name: 'ProtocolSchemaError' }));
  }

  test('a report to the sales API that carries the API\'s own answer', () => {
    const report = approvedExample();
    assert.throws(() => checkSalesApiBody(report), { name: 'ProtocolSchemaError' });
    for (const element of report.transaction_data) {
      delete element.payment_id;
      delete element.company_id;
    }
    checkSalesApiBody(report);
  });
});

describe('the requests take both forms the service reads', () => {
  const payment = { route: '/transaction', session_uuid: 'S', type: 'transaction', operation: '0', payer_name: 'Maria' };
  const cases = [
    ['amount as text with a comma', { ...payment, transaction_value: '10,50' }, true],
    ['amount as a number', { ...payment, transaction_value: 10.5 }, true],
    ['amount as text with a point', { ...payment, transaction_value: '10.50' }, false],
    ['operation as a number', { ...payment, operation: 0 }, true],
    ['operation as words', { ...payment, operation: 'zero' }, false],
    ['instalments as text', { ...payment, number_of_installments: '3' }, true],
    ['instalments as a fraction', { ...payment, number_of_installments: 2.5 }, false],
    ['a payment without its payer', { ...payment, payer_name: undefined }, false],
    ['a flag as text', { route: '/transaction', type: 'collect', typed: 'true', response: '3', back_menu: 'false' }, true],
    ['a flag as a boolean', { route: '/transaction', type: 'collect', typed: true, response: 3 }, true],
    ['a field typed without its value', { route: '/transaction', type: 'collect', typed: 'true' }, false],
    ['a field left without saying whether to go back', { route: '/transaction', type: 'collect', typed: 'false' }, false],
    ['a menu left without saying whether to go back', { route: '/transaction', type: 'menu', response: '' }, false],
    ['a question answered in other words', { route: '/transaction', type: 'question', response: 'sim' }, false],
  ];
  for (const [name, request, valid] of cases) {
    test(name, () => {
      const check = () => checkProtocolMessage(FROM_PAGE, JSON.parse(JSON.stringify(request)));
      if (valid) check(); else assert.throws(check, { name: 'ProtocolSchemaError' });
    });
  }
});
