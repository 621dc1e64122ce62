// The error catalogue of the client library against the service's sources: every text the
// service can send as an error reply has a stable code, every result status has one, and the
// catalogue's document lists every code.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import {
  CLIENT_ERRORS, ERROR_CATALOGUE, RESULT_CODES, TefError, catalogueEntry,
} from '../../clients/js/src/index.js';
import { serviceError } from '../../clients/js/src/errors.js';
import { resultStatuses, serviceErrorTexts } from './serviceTexts.mjs';

const root = new URL('../../', import.meta.url).pathname;
const SESSION_STATUSES = ['created', 'finished'];

describe('the catalogue covers the service', () => {
  test('every error text in the sources maps to a code', () => {
    // A text made entirely at run time forwards another error's text, which is itself listed.
    const texts = serviceErrorTexts(root).filter(({ text }) => text !== 'X');
    assert.ok(texts.length > 50, 'the sources were read');
    const unmapped = texts.filter(({ text }) => catalogueEntry(text) === undefined);
    assert.deepEqual(unmapped, [], 'texts without a code: add them to clients/js/src/catalogue.js');
  });

  test('every result status maps to a code', () => {
    const statuses = resultStatuses(root).filter((status) => !SESSION_STATUSES.includes(status));
    assert.deepEqual(statuses.sort(), Object.keys(RESULT_CODES).sort());
  });

  test('the texts extracted from the sources read as the service sends them', () => {
    const texts = serviceErrorTexts(root).map(({ text }) => text);
    for (const expected of ['Campo X nao encontrado.', 'Erro ao conectar com servidor TEF: X',
      'O campo "cancellation_nsu" não foi preenchido.',
      'Modo seguro não ativo (possível falta de configuração no servidor SiTef do arquivo .cha).']) {
      assert.ok(texts.includes(expected), expected);
    }
  });
});

describe('texts to codes', () => {
  const cases = [
    ['Sessão expirada.', 'SESSION_EXPIRED'],
    ['Sessão inválida.', 'SESSION_INVALID'],
    ['Campo session_uuid nao encontrado.', 'FIELD_MISSING'],
    ['Erro ao conectar com servidor TEF: Código da loja inválido', 'TEF_CONNECTION_FAILED'],
    ['Código da loja inválido', 'SITEF_CONFIGURATION_INVALID'],
    ['Erro ao verificar pinpad: Erro ao carregar a função:VerificaPresencaPinPad de: CliSiTef32I.dll',
      'PINPAD_CHECK_FAILED'],
    ["'10,5x' is not a valid floating point value", 'VALUE_INVALID'],
    ['Request Error Couldn\'t connect to server', 'SALES_API_FAILED'],
    ['Gerenciador Padrão: CliSiTef não foi inicializado', 'SITEF_NOT_INITIALIZED'],
    ['A text of a newer service', 'SERVICE_ERROR'],
  ];
  for (const [text, code] of cases) {
    test(`${JSON.stringify(text)} is ${code}`, () => {
      const error = serviceError(text);
      assert.ok(error instanceof TefError);
      assert.deepEqual([error.code, error.message, error.serviceMessage, error.fromService], [code, text, text, true]);
    });
  }

  test('a missing member is named', () => {
    assert.equal(serviceError('Campo payer_name nao encontrado.').field, 'payer_name');
  });
});

test('docs/protocol/errors.md lists every code with its text', () => {
  const document = fs.readFileSync(`${root}docs/protocol/errors.md`, 'utf8');
  const codes = [...ERROR_CATALOGUE.map((entry) => entry.code), ...Object.values(RESULT_CODES),
    ...Object.keys(CLIENT_ERRORS), 'SERVICE_ERROR'];
  const missing = codes.filter((code) => !document.includes(`\`${code}\``));
  assert.deepEqual(missing, []);
  const texts = ERROR_CATALOGUE.flatMap((entry) => entry.texts ?? []);
  const textsMissing = texts.filter((text) => !document.includes(text.replaceAll('|', '\\|')));
  assert.deepEqual(textsMissing, []);
});

test('codes are unique and every entry says what it means and what to do', () => {
  const codes = ERROR_CATALOGUE.map((entry) => entry.code);
  assert.equal(new Set(codes).size, codes.length);
  for (const entry of ERROR_CATALOGUE) {
    assert.match(entry.code, /^[A-Z][A-Z_]+$/);
    assert.ok(entry.meaning && entry.action && entry.fixedBy, entry.code);
  }
});
