// The service log as the tests read it: every "<service name> dd-mm-yyyy.log" under <base>/Log,
// decoded from Windows-1252, in date order.
import fs from 'node:fs/promises';
import path from 'node:path';
import { timeScale } from './paths.mjs';

const decoder = new TextDecoder('windows-1252');
// Written at every start of a listener that accepts pages of any origin.
// The service's line once it has read its settings again after the machine resumed from sleep.
export const RESUME_LINE = 'O computador voltou da suspensão: o serviço relê as configurações, e a '
  + 'biblioteca SiTef e o pin-pad serão iniciados de novo na próxima operação.';

export const EVERY_ORIGIN_WARNING =
  'Aviso: [security] allowed_origins não configurado; conexões de qualquer origem são aceitas.';
export const LINE = /^\[(\d\d)\/(\d\d)\/(\d{4}) (\d\d):(\d\d):(\d\d)\] (.*)$/s;

async function logFiles(baseDir, serviceName) {
  const root = path.join(baseDir, 'Log');
  const found = [];
  let months = [];
  try {
    months = await fs.readdir(root, { withFileTypes: true });
  } catch {
    return found;
  }
  const pattern = new RegExp(`^${serviceName} (\\d\\d)-(\\d\\d)-(\\d{4})\\.log$`);
  for (const month of months.filter((entry) => entry.isDirectory())) {
    for (const name of await fs.readdir(path.join(root, month.name))) {
      const m = pattern.exec(name);
      if (m) found.push({ file: path.join(root, month.name, name), key: `${m[3]}${m[2]}${m[1]}` });
    }
  }
  return found.sort((a, b) => a.key.localeCompare(b.key)).map((entry) => entry.file);
}

// The raw bytes of every service log file, concatenated in date order.
export async function readServiceLogBytes(baseDir, serviceName = 'KelvoraSiTefService') {
  const parts = [];
  for (const file of await logFiles(baseDir, serviceName)) parts.push(await fs.readFile(file));
  return Buffer.concat(parts);
}

// The log's lines (CR LF ends removed); each is "[dd/mm/yyyy hh:nn:ss] text" or empty.
export async function readServiceLog(baseDir, serviceName = 'KelvoraSiTefService') {
  const text = decoder.decode(await readServiceLogBytes(baseDir, serviceName));
  const lines = text.split('\r\n');
  if (lines.at(-1) === '') lines.pop();
  return lines;
}

// The texts of the log's lines, without their time stamps.
export async function readServiceLogTexts(baseDir, serviceName) {
  return (await readServiceLog(baseDir, serviceName)).map((line) => LINE.exec(line)?.[7] ?? line);
}

// Waits until the log holds a line whose text satisfies match (a string or a predicate), counting
// from the line index `from`; returns the index of that line.
export async function waitForLogText(baseDir, match, { from = 0, timeoutMs = 5000 } = {}) {
  const test = typeof match === 'string' ? (text) => text === match : match;
  const deadline = Date.now() + timeoutMs * timeScale;
  for (;;) {
    const texts = await readServiceLogTexts(baseDir);
    const index = texts.findIndex((text, i) => i >= from && test(text));
    if (index >= 0) return index;
    if (Date.now() > deadline) {
      throw new Error(`log line ${match} not written; log:\n${texts.join('\n')}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}
