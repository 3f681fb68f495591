// Search across every terminal (Ctrl+Shift+F, or the toolbar's Search): the
// host finds the rows of each terminal's screen and kept scrollback that
// hold the text, newest first; the page lists them by terminal, and a
// click on one brings that terminal near, scrolled to the line.

import { el } from './windows.js';

export class Search {
  constructor(board) {
    this.board = board;
    this.panel = document.getElementById('search');
    this.input = this.panel.querySelector('input');
    this.results = this.panel.querySelector('ol');
    this.status = this.panel.querySelector('.status');
    this.panel.querySelector('form').addEventListener('submit', (e) => {
      e.preventDefault();
      this.run();
    });
    this.input.addEventListener('input', () => {
      clearTimeout(this.timer);
      this.timer = setTimeout(() => this.run(), 250);
    });
    this.panel.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') this.close();
    });
    this.panel.querySelector('.close').addEventListener('click', () => this.close());
  }

  open() {
    document.getElementById('activity').hidden = true;
    this.panel.hidden = false;
    this.board.panelsChanged();
    this.input.focus();
    this.input.select();
  }

  close() {
    this.panel.hidden = true;
    this.board.panelsChanged();
  }

  async run() {
    const text = this.input.value;
    if (!text) {
      this.results.replaceChildren();
      this.status.textContent = '';
      return;
    }
    const reply = await this.board.act({ op: 'search', text, quiet: true });
    if (text !== this.input.value) return;  // a newer search is on its way
    if (reply.error) {
      this.status.textContent = reply.error;
      return;
    }
    const { terminals, more } = reply.result;
    const count = terminals.reduce((n, t) => n + t.lines.length, 0);
    this.status.textContent = count ? `${count} line${count === 1 ? '' : 's'} in ${terminals.length} ` +
      `terminal${terminals.length === 1 ? '' : 's'}${more ? ' (the newest 100 of each)' : ''}` : 'nowhere';
    this.results.replaceChildren(...terminals.map(({ id, lines }) => {
      const group = el('li', 'terminal');
      group.append(el('h3', null, id.slice(2)));
      const list = el('ol');
      for (const [line, row] of lines) {
        const entry = el('li', 'line');
        entry.append(...this.marked(row, text));
        entry.title = `line ${line}`;
        entry.addEventListener('click', () => this.board.reveal(id, line));
        list.append(entry);
      }
      group.append(list);
      return group;
    }));
  }

  /** The row's text with each match of `text` (ASCII letters in either case) marked. */
  marked(row, text) {
    const parts = [];
    // As the host finds it: ASCII letters in either case, so that the lengths stay.
    const fold = (s) => s.replace(/[A-Z]/g, (c) => c.toLowerCase());
    const lower = fold(row), needle = fold(text);
    let at = 0;
    for (let i = lower.indexOf(needle); i >= 0; i = lower.indexOf(needle, i + needle.length)) {
      if (i > at) parts.push(row.slice(at, i));
      parts.push(el('mark', null, row.slice(i, i + needle.length)));
      at = i + needle.length;
    }
    if (at < row.length) parts.push(row.slice(at));
    return parts;
  }
}
