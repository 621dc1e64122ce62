// What the scenario tests share: the scenario files, the page's answers as it sends them, a page
// that answers every prompt from a list, and the TEF log read back.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const SCENARIOS = path.join(path.dirname(fileURLToPath(import.meta.url)), 'scenarios');

// The control file line that makes the simulator play a scenario of the folder above.
export function scenarioIni(file) {
  return `[dialog]\nscenario=${path.isAbsolute(file) ? file : path.join(SCENARIOS, file)}\n`;
}

// The page's answers, as the reference page writes them.
export const pick = (response) => ({ type: 'menu', response, back_menu: 'false' });
export const menuBack = { type: 'menu', response: '', back_menu: 'true' };
export const typed = (response) => ({ type: 'collect', typed: 'true', response, back_menu: 'false' });
export const collectBack = { type: 'collect', typed: 'false', back_menu: 'true' };
export const reply = (response) => ({ type: 'question', response });
export const ok = { type: 'confirmation' };

// The messages the page receives, as the service writes them.
export function menu(title, options) {
  return { type: 'menu', title, options, can_cancel: false, back_menu: false };
}
export function collect(title, minimum, maximum, field, operation) {
  return {
    type: 'collect', title, minimum_size: minimum, maximum_size: maximum, field_type: field,
    field_operation: operation, can_cancel: false, back_menu: false, typed: true,
  };
}
export function question(text) {
  return { type: 'question', message: text, options: ['Sim', 'Não'], can_cancel: false };
}
export function confirmation(text, options = ['Ok']) {
  return { type: 'confirmation', message: text, options, can_cancel: false };
}
export function receipt(copy, data) {
  return { type: 'receipt', copy_number: copy, data };
}

const ANSWERED = new Set(['menu', 'collect', 'question', 'confirmation']);

// Plays the page: reads messages up to the result, answering each prompt that waits for an
// answer with the next of `answers` (which must be of the prompt's kind); returns every message,
// the result last. Every answer must have been used.
export async function play(t, answers, on = t.client) {
  const queue = [...answers];
  const seen = [];
  for (;;) {
    const msg = await t.next(on);
    seen.push(msg);
    if (msg.type === 'result' || msg.type === 'error') break;
    if (!ANSWERED.has(msg.type)) continue;
    const answer = queue.shift();
    assert.ok(answer, `no answer left for ${JSON.stringify(msg)}; seen ${JSON.stringify(seen)}`);
    assert.equal(answer.type, msg.type, `answer ${JSON.stringify(answer)} to ${JSON.stringify(msg)}`);
    await t.answer(answer, on);
  }
  assert.deepEqual(queue, [], `answers left unused; seen ${JSON.stringify(seen)}`);
  return seen;
}

// The bytes of the TEF log of a base directory (every day's file, in name order).
export async function readTefLogBytes(baseDir) {
  const root = path.join(baseDir, 'Log');
  const parts = [];
  for (const month of (await fs.readdir(root)).sort()) {
    const folder = path.join(root, month);
    if (!(await fs.stat(folder)).isDirectory()) continue;
    for (const name of (await fs.readdir(folder)).sort()) {
      if (/^TEF-.*\.log$/.test(name)) parts.push(await fs.readFile(path.join(folder, name)));
    }
  }
  return Buffer.concat(parts);
}

// The same, decoded from Windows-1252.
export async function readTefLog(baseDir) {
  return new TextDecoder('windows-1252').decode(await readTefLogBytes(baseDir));
}

// The UTC text the result gives for a local host time of the scenarios (105 = 20250105103000).
export function hostTimeUtc(year, month, day, hour, minute, second) {
  return new Date(year, month - 1, day, hour, minute, second).toISOString().replace(/\.\d{3}Z$/, 'Z');
}
