#!/usr/bin/env node
// Turns the TEF log of one dialogue, as the service writes it at a store with the vendor's
// library, into a scenario file that the SiTef simulator plays in the lab, command by command.
//
//   node tools/tef-log-to-scenario.mjs TEF-LOG [--dialogue N] [--output FILE]
//
// The log is Windows-1252; the scenario is written in UTF-8. Without --dialogue the last complete
// dialogue of the log is taken; N counts the dialogues of the log from 1.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const PREFIX = /^-- \d\d\/\d\d \d\d:\d\d:\d\d:\d{3} - /;
const START = /^\*\*\* IniciaFuncaoSiTefInterativo\. Modalidade: (-?\d+) Valor: (\S*) /;
const CALL = /^ContinuaFuncaoSiTefInterativo, Chamando: Continua = (-?\d+) Buffer =(?: (.*))?$/s;
const RETURN = /^ContinuaFuncaoSiTefInterativo, Retornos: STS = (-?\d+) ProximoComando = (-?\d+) TipoCampo = (-?\d+) Buffer =(?: (.*))? Tam\.Min = (-?\d+) Tam\.Max = (-?\d+)$/s;

// Card data and passwords: the log holds them masked, so their answers cannot be checked.
const SECRET_FIELDS = new Set([500, 512, 513, 514]);
const COMMAND_PENDING = 10000;

// The log writes control characters and the backslash as \xHH so that every entry is one line.
function unescapeLog(text) {
  return (text ?? '').replace(/\\x([0-9A-F]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)));
}

// A text in the scenario's quoted form.
function quote(text) {
  let out = '"';
  for (const ch of text) {
    const code = ch.codePointAt(0);
    if (ch === '\\') out += '\\\\';
    else if (ch === '"') out += '\\"';
    else if (ch === '\n') out += '\\n';
    else if (ch === '\r') out += '\\r';
    else if (code < 0x20 || code === 0x7f) out += `\\x${code.toString(16).toUpperCase().padStart(2, '0')}`;
    // The five bytes Windows-1252 leaves undefined decode as C1 controls; no library hands them out.
    else if (code >= 0x80 && code < 0xa0) out += '?';
    else out += ch;
  }
  return `${out}"`;
}

// The dialogues of a log: each is the list of its entries from its start to its final status.
function dialoguesOf(entries) {
  const dialogues = [];
  let current = null;
  for (const entry of entries) {
    if (START.test(entry)) {
      current = { start: entry, entries: [] };
    } else if (current) {
      current.entries.push(entry);
      const returned = RETURN.exec(entry);
      if (returned && Number(returned[1]) !== COMMAND_PENDING) {
        dialogues.push(current);
        current = null;
      }
    }
  }
  return dialogues;
}

function expectation(previous, continua, answer) {
  if (continua === 1) return 'expect back';
  if (continua === -1) return 'expect abort';
  // A card number keeps its first 6 and last 4 digits in the log; secrets are all asterisks.
  if (SECRET_FIELDS.has(previous.field) && answer.includes('*')) {
    return '# the answer is card data, masked in the log: not checked';
  }
  return `expect ${quote(answer)}`;
}

// Returns the scenario text for dialogue `index` (from 1; the last one by default) of `logText`.
export function tefLogToScenario(logText, { dialogue, source = 'TEF log' } = {}) {
  // Entries end with CR LF; a log written before texts were escaped holds bare LFs inside them.
  const logLines = logText.includes('\r\n') ? logText.split('\r\n') : logText.split('\n');
  const entries = logLines.filter((line) => PREFIX.test(line)).map((line) => line.replace(PREFIX, ''));
  const dialogues = dialoguesOf(entries);
  if (dialogues.length === 0) throw new Error('the log holds no complete dialogue');
  const number = dialogue ?? dialogues.length;
  if (!Number.isInteger(number) || number < 1 || number > dialogues.length) {
    throw new Error(`the log holds ${dialogues.length} complete dialogue(s); there is no dialogue ${dialogue}`);
  }
  const chosen = dialogues[number - 1];
  const [, modality, amount] = START.exec(chosen.start);
  const lines = [
    `# Dialogue ${number} of ${dialogues.length} replayed from ${source}`,
    `# started with function ${modality}, amount ${amount}`,
  ];
  let previous = null;
  for (const entry of chosen.entries) {
    const call = CALL.exec(entry);
    if (call) {
      if (previous) lines.push(`  ${expectation(previous, Number(call[1]), unescapeLog(call[2]))}`);
      previous = null;
      continue;
    }
    const returned = RETURN.exec(entry);
    if (!returned) continue;
    const [, sts, command, field, buffer, min, max] = returned;
    const text = unescapeLog(buffer);
    if (Number(sts) !== COMMAND_PENDING) {
      lines.push(`final ${sts}`);
      break;
    }
    previous = { command: Number(command), field: Number(field) };
    if (previous.command === 0) {
      lines.push(`result ${field} ${quote(text)}`);
    } else {
      lines.push(`command ${command} field=${field} min=${min} max=${max} ${quote(text)}`);
    }
  }
  return `${lines.join('\n')}\n`;
}

function main(argv) {
  const args = [...argv];
  let dialogue;
  let output;
  let input;
  while (args.length > 0) {
    const arg = args.shift();
    if (arg === '--dialogue') dialogue = Number(args.shift());
    else if (arg === '--output') output = args.shift();
    else if (!input) input = arg;
    else throw new Error(`unexpected argument ${arg}`);
  }
  if (!input) throw new Error('usage: tef-log-to-scenario.mjs TEF-LOG [--dialogue N] [--output FILE]');
  const text = new TextDecoder('windows-1252').decode(fs.readFileSync(input));
  const scenario = tefLogToScenario(text, { dialogue, source: path.basename(input) });
  if (output) fs.writeFileSync(output, scenario);
  else process.stdout.write(scenario);
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  try {
    main(process.argv.slice(2));
  } catch (error) {
    process.stderr.write(`tef-log-to-scenario: ${error.message}\n`);
    process.exit(1);
  }
}
