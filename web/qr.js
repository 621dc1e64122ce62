// The PIX QR code of a running payment: drawn as an image by the qrcode-generator package (served
// by the static server under /vendor/) with its copy-and-paste text beside it.
import { el } from './dom.js';

let factory = null;

// Loads the QR library on first use, so that a page served without /vendor/ still works for
// everything but the drawing. The library's default byte conversion keeps only the low byte of
// each character; PIX codes are UTF-8, so that conversion is replaced.
async function loadFactory() {
  if (!factory) {
    factory = import('./vendor/qrcode-generator.js').then((module) => {
      const qrcode = module.default ?? module.qrcode;
      const encoder = new TextEncoder();
      qrcode.stringToBytes = (text) => Array.from(encoder.encode(text));
      return qrcode;
    });
    factory.catch(() => { factory = null; });
  }
  return factory;
}

export class QrView {
  constructor(root) {
    this.root = root;
    this.shown = 0;
    this.clear();
  }

  // Shows the code for `data`; empty data removes it.
  async show(data) {
    const text = String(data ?? '');
    if (text === '') {
      this.clear();
      return;
    }
    const id = ++this.shown;
    const image = el('img', { class: 'qr-image', 'data-testid': 'qr-image', alt: 'QR Code para pagamento com PIX' });
    const code = el('textarea', { class: 'qr-text', 'data-testid': 'qr-text', readonly: true, rows: 3, 'aria-label': 'PIX copia e cola' });
    code.value = text;
    const note = el('p', { class: 'qr-note', 'data-testid': 'qr-note' }, 'Peça ao cliente para ler o QR Code no aplicativo do banco.');
    const copy = el('button', { type: 'button', 'data-testid': 'qr-copy', onclick: () => copyText(code, copy) }, 'Copiar código PIX');
    this.root.replaceChildren(el('h2', {}, 'Pagamento com PIX'), image, note, code, copy);
    this.root.hidden = false;
    try {
      const qrcode = await loadFactory();
      const qr = qrcode(0, 'M');
      qr.addData(text, 'Byte');
      qr.make();
      if (id !== this.shown) return;
      image.src = qr.createDataURL(8, 4);
    } catch {
      if (id !== this.shown) return;
      image.remove();
      note.textContent = 'Não foi possível desenhar o QR Code. Use o código PIX copia e cola abaixo.';
      note.classList.add('invalid');
    }
  }

  clear() {
    this.shown += 1;
    this.root.replaceChildren();
    this.root.hidden = true;
  }
}

// Copies the PIX text for the customer's phone; the selected text remains as a fallback.
async function copyText(textarea, button) {
  textarea.select();
  try {
    await navigator.clipboard.writeText(textarea.value);
    button.textContent = 'Código copiado';
  } catch {
    button.textContent = 'Use Ctrl+C para copiar';
  }
}
