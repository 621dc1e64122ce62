// The prompts of a running payment dialogue ("menu", "collect", "question", "confirmation"), each
// drawn with its natural control and answered with the mouse or the keyboard; the answer is the
// choice the client library's prompt handlers resolve with.
import { el } from './dom.js';

const MENU_CODE_PAUSE_MS = 900;
const SECURITY_FIELD = 'segurança';

export class PromptView {
  constructor(root) {
    this.root = root;
    this.settle = null;
    this.keys = null;
    this.codeBuffer = '';
    this.codeTimer = null;
    this.clear();
  }

  // Shows one prompt of the library (kind "menu", "collect", "question" or "confirmation") in place
  // of whatever was shown before, and resolves with the operator's choice: { option: line },
  // { value }, { back: true } or { cancel: true } for menus and fields, the option's text for a
  // question, nothing for a confirmation. A prompt taken away unanswered never resolves: the
  // library has answered it itself by then (an abort, or the dialogue's end).
  ask(kind, prompt) {
    const draw = {
      menu: () => this.menu(prompt),
      collect: () => this.collect(prompt),
      question: () => this.question(prompt),
      confirmation: () => this.confirmation(prompt),
    }[kind];
    return new Promise((resolve) => {
      this.reset(kind);
      this.settle = resolve;
      draw();
      this.root.querySelector('[data-autofocus]')?.focus();
    });
  }

  // Removes the prompt (no dialogue running).
  clear() {
    this.reset('none');
  }

  // After an answer: the controls go away at once so that no second answer can follow.
  waiting() {
    this.reset('waiting');
    this.root.append(el('p', { class: 'prompt-waiting' }, 'Aguardando o terminal…'));
  }

  get kind() {
    return this.root.dataset.prompt;
  }

  // Keyboard shortcuts of the prompt shown; true when the key was used.
  handleKey(event) {
    return this.keys ? this.keys(event) === true : false;
  }

  reset(kind) {
    clearTimeout(this.codeTimer);
    this.codeBuffer = '';
    this.keys = null;
    this.settle = null;
    this.root.replaceChildren();
    this.root.dataset.prompt = kind;
    this.root.hidden = kind === 'none';
  }

  // The first answer of a prompt wins; the controls go at once, so no second one can follow.
  answer(choice) {
    const settle = this.settle;
    if (!settle) return;
    this.waiting();
    settle(choice);
  }

  heading(text, fallback) {
    return el('h2', { class: 'prompt-title', 'data-testid': 'prompt-title', id: 'prompt-title' },
      String(text ?? '').trim() || fallback);
  }

  // A menu: one button per line showing the label, answering with the whole line as offered;
  // the code digits typed on the keyboard choose too.
  menu(prompt) {
    const options = prompt.options;
    const choose = (option) => this.answer({ option: option.line });
    const list = el('div', { class: 'prompt-options', role: 'group', 'aria-labelledby': 'prompt-title' });
    options.forEach((option, index) => {
      list.append(el('button', {
        type: 'button', class: 'option', 'data-testid': 'prompt-option', 'data-option': option.line,
        'data-code': option.code, 'data-autofocus': index === 0, onclick: () => choose(option),
      }, option.code ? el('span', { class: 'option-code', 'aria-hidden': 'true' }, option.code) : null,
      el('span', { class: 'option-label' }, option.label)));
    });
    const leave = (back) => this.answer(back ? { back: true } : { cancel: true });
    this.root.append(this.heading(prompt.title, 'Escolha uma opção'), list,
      this.actions(() => leave(true), () => leave(false)));
    this.keys = (event) => {
      if (event.key === 'Escape') {
        leave(false);
        return true;
      }
      if (!/^[0-9A-Za-z]$/.test(event.key) || event.ctrlKey || event.altKey || event.metaKey) return false;
      return this.typeMenuCode(event.key, options, choose);
    };
  }

  // Codes may have more than one digit ("10:Outros"): a code is taken as soon as no other code
  // begins with what was typed, or after a short pause when one does.
  typeMenuCode(key, options, choose) {
    clearTimeout(this.codeTimer);
    this.codeBuffer += key.toUpperCase();
    const typed = this.codeBuffer;
    const exact = options.find((option) => option.code.toUpperCase() === typed);
    const longer = options.filter((option) => option.code.toUpperCase().startsWith(typed) && option.code.length > typed.length);
    if (!exact && longer.length === 0) {
      this.codeBuffer = '';
      return false;
    }
    if (exact && longer.length === 0) {
      choose(exact);
      return true;
    }
    this.codeTimer = setTimeout(() => {
      this.codeBuffer = '';
      if (exact) choose(exact);
    }, MENU_CODE_PAUSE_MS);
    return true;
  }

  // A field to type: sizes, keyboard and masking follow the field; Enter sends, "Voltar" goes
  // back to the previous step, "Cancelar" asks to end the operation.
  collect(prompt) {
    const maximum = Math.max(0, prompt.maximumSize);
    const asked = Math.max(0, prompt.minimumSize);
    // A minimum above the maximum could never be typed; the field then only keeps the maximum.
    const minimum = maximum === 0 || asked <= maximum ? asked : 0;
    const operation = prompt.fieldOperation;
    const input = el('input', {
      id: 'prompt-input', class: 'prompt-input', 'data-testid': 'prompt-input', 'data-autofocus': true,
      type: operation === SECURITY_FIELD ? 'password' : 'text', autocomplete: 'off', spellcheck: 'false',
      inputmode: operation === 'currency' ? 'decimal' : null, placeholder: operation === 'currency' ? '0,00' : null,
      maxlength: maximum > 0 ? maximum : null, minlength: minimum > 0 ? minimum : null,
      'data-field-operation': operation, 'aria-labelledby': 'prompt-title', 'aria-describedby': 'prompt-hint',
    });
    const hint = el('p', { id: 'prompt-hint', class: 'prompt-hint', 'data-testid': 'prompt-hint' }, sizeHint(minimum, maximum));
    const back = () => this.answer({ back: true });
    const cancel = () => this.answer({ cancel: true });
    const form = el('form', { class: 'prompt-form', novalidate: true },
      this.heading(prompt.title, 'Digite o valor'), input, hint,
      el('div', { class: 'prompt-actions' },
        el('button', { type: 'submit', class: 'primary', 'data-testid': 'prompt-submit' }, 'Confirmar'),
        ...backAndCancel(back, cancel)));
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      if (input.value.length < minimum) {
        hint.textContent = `Digite pelo menos ${minimum} caractere${minimum > 1 ? 's' : ''}.`;
        hint.classList.add('invalid');
        input.focus();
        return;
      }
      this.answer({ value: input.value });
    });
    this.root.append(form);
    this.keys = (event) => {
      if (event.key !== 'Escape') return false;
      cancel();
      return true;
    };
  }

  // A question: one button per option, answered with the option's text; its first letter is a
  // shortcut, and Escape answers "Não" when that is offered.
  question(prompt) {
    const options = prompt.options;
    const choose = (option) => this.answer(option);
    const list = el('div', { class: 'prompt-options', role: 'group', 'aria-labelledby': 'prompt-title' },
      ...options.map((option, index) => el('button', {
        type: 'button', class: index === 0 ? 'option primary' : 'option', 'data-testid': 'prompt-option',
        'data-option': option, 'data-autofocus': index === 0, onclick: () => choose(option),
      }, option)));
    this.root.append(this.heading(prompt.message, 'Confirme'), list);
    this.keys = (event) => {
      if (event.key === 'Escape' && options.includes('Não')) {
        choose('Não');
        return true;
      }
      if (event.key.length !== 1 || event.ctrlKey || event.altKey || event.metaKey) return false;
      const initial = event.key.toLocaleUpperCase('pt-BR');
      const matching = options.filter((option) => option.charAt(0).toLocaleUpperCase('pt-BR') === initial);
      if (matching.length !== 1) return false;
      choose(matching[0]);
      return true;
    };
  }

  // A message to acknowledge: OK, Enter or Escape.
  confirmation(prompt) {
    const ok = () => this.answer(undefined);
    this.root.append(this.heading(prompt.message, 'Confirme para continuar'),
      el('div', { class: 'prompt-actions' },
        el('button', { type: 'button', class: 'primary', 'data-testid': 'prompt-ok', 'data-autofocus': true, onclick: ok }, 'OK')));
    this.keys = (event) => {
      if (event.key !== 'Escape') return false;
      ok();
      return true;
    };
  }

  actions(onBack, onCancel) {
    return el('div', { class: 'prompt-actions' }, ...backAndCancel(onBack, onCancel));
  }
}

// "Voltar" returns to the dialogue's previous step; "Cancelar" asks the service to end it.
function backAndCancel(onBack, onCancel) {
  return [
    el('button', { type: 'button', 'data-testid': 'prompt-back', onclick: onBack }, 'Voltar'),
    el('button', { type: 'button', class: 'danger', 'data-testid': 'prompt-cancel', onclick: onCancel }, 'Cancelar'),
  ];
}

function sizeHint(minimum, maximum) {
  if (maximum > 0 && minimum === maximum) return `${maximum} caractere${maximum > 1 ? 's' : ''}.`;
  if (maximum > 0 && minimum > 0) return `De ${minimum} a ${maximum} caracteres.`;
  if (maximum > 0) return `Até ${maximum} caractere${maximum > 1 ? 's' : ''}.`;
  if (minimum > 0) return `Pelo menos ${minimum} caractere${minimum > 1 ? 's' : ''}.`;
  return '';
}
