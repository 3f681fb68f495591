// Where the person's keys go. A terminal that takes the keys gets every key
// (keys.js), Escape included, but for the page's own chords (Ctrl+Shift+F
// searches, Ctrl+Shift+ArrowUp goes back to the overview) and an Escape
// right after a click brought the window near, before anything was typed,
// which goes back to the overview too. When no terminal takes the keys,
// they move about the canvas: the arrows and Tab move the focus from window
// to window, Enter brings the focused one near and gives it the keys,
// typing types into it, Escape shows everything.

import { canvasKey, keyMessage, pageChord } from './keys.js';

/** True when the key is for a field of the page's own (a note, a dialog, the search). */
function inField(target) {
  return !!target.closest && !!target.closest('input, textarea, select, dialog, [contenteditable]');
}

export class Keyboard {
  constructor(board) {
    this.board = board;
    this.keys = document.getElementById('keys');
    this.bind();
  }

  /** True while a terminal takes the keys. */
  typing() {
    return document.activeElement === this.keys;
  }

  /** Gives the keys to `item` (with `keys`), or to the canvas. */
  give(item, keys) {
    // A shell that joined runs in the person's own terminal: it takes no keys here.
    if (item && keys && item.kind === 'terminal' && item.data.state !== 'joined') {
      this.keys.focus({ preventScroll: true });
      item.node.classList.add('focused');
    } else if (item && keys && item.text) {
      item.text.focus({ preventScroll: true });
    } else if (document.activeElement === this.keys || (document.activeElement && document.activeElement.closest('.item'))) {
      document.activeElement.blur();
    }
  }

  /** The page's own chords, whatever has the keys; true when the key was one. */
  chord(event) {
    const chord = pageChord(event);
    if (!chord) return false;
    event.preventDefault();
    if (chord === 'search') this.board.page.search();
    else this.board.overview();
    return true;
  }

  bind() {
    const board = this.board;
    this.keys.addEventListener('keydown', (event) => {
      if (event.isComposing || !board.focused) return;
      if (this.chord(event)) return;
      const screen = board.focused.screen;
      if (event.key === 'Escape' && board.fresh && !event.ctrlKey && !event.altKey && !event.shiftKey) {
        event.preventDefault();
        board.overview();
        return;
      }
      board.fresh = false;
      if (screen && event.shiftKey && (event.key === 'PageUp' || event.key === 'PageDown')) {
        event.preventDefault();
        screen.scrollBy((event.key === 'PageUp' ? 1 : -1) * Math.max(1, screen.size[0] - 1));
        return;
      }
      if (screen && event.ctrlKey && !event.altKey && !event.shiftKey && event.key.toLowerCase() === 'f') {
        event.preventDefault();
        board.focused.openFind();
        return;
      }
      const message = keyMessage(event);
      if (!message) return;
      event.preventDefault();
      if (screen) screen.bottom();
      board.sendKeys(message);
    });
    this.keys.addEventListener('paste', (event) => {
      event.preventDefault();
      board.fresh = false;
      const text = event.clipboardData.getData('text/plain');
      if (text) board.sendKeys({ op: 'paste', text });
    });
    this.keys.addEventListener('input', (event) => {
      if (event.isComposing) return;
      board.fresh = false;
      if (board.focused && board.focused.screen) board.focused.screen.bottom();
      if (this.keys.value) board.sendKeys({ op: 'text', text: this.keys.value });
      this.keys.value = '';
    });
    this.keys.addEventListener('blur', () => {
      if (board.focused) board.focused.node.classList.remove('focused');
    });
    this.keys.addEventListener('focus', () => {
      if (board.focused) board.focused.node.classList.add('focused');
    });
    // The canvas's keys: the keys of no terminal and no field.
    document.addEventListener('keydown', (event) => {
      if (event.target === this.keys || event.isComposing) return;
      if (inField(event.target)) {
        if (pageChord(event) === 'search') this.chord(event);
        return;
      }
      if (this.chord(event)) return;
      const key = canvasKey(event);
      if (!key) return;
      if (key.move) board.move(key.move);
      else if (key.overview) board.overview();
      else if (!board.focused) return;
      else if (key.open) board.activate(board.focused);
      // A character types into the focused terminal, which takes the keys from then on.
      else if (board.focused.screen && board.focused.data.state !== 'joined') {
        board.activate(board.focused);
        board.fresh = false;
        board.sendKeys({ op: 'text', text: event.key });
      } else {
        return;
      }
      event.preventDefault();
    });
  }
}
