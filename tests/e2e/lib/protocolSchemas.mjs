// The protocol reference as the tests hold the service to it: docs/protocol/asyncapi.yaml and
// sales-api.yaml read once, their JSON Schemas (draft 2020-12) compiled with Ajv, and a check of
// each message by the way it travels, which throws naming the message and the schema path that
// failed.
import fs from 'node:fs';
import { fileURLToPath } from 'node:url';
import Ajv2020Module from 'ajv/dist/2020.js';
import addFormatsModule from 'ajv-formats';
import YAML from 'yaml';

const Ajv2020 = Ajv2020Module.default ?? Ajv2020Module;
const addFormats = addFormatsModule.default ?? addFormatsModule;

export const PROTOCOL_DOCS = fileURLToPath(new URL('../../../docs/protocol/', import.meta.url));
// The documents' base address, so that sales-api.yaml's "./asyncapi.yaml#..." resolves.
const BASE = 'https://kelvora.invalid/docs/protocol/';
export const ASYNCAPI_FILE = 'asyncapi.yaml';
export const SALES_API_FILE = 'sales-api.yaml';

// The two ways a WebSocket message travels, named after the AsyncAPI operations.
export const FROM_PAGE = 'receiveFromPage';
export const TO_PAGE = 'sendToPage';

export class ProtocolSchemaError extends Error {
  constructor(message) {
    super(message);
    this.name = 'ProtocolSchemaError';
  }
}

// A document parsed strictly: a repeated key is an error, as it would be for other readers.
export function readProtocolDocument(file) {
  return YAML.parse(fs.readFileSync(PROTOCOL_DOCS + file, 'utf8'), { uniqueKeys: true, prettyErrors: true });
}

// The object a local "#/a/b" pointer names in doc, or undefined.
export function resolvePointer(doc, ref) {
  const parts = ref.replace(/^#\/?/, '').split('/').filter((part) => part !== '');
  let node = doc;
  for (const part of parts) {
    node = node?.[decodeURIComponent(part).replace(/~1/g, '/').replace(/~0/g, '~')];
  }
  return node;
}

function schemaName(ref) {
  return ref.slice(ref.lastIndexOf('/') + 1);
}

let loaded = null;

// Loads and compiles both documents once per process.
export function protocolSchemas() {
  if (loaded) return loaded;
  const asyncapi = readProtocolDocument(ASYNCAPI_FILE);
  const salesApi = readProtocolDocument(SALES_API_FILE);
  const ajv = new Ajv2020({ allErrors: true, strict: true, strictTypes: false, strictRequired: false, strictTuples: false, allowUnionTypes: true });
  addFormats(ajv);
  // The schemas live under "components" of each document; the rest is not JSON Schema.
  ajv.addKeyword('components');
  ajv.addSchema({ $id: BASE + ASYNCAPI_FILE, components: { schemas: asyncapi.components.schemas } });
  ajv.addSchema({ $id: BASE + SALES_API_FILE, components: { schemas: salesApi.components.schemas } });
  const compile = (file, ref) => {
    const validate = ajv.getSchema(`${BASE}${file}${ref}`);
    if (!validate) throw new ProtocolSchemaError(`${file}: no schema at ${ref}`);
    return validate;
  };

  // Each WebSocket message: its name, schema and the members that tell it apart (route, type,
  // status), taken from the constants of its schema.
  const messages = {};
  for (const [name, message] of Object.entries(asyncapi.components.messages)) {
    const ref = message.payload.schema.$ref;
    const properties = resolvePointer(asyncapi, ref).properties ?? {};
    const selectors = {};
    for (const member of ['route', 'type', 'status']) {
      const values = properties[member]?.const !== undefined ? [properties[member].const] : properties[member]?.enum;
      if (values) selectors[member] = values;
    }
    messages[name] = { name, ref, selectors, validate: compile(ASYNCAPI_FILE, ref), examples: message.examples ?? [] };
  }
  const directions = {};
  for (const operation of [FROM_PAGE, TO_PAGE]) {
    directions[operation] = asyncapi.operations[operation].messages
      .map((entry) => messages[schemaName(entry.$ref)]);
  }
  loaded = { asyncapi, salesApi, ajv, compile, messages, directions };
  return loaded;
}

// One line per error: the member, what is wrong with it, and where the schema says so.
function describeErrors(file, ref, errors) {
  const named = (error) => (error.params?.additionalProperty !== undefined
    ? ` (${JSON.stringify(error.params.additionalProperty)})` : '');
  return errors.map((error) => `  ${error.instancePath || '(the message)'} ${error.message}${named(error)} ` +
    `(${file}${ref.slice(1)}${error.schemaPath.slice(1)})`).join('\n');
}

function shorten(text) {
  return text.length > 300 ? `${text.slice(0, 300)}…` : text;
}

function parse(what, message) {
  if (typeof message !== 'string') return message;
  try {
    return JSON.parse(message);
  } catch {
    throw new ProtocolSchemaError(`${what} is not JSON: ${shorten(message)}`);
  }
}

// Checks one WebSocket message (an object, or its JSON text) travelling `direction`; returns the
// name of the AsyncAPI message it is, or throws a ProtocolSchemaError.
export function checkProtocolMessage(direction, message) {
  const { directions } = protocolSchemas();
  const what = direction === FROM_PAGE ? 'message sent by the page' : 'message sent by the service';
  const value = parse(what, message);
  const text = shorten(JSON.stringify(value));
  if (value === null || typeof value !== 'object' || Array.isArray(value)) {
    throw new ProtocolSchemaError(`${what} is not a JSON object: ${text}`);
  }
  const candidates = directions[direction].filter((m) => Object.entries(m.selectors)
    .every(([member, values]) => values.includes(value[member])));
  if (candidates.length === 0) {
    throw new ProtocolSchemaError(`${what} is none of ${ASYNCAPI_FILE}'s messages (route ` +
      `${JSON.stringify(value.route)}, type ${JSON.stringify(value.type)}, status ` +
      `${JSON.stringify(value.status)}): ${text}`);
  }
  const failures = [];
  for (const candidate of candidates) {
    if (candidate.validate(value)) return candidate.name;
    failures.push(`${candidate.name}:\n${describeErrors(ASYNCAPI_FILE, candidate.ref, candidate.validate.errors)}`);
  }
  throw new ProtocolSchemaError(`${what} does not match ${failures.join('\n')}\n  message: ${text}`);
}

// Checks a body the service posted to the sales API (the parsed JSON, or its text).
export function checkSalesApiBody(body) {
  const ref = '#/components/schemas/CallbackBody';
  const validate = protocolSchemas().compile(SALES_API_FILE, ref);
  const value = parse('sales API request body', body);
  if (!validate(value)) {
    throw new ProtocolSchemaError(`sales API request body does not match CallbackBody:\n` +
      `${describeErrors(SALES_API_FILE, ref, validate.errors)}\n  body: ${shorten(JSON.stringify(value))}`);
  }
}

// Collects the schema failures of one connection, page or stub: a check that fails is kept and
// thrown later, at a point where it fails the test that saw it.
export class SchemaFailures {
  constructor() {
    this.failures = [];
  }

  // Runs check(); keeps its failure instead of throwing.
  record(check) {
    try {
      check();
    } catch (error) {
      if (!(error instanceof ProtocolSchemaError)) throw error;
      this.failures.push(error);
    }
  }

  // Throws the first failure kept, once.
  throwIfAny() {
    const failure = this.failures.shift();
    if (failure) throw failure;
  }
}
