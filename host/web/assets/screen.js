// A terminal's screen as real text: one row element per screen row, runs of
// styled text in each, and a cursor block. The host's emulated screen is the
// truth; this draws the rows it sends (all of them first, then the ones
// that changed). Scrolled back, a view over the screen shows the host's
// kept scrollback (fetched as needed) followed by the live rows, anchored
// to the same lines while new output arrives. Web addresses in the text
// become links, opened in a new tab when clicked, the row's text unchanged.

import { findAddresses, shownAs } from './links.js';
import { hasWide, widePieces } from './width.js';

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

const BOLD = 1, UNDERLINE = 2, ITALIC = 4, REVERSE = 8, STRIKE = 16, BLINK = 32, CONCEAL = 64, DIM = 128;

/** Fills `node` with `text`, each wide character in a box exactly two cells wide. */
function cells(node, text) {
  if (!hasWide(text)) {
    node.textContent = text;
    return;
  }
  for (const piece of widePieces(text)) {
    if (typeof piece === 'string') {
      node.append(piece);
      continue;
    }
    const wide = document.createElement('span');
    wide.className = 'w';
    wide.textContent = piece.wide;
    node.append(wide);
  }
}

/** One run of a row: [text] in the default style, or [text, fg, bg, flags]. */
function runNode(r) {
  if (r.length > 1) return run(r[0], r[1], r[2], r[3]);
  if (!hasWide(r[0])) return r[0];
  const span = document.createElement('span');
  cells(span, r[0]);
  return span;
}

function run(text, fg, bg, flags) {
  const span = document.createElement('span');
  cells(span, text);
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
  if (flags & DIM) span.classList.add('d');
  return span;
}

/** Wraps the web addresses in `row`'s text in links; the text stays as it was (see shownAs). */
function linkify(row) {
  if (!row.textContent.includes('://')) return;
  const walker = document.createTreeWalker(row, NodeFilter.SHOW_TEXT);
  const texts = [];
  for (let node = walker.nextNode(); node; node = walker.nextNode()) texts.push(node);
  for (const node of texts) {
    const found = findAddresses(node.data);
    if (!found.length) continue;
    const parts = [];
    let at = 0;
    for (const { start, end, href } of found) {
      if (start > at) parts.push(node.data.slice(at, start));
      const link = document.createElement('a');
      link.href = href;
      link.target = '_blank';
      link.rel = 'noopener noreferrer';
      link.draggable = false;  // a drag from a link selects text, as elsewhere on the screen
      link.textContent = shownAs(node.data.slice(start, end), href);
      parts.push(link);
      at = end;
    }
    if (at < node.data.length) parts.push(node.data.slice(at));
    node.replaceWith(...parts);
  }
}

/** Draws `runs` into the row element `row`. */
function fill(row, runs) {
  row.replaceChildren(...runs.map(runNode));
  linkify(row);
}

/** How many history rows one fetch asks for. */
const FETCH_ROWS = 200;

export class Screen {
  /** `fetch(from, count)` resolves to the host's {history, rows} of kept scrollback. */
  constructor(el, fetch) {
    this.el = el;
    this.fetch = fetch;
    this.rows = [];
    this.size = [0, 0];
    this.cursor = document.createElement('div');
    this.cursor.className = 'cursor hidden';
    el.append(this.cursor);
    // [oldest kept row, rows scrolled off so far], as absolute row numbers.
    this.history = [0, 0];
    this.back = 0;
    // How the program reads the mouse: 0 not at all, 1 clicks, 2 drags too, 3 every move.
    this.mouse = 0;
    this.kept = new Map();
    this.fetching = new Set();
    this.view = document.createElement('div');
    this.view.className = 'scrollview';
    this.view.hidden = true;
    this.marker = document.createElement('div');
    this.marker.className = 'scrolled';
    this.marker.hidden = true;
    el.append(this.view, this.marker);
  }

  /** Scrolls `lines` further back (negative: toward the live screen). */
  scrollBy(lines) {
    const most = this.history[1] - this.history[0];
    const back = Math.max(0, Math.min(most, this.back + Math.round(lines)));
    if (back === this.back) return;
    this.back = back;
    this.render();
  }

  /** Back to the live screen, unmarked. */
  bottom() {
    if (this.found !== null && this.found !== undefined) {
      this.found = null;
      for (const r of this.rows) r.classList.remove('found');
    }
    this.scrollBy(-this.back);
  }

  /** Shows the absolute line `row` (history or screen) near the top. */
  reveal(row) {
    this.back = 0;
    this.scrollBy(this.history[1] - row + 1);
  }

  /** Shows the absolute line `row` near the top, marked, until the next look elsewhere. */
  show(row) {
    for (const r of this.rows) r.classList.remove('found');
    this.found = row;
    this.reveal(row);
    const [, scrolled] = this.history;
    if (row >= scrolled && this.rows[row - scrolled]) this.rows[row - scrolled].classList.add('found');
    this.render();
  }

  render() {
    const [first, scrolled] = this.history;
    this.view.hidden = this.marker.hidden = this.back === 0;
    if (this.back === 0) return;
    this.marker.textContent = `\u2191 ${this.back} line${this.back === 1 ? '' : 's'} back \u00b7 type or scroll down to return`;
    const top = scrolled - this.back;
    const lines = [];
    for (let i = 0; i < this.size[0]; i++) {
      const line = top + i;
      if (line >= scrolled) {
        const live = this.rows[line - scrolled];
        lines.push(live ? live.cloneNode(true) : document.createElement('div'));
        continue;
      }
      const row = document.createElement('div');
      row.className = 'row';
      row.dataset.line = line;
      const runs = this.kept.get(line);
      if (runs) fill(row, runs);
      else if (line >= first) this.need(line);
      if (line === this.found) row.classList.add('found');
      lines.push(row);
    }
    this.view.replaceChildren(...lines);
  }

  /** Fetches the block of kept rows that holds `line`, once. */
  need(line) {
    const from = Math.max(this.history[0], line - (line % FETCH_ROWS));
    if (this.fetching.has(from)) return;
    this.fetching.add(from);
    this.load(from, FETCH_ROWS).then(() => {
      this.fetching.delete(from);
      this.render();
    });
  }

  async load(from, count) {
    const reply = await this.fetch(from, count);
    if (reply.error) return;
    for (const [line, runs] of reply.result.rows) this.kept.set(line, runs);
  }

  /** The last line at or before `before` (absolute) whose text holds `text`; null when none. */
  async find(text, before) {
    const [first, scrolled] = this.history;
    if (scrolled > first) await this.load(first, scrolled - first);
    const needle = text.toLowerCase();
    for (let line = before; line >= first; line--) {
      const body = line >= scrolled
        ? (this.rows[line - scrolled] || { textContent: '' }).textContent
        : (this.kept.get(line) || []).map((r) => r[0]).join('');
      if (body.toLowerCase().includes(needle)) return line;
    }
    return null;
  }

  /** What is shown now, rows joined by line feeds. */
  shown() {
    const rows = this.back === 0 ? this.rows : [...this.view.children];
    return rows.map((r) => r.textContent).join('\n');
  }

  /** Applies a screen message: {size:[rows, cols], rows:[[index, runs]...], cursor:[row, col, visible], mouse}. */
  apply(message) {
    const [rows, cols] = message.size;
    if (rows !== this.size[0] || cols !== this.size[1]) this.resize(rows, cols);
    for (const [index, runs] of message.rows) {
      const row = this.rows[index];
      if (!row) continue;
      fill(row, runs);
    }
    const [crow, ccol, visible] = message.cursor;
    this.cursorRow = crow;
    this.cursor.style.top = `${crow * ROW_HEIGHT}px`;
    this.cursor.style.left = `${ccol}ch`;
    this.cursor.classList.toggle('hidden', !visible);
    this.mouse = message.mouse || 0;
    this.el.classList.toggle('mouse', this.mouse > 0);
    if (message.history) {
      // Scrolled back, the view stays on the same lines as more scroll off.
      const grew = message.history[1] - this.history[1];
      this.history = message.history;
      for (const line of this.kept.keys()) if (line < this.history[0]) this.kept.delete(line);
      if (this.back > 0) {
        this.back = Math.min(this.back + grew, this.history[1] - this.history[0]);
        this.render();
      }
    }
  }

  /** The cell [row, col] under the point (clientX, clientY), at whatever zoom; kept on the screen. */
  cellAt(clientX, clientY) {
    const r = this.el.getBoundingClientRect();
    const [rows, cols] = this.size;
    const at = (offset, extent, count) => Math.max(0, Math.min(count - 1, Math.floor((offset / extent) * count)));
    return [at(clientY - r.top, r.height, rows), at(clientX - r.left, r.width, cols)];
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

  /** The text of the cursor's row. */
  cursorLine() {
    const row = this.rows[this.cursorRow || 0];
    return row ? row.textContent.trimEnd() : '';
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
