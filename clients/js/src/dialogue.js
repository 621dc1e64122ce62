// One running transaction dialogue (payment, cancellation of an earlier payment, reprint): each
// prompt the service sends goes to the page's handler for its kind, and the handler's answer
// goes back as the message the service waits for. While a prompt waits, nothing but its answer is
// sent on the connection: the service would take any other message as the answer.
import { clientError, serviceError } from './errors.js';
import { transactionResult } from './outcome.js';

// The question the service asks before it gives up a dialogue that was left.
export const CANCEL_QUESTION = 'Deseja realmente cancelar esta operação?';

// "1:Debito" as { line, code: "1", label: "Debito" }; a line without a code keeps it whole.
export function menuOption(line) {
  const text = String(line);
  const colon = text.indexOf(':');
  if (colon <= 0) return { line: text, code: '', label: text };
  return { line: text, code: text.slice(0, colon).trim(), label: text.slice(colon + 1).trim() || text };
}

const stringList = (value) => (Array.isArray(value) ? value.map(String) : []);
const toInteger = (value) => Number.parseInt(value, 10) || 0;

// The answer messages, by the choice a handler made.
function menuAnswer(choice) {
  if (choice?.option !== undefined) return { type: 'menu', response: String(choice.option), back_menu: 'false' };
  return { type: 'menu', response: '', back_menu: choice?.back === true ? 'true' : 'false' };
}

function collectAnswer(choice) {
  if (choice?.value !== undefined) {
    return { type: 'collect', typed: 'true', response: String(choice.value), back_menu: 'false' };
  }
  return { type: 'collect', typed: 'false', response: '', back_menu: choice?.back === true ? 'true' : 'false' };
}

// Whether an answer leaves the dialogue (rather than choosing or going back).
function leaves(kind, message, choice) {
  if (kind === 'menu') return choice?.option === undefined && choice?.back !== true;
  if (kind === 'collect') return choice?.value === undefined && choice?.back !== true;
  return kind === 'question' && message.message === CANCEL_QUESTION && choice === 'Sim';
}

// Whether a "result" belongs to the operation whose key is `key` (null for a reprint, which has
// none). A result of a leftover an earlier run of the service confirmed now ("recovered") is ours
// only when it carries our key; a result carrying another key is never ours.
export function isOwnResult(message, key) {
  const sameKey = key !== null && message.idempotency_key === key;
  if (message.recovered === true) return sameKey;
  return message.idempotency_key === undefined || sameKey;
}

export class Dialogue {
  // send(members) sends one message (false when it cannot); dropConnection() gives the
  // connection up after a silence; onLeftover(message) takes a result that is not this
  // dialogue's; onLate() runs every lateMs while the service has sent nothing; the timings
  // are the client's options. key is the operation's idempotency key, or null.
  constructor({
    handlers, sessionUuid, key = null, send, dropConnection, startTimeoutMs, silenceMs, lateMs, onLate, onLeftover,
  }) {
    this.handlers = handlers ?? {};
    this.sessionUuid = sessionUuid;
    this.key = key;
    this.send = send;
    this.dropConnection = dropConnection;
    this.silenceMs = silenceMs;
    this.onLeftover = onLeftover;
    this.prompt = null;  // the prompt waiting for the page's answer: { kind, message, recovered }
    this.canCancel = false;
    this.abortRequested = false;  // the page wants out: prompts are left as they come
    this.cancelOwed = false;      // a "/transaction/cancel" is owed to abort()
    this.cancelSent = false;      // one went out since the service last allowed it
    this.confirmationAnswered = false;
    this.pageLeft = false;
    this.lastConfirmation = '';
    this.lastMessage = '';
    this.ownRecovered = null;  // our own result, recovered, until its confirmation is answered
    this.heard = false;
    this.handlerError = null;
    this.finished = false;
    this.promise = new Promise((resolve, reject) => {
      this.resolve = resolve;
      this.reject = reject;
    });
    this.watch(startTimeoutMs);
    if (onLate) this.lateCheck(onLate, lateMs);
  }

  // Runs onLate after lateMs, and again after each lateMs, until the service has said anything.
  lateCheck(onLate, lateMs) {
    this.lateTimer = setTimeout(async () => {
      if (this.heard || this.finished) return;
      await onLate();
      if (!this.heard && !this.finished) this.lateCheck(onLate, lateMs);
    }, lateMs);
  }

  // The service stays silent while nothing waits for the page: after the limit the dialogue
  // fails and the connection is dropped, which makes the service abandon what it had started.
  watch(ms) {
    clearTimeout(this.silenceTimer);
    this.silenceTimer = setTimeout(() => {
      this.fail(clientError('NO_REPLY'));
      this.dropConnection();
    }, ms);
  }

  receive(message) {
    if (this.finished) return;
    this.heard = true;
    this.watch(this.silenceMs);
    switch (message.type) {
      case 'menu': return this.ask('menu', message);
      case 'collect': return this.ask('collect', message);
      case 'question': return this.ask('question', message);
      case 'confirmation':
        if (message.recovered !== true) this.lastConfirmation = String(message.message ?? '');
        return this.ask('confirmation', message);
      case 'message': {
        const text = String(message.message ?? '');
        if (text !== '') this.lastMessage = text;
        return this.notify('onMessage', { message: text });
      }
      case 'qrcode': return this.notify('onQrCode', { data: String(message.data ?? '') });
      case 'receipt':
        return this.notify('onReceipt', { copyNumber: toInteger(message.copy_number), lines: stringList(message.data) });
      case 'can_cancel': return this.canCancelChanged(message.can_cancel === true);
      case 'result': return this.resultReceived(message);
      case 'error': return this.fail(serviceError(String(message.message ?? '')));
      default: return undefined;
    }
  }

  // The connection dropped: the dialogue's outcome is unknown to the page.
  lost() {
    this.fail(clientError('CONNECTION_LOST'));
  }

  // The page wants the running dialogue to end. A waiting menu or field is left at once; a
  // waiting question or confirmation is answered first; otherwise one cancellation is sent as
  // soon as the service says it may be.
  abort() {
    if (this.finished) return false;
    this.abortRequested = true;
    this.cancelOwed = true;
    if (this.prompt?.kind === 'menu' || this.prompt?.kind === 'collect') this.answer(this.prompt, {});
    else if (this.prompt === null) this.sendCancellation();
    return true;
  }

  canCancelChanged(canCancel) {
    if (canCancel && !this.canCancel) this.cancelSent = false;
    this.canCancel = canCancel;
    this.notify('onCanCancel', canCancel);
    if (this.prompt === null) this.sendCancellation();
  }

  // The cancellation goes out once, only while the service's last word allowed it (a repeated
  // abort() sends nothing more until the service allows it anew), and never once the operator
  // answered a confirmation: the dialogue is ending then.
  sendCancellation() {
    if (!this.cancelOwed || !this.canCancel || this.cancelSent || this.confirmationAnswered || this.finished) return;
    this.cancelOwed = false;
    this.cancelSent = true;
    this.pageLeft = true;
    this.send({ route: '/transaction/cancel', type: 'cancellation', session_uuid: this.sessionUuid });
  }

  resultReceived(message) {
    if (!isOwnResult(message, this.key)) {
      this.onLeftover(message);
      return;
    }
    const result = transactionResult(message, { key: this.key, reason: this.reason(), pageLeft: this.pageLeft });
    // Our own operation, left approved by an earlier run of the service and confirmed now: its
    // confirmation prompt follows, and must be answered before the operation is over.
    if (result.recovered) {
      this.ownRecovered = result;
      return;
    }
    this.finish(result);
  }

  // The text the operator was last shown: the last confirmation, else the last message.
  reason() {
    return this.lastConfirmation || this.lastMessage;
  }

  // A prompt that waits for an answer: given to its handler, unless the dialogue is being left.
  ask(kind, message) {
    const recovered = message.recovered === true;
    const prompt = { kind, message, recovered };
    this.prompt = prompt;
    clearTimeout(this.silenceTimer);
    // Leaving, menus, fields and questions are answered by the library; a confirmation still
    // reaches the operator, who must read why the operation ended.
    if (this.handlerError || (this.abortRequested && kind !== 'confirmation')) {
      this.answer(prompt, this.leavingChoice(kind, message));
      return;
    }
    const [handler, view] = this.handlerFor(kind, message, recovered);
    Promise.resolve()
      .then(() => (handler ? handler(view) : this.leavingChoice(kind, message)))
      .then((choice) => this.answer(prompt, this.checked(kind, message, choice)))
      .catch((error) => {
        this.handlerError ??= error;
        this.answer(prompt, this.leavingChoice(kind, message));
      });
  }

  handlerFor(kind, message, recovered) {
    const options = stringList(message.options);
    switch (kind) {
      case 'menu':
        return [this.handlers.onMenu, { title: String(message.title ?? ''), options: options.map(menuOption) }];
      case 'collect':
        return [this.handlers.onCollect, {
          title: String(message.title ?? ''),
          minimumSize: toInteger(message.minimum_size),
          maximumSize: toInteger(message.maximum_size),
          fieldType: toInteger(message.field_type),
          fieldOperation: String(message.field_operation ?? ''),
        }];
      case 'question':
        return [this.handlers.onQuestion, { message: String(message.message ?? ''), options }];
      default:
        return [this.handlers.onConfirmation ?? (() => undefined), { message: String(message.message ?? ''), recovered }];
    }
  }

  // A question's answer must be one of its options; anything else is the handler's fault.
  checked(kind, message, choice) {
    if (kind === 'question' && !stringList(message.options).includes(choice)) {
      throw new TypeError(`The answer ${JSON.stringify(choice)} is not one of the question's options.`);
    }
    return choice;
  }

  // How a prompt is answered when the dialogue is being left: menus and fields are left, the
  // service's own "cancel?" question gets "Sim", any other question "Não" (never a "yes" to
  // something nobody read), a confirmation is acknowledged.
  leavingChoice(kind, message) {
    if (kind !== 'question') return {};
    const options = stringList(message.options);
    if (message.message === CANCEL_QUESTION && options.includes('Sim')) return 'Sim';
    return options.includes('Não') ? 'Não' : options[0];
  }

  // Sends the answer of the prompt still waiting; a late answer of an earlier prompt is dropped.
  answer(prompt, choice) {
    if (this.finished || this.prompt !== prompt) return;
    this.prompt = null;
    if (leaves(prompt.kind, prompt.message, choice)) this.pageLeft = true;
    const members = {
      menu: () => menuAnswer(choice),
      collect: () => collectAnswer(choice),
      question: () => ({ type: 'question', response: String(choice) }),
      confirmation: () => ({ type: 'confirmation' }),
    }[prompt.kind]();
    this.watch(this.silenceMs);
    if (!this.send({ route: '/transaction', ...members })) {
      this.fail(clientError('CONNECTION_LOST'));
      return;
    }
    if (prompt.kind === 'confirmation' && !prompt.recovered) this.confirmationAnswered = true;
    if (prompt.recovered && this.ownRecovered) {
      this.finish(this.ownRecovered);
      return;
    }
    // An abort asked for while a question waited goes out once it is answered.
    this.sendCancellation();
  }

  // Handlers that only inform the page; their failures do not disturb the dialogue.
  notify(name, value) {
    try {
      this.handlers[name]?.(value);
    } catch {
      // A display failure must not end a payment that the customer is completing.
    }
  }

  finish(result) {
    if (result.status !== 'approved' && this.handlerError) {
      this.fail(clientError('HANDLER_FAILED', { cause: this.handlerError, result }));
      return;
    }
    this.end();
    this.resolve(result);
  }

  fail(error) {
    if (this.finished) return;
    this.end();
    this.reject(error);
  }

  end() {
    this.finished = true;
    this.prompt = null;
    clearTimeout(this.silenceTimer);
    clearTimeout(this.lateTimer);
  }
}
