// The library's declarations (clients/js/types/index.d.ts, read with the TypeScript compiler) held
// to the protocol's reference (docs/protocol/asyncapi.yaml): the objects a page receives as the
// service sent them (result elements, the status reply and its operations) declare the same
// members, optional exactly where the reference does not require them, with the same
// enumerations; the result statuses agree; and every member a result or confirmation carries
// beyond its status and data reaches what the library hands the page.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import ts from 'typescript';
import { RESULT_CODES } from '../../clients/js/src/index.js';
import { readProtocolDocument, resolvePointer } from '../e2e/lib/protocolSchemas.mjs';

const DECLARATIONS = new URL('../../clients/js/types/index.d.ts', import.meta.url);
const asyncapi = readProtocolDocument('asyncapi.yaml');
const schemas = asyncapi.components.schemas;

// Wire objects the library passes on as they are, by schema and declared interface; `wireOnly`
// names members the library consumes itself.
const PASSED_ON = [
  { schema: 'PaymentElement', declared: 'PaymentData' },
  { schema: 'ReprintElement', declared: 'ReprintData' },
  { schema: 'TransactionStatusReply', declared: 'TransactionStatus', wireOnly: ['type'] },
  { schema: 'JournalOperation', declared: 'JournalOperation' },
  { schema: 'RunningOperation', declared: 'RunningOperation' },
];

// A result's members that the library reads itself rather than hand on under another name.
const RESULT_CORE = ['type', 'status', 'message', 'transaction_data'];

// The interfaces and type aliases of a declaration file: each interface's properties with their
// optional flag and type node.
function readDeclarations(text) {
  const source = ts.createSourceFile('index.d.ts', text, ts.ScriptTarget.Latest, true);
  const interfaces = new Map();
  const aliases = new Map();
  for (const statement of source.statements) {
    if (ts.isInterfaceDeclaration(statement)) {
      const members = new Map();
      for (const member of statement.members.filter(ts.isPropertySignature)) {
        members.set(member.name.getText(source).replace(/^['"]|['"]$/g, ''),
          { optional: member.questionToken !== undefined, type: member.type });
      }
      interfaces.set(statement.name.text, members);
    } else if (ts.isTypeAliasDeclaration(statement)) {
      aliases.set(statement.name.text, statement.type);
    }
  }
  // The string literals a type allows, following aliases; null when it allows other values.
  const literals = (node) => {
    if (node === undefined) return null;
    if (ts.isUnionTypeNode(node)) {
      const parts = node.types.map(literals);
      return parts.includes(null) ? null : parts.flat();
    }
    if (ts.isLiteralTypeNode(node) && ts.isStringLiteral(node.literal)) return [node.literal.text];
    if (ts.isTypeReferenceNode(node) && aliases.has(node.typeName.getText(source))) {
      return literals(aliases.get(node.typeName.getText(source)));
    }
    return null;
  };
  return { interfaces, literals };
}

const resolve = (node) => (node?.$ref ? resolve(resolvePointer(asyncapi, node.$ref)) : node);

// The values a schema member allows when it is an enumeration or a constant, else null.
function schemaLiterals(node) {
  const member = resolve(node);
  if (member?.enum) return member.enum.filter((value) => typeof value === 'string');
  return typeof member?.const === 'string' ? [member.const] : null;
}

const sorted = (values) => [...values].sort();

// The differences between a schema's members and an interface's, one line each; empty when they
// agree.
function drift(schemaName, declaredName, declarations, wireOnly = []) {
  const schema = resolve(schemas[schemaName]);
  const declared = declarations.interfaces.get(declaredName);
  if (!declared) return [`${declaredName} is not declared`];
  const required = new Set(schema.required ?? []);
  const wire = Object.keys(schema.properties).filter((name) => !wireOnly.includes(name));
  const found = [];
  for (const name of wire) {
    const member = declared.get(name);
    if (!member) {
      found.push(`${declaredName} lacks "${name}" of ${schemaName}`);
      continue;
    }
    if (member.optional === required.has(name)) {
      found.push(`${declaredName}.${name} is ${member.optional ? 'optional' : 'required'}, ${schemaName} ` +
        `${required.has(name) ? 'requires it' : 'does not require it'}`);
    }
    const expected = schemaLiterals(schema.properties[name]);
    const actual = declarations.literals(member.type);
    if (expected && actual && JSON.stringify(sorted(expected)) !== JSON.stringify(sorted(actual))) {
      found.push(`${declaredName}.${name} allows ${actual.join('|')}, ${schemaName} ${expected.join('|')}`);
    }
  }
  for (const name of declared.keys()) {
    if (!wire.includes(name)) found.push(`${declaredName} declares "${name}", which ${schemaName} does not have`);
  }
  return found;
}

const camel = (name) => name.replace(/_([a-z])/g, (_, letter) => letter.toUpperCase());
const declarations = readDeclarations(fs.readFileSync(DECLARATIONS, 'utf8'));

describe('the declarations agree with asyncapi.yaml', () => {
  for (const { schema, declared, wireOnly } of PASSED_ON) {
    test(`${declared} is ${schema}`, (t) => {
      if (!schemas[schema]) {
        t.skip(`asyncapi.yaml does not describe ${schema} yet`);
        return;
      }
      assert.deepEqual(drift(schema, declared, declarations, wireOnly), []);
    });
  }

  test('the result statuses and their codes', () => {
    const statuses = [...schemaLiterals(schemas.ResultApproved.properties.status),
      ...schemaLiterals(schemas.ResultNotDone.properties.status)];
    assert.deepEqual(sorted(declarations.literals(declarations.interfaces.get('TransactionResult').get('status').type)),
      sorted(statuses));
    assert.deepEqual(sorted(Object.keys(RESULT_CODES)), sorted(statuses));
    assert.deepEqual(sorted(declarations.literals(declarations.interfaces.get('TransactionResult').get('code').type)),
      sorted([...Object.values(RESULT_CODES), 'UNKNOWN_RESULT']));
  });

  test('every member a result or a confirmation carries reaches the page', () => {
    const result = declarations.interfaces.get('TransactionResult');
    for (const name of ['ResultApproved', 'ResultNotDone']) {
      for (const member of Object.keys(schemas[name].properties).filter((m) => !RESULT_CORE.includes(m))) {
        assert.ok(result.has(camel(member)), `TransactionResult lacks ${camel(member)} for "${member}" of ${name}`);
      }
    }
    const confirmation = declarations.interfaces.get('ConfirmationPrompt');
    if (schemas.Confirmation.properties.recovered) assert.ok(confirmation.has('recovered'));
  });
});

describe('the comparison finds drift', () => {
  const text = fs.readFileSync(DECLARATIONS, 'utf8');
  const cases = [
    ['a member made required', 'payment_id?: number;', 'payment_id: number;', /PaymentData.payment_id is required/],
    ['a member missing', '  nsu_code: string;\n', '', /PaymentData lacks "nsu_code"/],
    ['a member the service does not send', 'hash: string;', 'hash: string;\n  terminal: string;', /declares "terminal"/],
    ['an enumeration that differs', "'debit' | 'credit' | 'pix' | 'cancellation'", "'debit' | 'credit'", /operation allows debit\|credit/],
  ];
  for (const [name, from, to, expected] of cases) {
    test(name, () => {
      assert.ok(text.includes(from), `the fixture's text is in the declarations: ${from}`);
      const found = drift('PaymentElement', 'PaymentData', readDeclarations(text.replace(from, to)));
      assert.match(found.join('\n'), expected);
    });
  }
});
