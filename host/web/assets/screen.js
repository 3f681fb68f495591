// A terminal's screen as real text: one row element per screen row, runs of
// styled text in each, and a cursor block. The host's emulated screen is the
// truth; this draws the rows it sends (all of them first, then the ones
// that changed).

export const ROW_HEIGHT = 16;

const BASE16 = [
  '#1c1f26', '#e06c75', '#98c379', '#e5c07b', '#61afef', '#c678dd', '#56b6c2', '#d5d8de',
  '#5c6370', '#ff7b86', '#b5e890', '#ffd68a', '#7cc3ff', '#de95f0', '#7fd8e3', '#ffffff',
];

/** Palette index (0-255) to a CSS colour, as xterm's 256-colour table. */
function indexed(n) {
  if (n < 16) return BASE16[n];
  if (n < 232) {
    const level = (v) => (v === 0 ? 0 : 55 + v * 40);
    const i = n - 16;
    return `rgb(${level(Math.floor(i / 36))},${level(Math.floor(i / 6) % 6)},${level(i % 6)})`;
  }
  const grey = 8 + (n - 232) * 10;
  return `rgb(${grey},${grey},${grey})`;
}

/** A colour of the wire (null: the default, a number: the palette, a string: #rrggbb). */
function colour(c) {
  if (c === null || c === undefined) return null;
  return typeof c === 'number' ? indexed(c) : c;
}

const BOLD = 1, UNDERLINE = 2, ITALIC = 4, REVERSE = 8, STRIKE = 16, BLINK = 32, CONCEAL = 64;

function run(text, fg, bg, flags) {
  const span = document.createElement('span');
  span.textContent = text;
  let f = colour(fg), b = colour(bg);
  if (flags & REVERSE) [f, b] = [b ?? 'var(--term-bg)', f ?? 'var(--term-fg)'];
  if (flags & CONCEAL) f = 'transparent';
  if (f) span.style.color = f;
  if (b) span.style.backgroundColor = b;
  if (flags & BOLD) span.classList.add('b');
  if (flags & ITALIC) span.classList.add('i');
  if (flags & UNDERLINE) span.classList.add('u');
  if (flags & STRIKE) span.classList.add('s');
  if (flags & BLINK) span.classList.add('k');
  return span;
}

export class Screen {
  constructor(el) {
    this.el = el;
    this.rows = [];
    this.size = [0, 0];
    this.cursor = document.createElement('div');
    this.cursor.className = 'cursor hidden';
    el.append(this.cursor);
  }

  /** Applies a screen message: {size:[rows, cols], rows:[[index, runs]...], cursor:[row, col, visible]}. */
  apply(message) {
    const [rows, cols] = message.size;
    if (rows !== this.size[0] || cols !== this.size[1]) this.resize(rows, cols);
    for (const [index, runs] of message.rows) {
      const row = this.rows[index];
      if (!row) continue;
      row.replaceChildren(...runs.map((r) => (r.length === 1 ? r[0] : run(r[0], r[1], r[2], r[3]))));
    }
    const [crow, ccol, visible] = message.cursor;
    this.cursor.style.top = `${crow * ROW_HEIGHT}px`;
    this.cursor.style.left = `${ccol}ch`;
    this.cursor.classList.toggle('hidden', !visible);
  }

  resize(rows, cols) {
    while (this.rows.length < rows) {
      const row = document.createElement('div');
      row.className = 'row';
      this.el.insertBefore(row, this.cursor);
      this.rows.push(row);
    }
    while (this.rows.length > rows) this.rows.pop().remove();
    this.size = [rows, cols];
    this.el.style.width = `${cols}ch`;
    this.el.style.height = `${rows * ROW_HEIGHT}px`;
  }

  /** The screen's text, rows joined by line feeds (what a person would read). */
  text() {
    return this.rows.map((r) => r.textContent).join('\n');
  }
}

/** The width of one character cell in CSS pixels at zoom 1. */
export function cellWidth(probeParent) {
  const probe = document.createElement('div');
  probe.className = 'screen';
  probe.style.cssText = 'position:absolute;visibility:hidden;width:auto';
  probe.textContent = '0'.repeat(100);
  probeParent.append(probe);
  const width = probe.getBoundingClientRect().width / 100;
  probe.remove();
  return width || 8;
}
