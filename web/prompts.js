// The prompts of a running payment dialogue ("menu", "collect", "question", "confirmation"), each
// drawn with its natural control, answered with the mouse or the keyboard, and turned into the
// answer message the service waits for.
import { el } from './dom.js';
import { parseMenuOption } from './texts.js';

const MENU_CODE_PAUSE_MS = 900;
const SECURITY_FIELD = 'segurança';

export class PromptView {
  // `onAnswer(answer)` receives the answer's members besides "route"; it is called at most once
  // per prompt shown.
  constructor(root, { onAnswer }) {
    this.root = root;
    this.onAnswer = onAnswer;
    this.keys = null;
    this.codeBuffer = '';
    this.codeTimer = null;
    this.clear();
  }

  // Shows one prompt message in place of whatever was shown before; false for another kind.
  show(message) {
    const draw = {
      menu: () => this.menu(message),
      collect: () => this.collect(message),
      question: () => this.question(message),
      confirmation: () => this.confirmation(message),
    }[message.type];
    if (!draw) return false;
    this.reset(message.type);
    draw();
    this.root.querySelector('[data-autofocus]')?.focus();
    return true;
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
    this.root.replaceChildren();
    this.root.dataset.prompt = kind;
    this.root.hidden = kind === 'none';
  }

  answer(members) {
    if (this.kind === 'waiting' || this.kind === 'none') return;
    this.waiting();
    this.onAnswer(members);
  }

  heading(text, fallback) {
    return el('h2', { class: 'prompt-title', 'data-testid': 'prompt-title', id: 'prompt-title' },
      String(text ?? '').trim() || fallback);
  }

  // A menu: one button per line showing the label, answering with the whole line as offered;
  // the code digits typed on the keyboard choose too.
  menu(message) {
    const options = (Array.isArray(message.options) ? message.options : []).map(parseMenuOption);
    const choose = (option) => this.answer({ type: 'menu', response: option.line, back_menu: 'false' });
    const list = el('div', { class: 'prompt-options', role: 'group', 'aria-labelledby': 'prompt-title' });
    options.forEach((option, index) => {
      list.append(el('button', {
        type: 'button', class: 'option', 'data-testid': 'prompt-option', 'data-option': option.line,
        'data-code': option.code, 'data-autofocus': index === 0, onclick: () => choose(option),
      }, option.code ? el('span', { class: 'option-code', 'aria-hidden': 'true' }, option.code) : null,
      el('span', { class: 'option-label' }, option.label)));
    });
    const leave = (back) => this.answer({ type: 'menu', response: '', back_menu: back ? 'true' : 'false' });
    this.root.append(this.heading(message.title, 'Escolha uma opção'), list,
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
  collect(message) {
    const maximum = Math.max(0, Number.parseInt(message.maximum_size, 10) || 0);
    const asked = Math.max(0, Number.parseInt(message.minimum_size, 10) || 0);
    // A minimum above the maximum could never be typed; the field then only keeps the maximum.
    const minimum = maximum === 0 || asked <= maximum ? asked : 0;
    const operation = String(message.field_operation ?? '');
    const input = el('input', {
      id: 'prompt-input', class: 'prompt-input', 'data-testid': 'prompt-input', 'data-autofocus': true,
      type: operation === SECURITY_FIELD ? 'password' : 'text', autocomplete: 'off', spellcheck: 'false',
      inputmode: operation === 'currency' ? 'decimal' : null, placeholder: operation === 'currency' ? '0,00' : null,
      maxlength: maximum > 0 ? maximum : null, minlength: minimum > 0 ? minimum : null,
      'data-field-operation': operation, 'aria-labelledby': 'prompt-title', 'aria-describedby': 'prompt-hint',
    });
    const hint = el('p', { id: 'prompt-hint', class: 'prompt-hint', 'data-testid': 'prompt-hint' }, sizeHint(minimum, maximum));
    const back = () => this.answer({ type: 'collect', typed: 'false', response: '', back_menu: 'true' });
    const cancel = () => this.answer({ type: 'collect', typed: 'false', response: '', back_menu: 'false' });
    const form = el('form', { class: 'prompt-form', novalidate: true },
      this.heading(message.title, 'Digite o valor'), input, hint,
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
      this.answer({ type: 'collect', typed: 'true', response: input.value, back_menu: 'false' });
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
  question(message) {
    const options = (Array.isArray(message.options) ? message.options : []).map(String);
    const choose = (option) => this.answer({ type: 'question', response: option });
    const list = el('div', { class: 'prompt-options', role: 'group', 'aria-labelledby': 'prompt-title' },
      ...options.map((option, index) => el('button', {
        type: 'button', class: index === 0 ? 'option primary' : 'option', 'data-testid': 'prompt-option',
        'data-option': option, 'data-autofocus': index === 0, onclick: () => choose(option),
      }, option)));
    this.root.append(this.heading(message.message, 'Confirme'), list);
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
  confirmation(message) {
    const ok = () => this.answer({ type: 'confirmation' });
    this.root.append(this.heading(message.message, 'Confirme para continuar'),
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
