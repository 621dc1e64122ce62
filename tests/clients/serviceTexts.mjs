// The texts the service can send to a page as an error reply, read from its C++ sources: the
// texts of every error reply it sends, of every exception its protocol and TEF code raise (a
// handler answers those with their text), and of the library's configuration results. A part of
// a text that is computed at run time stands as "X", so "Campo " + name + " nao encontrado."
// reads "Campo X nao encontrado.".
import fs from 'node:fs';
import path from 'node:path';

const SOURCE_DIRS = ['protocol', 'service', 'tef'];

// The C++ escape sequences the sources use in their texts.
const ESCAPES = { n: '\n', r: '\r', t: '\t', '"': '"', '\\': '\\', "'": "'" };

function sourceFiles(root) {
  return SOURCE_DIRS.flatMap((dir) => fs.readdirSync(path.join(root, dir))
    .filter((name) => /\.(cpp|h)$/.test(name))
    .map((name) => path.join(root, dir, name)));
}

// The argument list that starts at `open` (just after "("), up to its matching ")".
function argumentsAt(source, open) {
  let depth = 1;
  let inString = false;
  for (let i = open; i < source.length; i++) {
    const c = source[i];
    if (inString) {
      if (c === '\\') i++;
      else if (c === '"') inString = false;
    } else if (c === '"') inString = true;
    else if (c === '(') depth++;
    else if (c === ')' && --depth === 0) return source.slice(open, i);
  }
  return source.slice(open);
}

// Splits at the commas and plus signs that are outside strings and brackets.
function splitTopLevel(text, separator) {
  const parts = [];
  let depth = 0;
  let inString = false;
  let start = 0;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (inString) {
      if (c === '\\') i++;
      else if (c === '"') inString = false;
    } else if (c === '"') inString = true;
    else if ('([{'.includes(c)) depth++;
    else if (')]}'.includes(c)) depth--;
    else if (c === separator && depth === 0) {
      parts.push(text.slice(start, i));
      start = i + 1;
    }
  }
  parts.push(text.slice(start));
  return parts.map((part) => part.trim());
}

// The text of adjacent string literals, escapes read.
function literalText(literals) {
  return [...literals.matchAll(/"((?:[^"\\]|\\.)*)"/gs)]
    .map((match) => match[1].replace(/\\(.)/g, (_, c) => ESCAPES[c] ?? c)).join('');
}

// The named text constants of the sources ("constexpr std::string_view kName = "...";").
function textConstants(files) {
  const constants = new Map();
  for (const file of files) {
    const source = fs.readFileSync(file, 'utf8');
    for (const match of source.matchAll(/constexpr std::string_view (\w+)\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);/g)) {
      constants.set(match[1], literalText(match[2]));
    }
  }
  return constants;
}

// One operand of a concatenation: its literal text (adjacent literals joined, std::string(...)
// unwrapped, a named text constant read) or "X" when it is computed.
function operandText(operand, constants) {
  const unwrapped = operand.replace(/^std::string\((.*)\)$/s, '$1').trim();
  if (constants.has(unwrapped)) return constants.get(unwrapped);
  if (!/^("([^"\\]|\\.)*"\s*)+$/s.test(unwrapped)) return 'X';
  return literalText(unwrapped);
}

function expressionText(expression, constants) {
  return splitTopLevel(expression, '+').map((operand) => operandText(operand, constants)).join('');
}

// Where the text goes: { text, file, line } for every error reply and raised exception.
export function serviceErrorTexts(root) {
  const found = [];
  const constants = textConstants(sourceFiles(root));
  for (const file of sourceFiles(root)) {
    const source = fs.readFileSync(file, 'utf8');
    const lineOf = (index) => source.slice(0, index).split('\n').length;
    const where = path.relative(root, file);
    // Error replies: the text is the last argument.
    for (const match of source.matchAll(/\bSendErrorMessage\(/g)) {
      const args = splitTopLevel(argumentsAt(source, match.index + match[0].length), ',');
      if (args.length < 2) continue;  // the declaration
      found.push({ text: expressionText(args.at(-1), constants), file: where, line: lineOf(match.index) });
    }
    // Raised exceptions of the protocol and the TEF component: the service's own connection
    // layer ends the connection instead of answering.
    if (where.startsWith('service')) continue;
    for (const match of source.matchAll(/\bthrow\s+[\w:]+\(/g)) {
      const args = splitTopLevel(argumentsAt(source, match.index + match[0].length), ',');
      const textArgument = args.find((arg) => arg.includes('"')) ?? args[0];
      found.push({ text: expressionText(textArgument, constants), file: where, line: lineOf(match.index) });
    }
    // The library's configuration results, raised as exceptions by the gateway.
    const configuration = source.match(/std::string MensagemConfiguracao\([^)]*\) \{([\s\S]*?)\n\}/);
    if (configuration) {
      for (const match of configuration[1].matchAll(/return ((?:"(?:[^"\\]|\\.)*"\s*)+);/g)) {
        found.push({ text: expressionText(match[1], constants), file: where, line: lineOf(configuration.index) });
      }
    }
  }
  return found;
}

// The "status" values of the "result" messages the sources write.
export function resultStatuses(root) {
  const statuses = new Set();
  for (const file of sourceFiles(root)) {
    const source = fs.readFileSync(file, 'utf8');
    for (const match of source.matchAll(/\["status"\]\s*=\s*([^;]+);/g)) {
      for (const literal of match[1].matchAll(/"([^"]*)"/g)) statuses.add(literal[1]);
    }
  }
  return [...statuses];
}
