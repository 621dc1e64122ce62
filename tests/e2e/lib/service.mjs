// Starting and stopping a service binary (SvcKelvoraSiTef or a test host) on a port with a base
// directory, driving it with the control signals, and making sure no process outlives the tests.
// Stopping a service also fails the test when the simulator beside it noted a call that broke the
// library's contract.
import { spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { RESUME_LINE, readServiceLogTexts, waitForLogText } from './serviceLog.mjs';
import {
  programCommand, programEnv, serviceBinary, timeScale, windowsBuild,
} from './paths.mjs';

const running = new Set();
process.on('exit', () => {
  for (const proc of running) proc.kill('SIGKILL');
});

// The CONTRACT lines of the simulator's ledger in <baseDir>/dll (none without a ledger).
export async function contractViolations(baseDir) {
  let text;
  try {
    text = await fs.readFile(path.join(baseDir, 'dll', 'CliSiTefSim.ledger'), 'latin1');
  } catch {
    return [];
  }
  return text.split('\n').filter((line) => line.startsWith('CONTRACT '));
}

export class ServiceProcess {
  #contractChecked = false;

  constructor(proc, { port, baseDir, allowContractViolations = false }) {
    this.proc = proc;
    this.port = port;
    this.baseDir = baseDir;
    this.allowContractViolations = allowContractViolations;
    this.stdout = '';
    this.stderr = '';
    proc.stdout.on('data', (chunk) => { this.stdout += chunk; });
    proc.stderr.on('data', (chunk) => { this.stderr += chunk; });
    this.exitStatus = null;
    this.exited = new Promise((resolve) => {
      proc.on('exit', (code, signal) => {
        running.delete(proc);
        this.exitStatus = { code, signal };
        resolve(this.exitStatus);
      });
    });
  }

  get pid() { return this.proc.pid; }

  // Sends a signal and waits for the log line the service writes once it has acted on it.
  async #control(signal, line, timeoutMs) {
    const from = (await readServiceLogTexts(this.baseDir)).length;
    this.proc.kill(signal);
    await waitForLogText(this.baseDir, line, { from, timeoutMs });
  }

  // SIGUSR1; resolves when the listener is gone ("O serviço foi pausado.").
  pause(timeoutMs = 5000) { return this.#control('SIGUSR1', 'O serviço foi pausado.', timeoutMs); }

  // SIGUSR2; resolves when the new listener is up ("O serviço foi retomado.").
  resume(timeoutMs = 5000) { return this.#control('SIGUSR2', 'O serviço foi retomado.', timeoutMs); }

  // SIGHUP, what the machine's resume from sleep sends (the systemd unit's reload); resolves once
  // the service has read its settings again (its listener, when it had one, is up again).
  resumeFromSleep(timeoutMs = 5000) { return this.#control('SIGHUP', RESUME_LINE, timeoutMs); }

  // Sends signal (SIGTERM by default) and resolves with { code, signal } once the process has
  // exited; kills it and throws when it does not exit within timeoutMs. Throws too, once, when the
  // simulator's ledger holds a CONTRACT line, unless the service was started with
  // allowContractViolations (for a test that drives the library outside its contract on purpose).
  async stop(signal = 'SIGTERM', timeoutMs = 5000) {
    const status = await this.#end(signal, timeoutMs);
    if (!this.allowContractViolations && !this.#contractChecked && this.baseDir) {
      this.#contractChecked = true;
      const violations = await contractViolations(this.baseDir);
      if (violations.length > 0) {
        throw new Error(`the simulator noted calls outside the library's contract:\n${violations.join('\n')}`);
      }
    }
    return status;
  }

  async #end(signal, timeoutMs) {
    if (this.exitStatus) return this.exitStatus;
    // Under Wine an interrupt reaches the program as Ctrl-C, the console's way to stop it.
    this.proc.kill(windowsBuild && signal === 'SIGTERM' ? 'SIGINT' : signal);
    let timer;
    const timeout = new Promise((resolve) => { timer = setTimeout(resolve, timeoutMs * timeScale, null); });
    const status = await Promise.race([this.exited, timeout]);
    clearTimeout(timer);
    if (status) return status;
    this.proc.kill('SIGKILL');
    await this.exited;
    throw new Error(`service did not exit within ${timeoutMs} ms after ${signal}`);
  }
}

// Starts binary with --port and --base-dir (plus args) and waits until the service log says it
// has started (readyLine; null to skip the wait). The listener, when it could open, is up by then.
export async function startService({
  binary = serviceBinary, baseDir, port, args = [], env = {},
  readyLine = 'O serviço foi inciado.', timeoutMs = 5000, allowContractViolations = false,
}) {
  const [command, commandArgs] = programCommand(
    binary, ['--port', String(port), '--base-dir', baseDir, ...args]);
  const proc = spawn(command, commandArgs, {
    env: programEnv(env),
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  running.add(proc);
  const service = new ServiceProcess(proc, { port, baseDir, allowContractViolations });
  if (readyLine) {
    const failedEarly = service.exited.then((status) => {
      throw new Error(`${binary} exited before starting: ${JSON.stringify(status)} ${service.stderr}`);
    });
    try {
      await Promise.race([waitForLogText(baseDir, readyLine, { timeoutMs }), failedEarly]);
    } catch (error) {
      await service.stop('SIGKILL');
      throw error;
    }
    failedEarly.catch(() => {});
  }
  return service;
}
