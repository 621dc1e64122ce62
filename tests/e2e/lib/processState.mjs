// What the crash and resource tests need beyond starting a service: killing it without warning,
// starting it again on the same base directory, polling for a condition, and reading its
// resident memory from /proc.
import fs from 'node:fs/promises';
import { readServiceLogTexts, waitForLogText } from './serviceLog.mjs';
import { timeScale } from './paths.mjs';
import { startService } from './service.mjs';

// SIGKILL, as a power cut or the OOM killer ends it: no handler runs, nothing is flushed.
export async function killHard(service) {
  if (!service.exitStatus) service.proc.kill('SIGKILL');
  return service.exited;
}

// Starts the service again in baseDir on port and waits for this run's own start line (the log
// already holds the one of the run that was killed). options holds further options of
// startService (another binary, its environment).
export async function restartService(baseDir, port, timeoutMs = 5000, options = {}) {
  const from = (await readServiceLogTexts(baseDir)).length;
  const service = await startService({ baseDir, port, readyLine: null, ...options });
  try {
    await waitForLogText(baseDir, 'O serviço foi inciado.', { from, timeoutMs });
  } catch (error) {
    await service.stop('SIGKILL');
    throw error;
  }
  return service;
}

// Polls check (sync or async) every 10 ms until it returns a truthy value, which it returns;
// throws after timeoutMs with what in the message.
export async function waitUntil(check, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs * timeScale;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out after ${timeoutMs} ms: ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

// The process's resident set size in KiB (VmRSS of /proc/<pid>/status).
export async function residentKiB(pid) {
  const status = await fs.readFile(`/proc/${pid}/status`, 'utf8');
  const match = /^VmRSS:\s+(\d+) kB$/m.exec(status);
  if (!match) throw new Error(`no VmRSS for process ${pid}`);
  return Number(match[1]);
}
