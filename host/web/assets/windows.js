// The windows on the canvas: a terminal's (its header with name, role and
// state, its live screen, a find bar) and a sticky note's. A window is
// moved by its title bar and resized by its corner; a drag from its ring
// (○, before its name) draws a rope. What the person does goes to the
// board, which tells the host.

import { Screen, ROW_HEIGHT } from './screen.js';
import { stateBadge } from './attention.js';

export function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

/** Calls move(dx, dy, event) in screen pixels while the pointer is down, then end(event). */
export function track(event, move, end) {
  const target = event.currentTarget;
  const start = [event.clientX, event.clientY];
  target.setPointerCapture(event.pointerId);
  const onMove = (e) => move(e.clientX - start[0], e.clientY - start[1], e);
  const onUp = (e) => {
    target.removeEventListener('pointermove', onMove);
    target.removeEventListener('pointerup', onUp);
    target.removeEventListener('pointercancel', onUp);
    end(e);
  };
  target.addEventListener('pointermove', onMove);
  target.addEventListener('pointerup', onUp);
  target.addEventListener('pointercancel', onUp);
}

/** A button that acts on the second click within three seconds. */
function confirmButton(label, armedLabel, act) {
  const button = el('button', 'close', label);
  button.type = 'button';
  let timer = 0;
  button.addEventListener('pointerdown', (e) => e.stopPropagation());
  button.addEventListener('click', () => {
    if (button.classList.contains('armed')) {
      clearTimeout(timer);
      act();
      return;
    }
    button.classList.add('armed');
    button.textContent = armedLabel;
    timer = setTimeout(() => {
      button.classList.remove('armed');
      button.textContent = label;
    }, 3000);
  });
  return button;
}

/** A click: a press and release without a drag between. */
function onClick(node, handler) {
  let down = null;
  node.addEventListener('pointerdown', (e) => (down = [e.clientX, e.clientY]));
  node.addEventListener('pointerup', (e) => {
    if (down && Math.hypot(e.clientX - down[0], e.clientY - down[1]) < 4) handler(e);
    down = null;
  });
}

class Item {
  constructor(board, data) {
    this.board = board;
    this.id = data.id;
    this.kind = data.kind;
    this.name = data.name;
    this.data = data;
    this.node = el('div', `item ${data.kind}`);
    this.node.dataset.id = data.id;
    this.title = el('div', 'titlebar');
    this.handle = el('span', 'handle');
    this.handle.title = 'drag to another item to rope them';
    this.nameNode = el('span', 'name', data.name);
    // Buttons of the window's own (such as resuming a held terminal) go in `actions`.
    this.actions = el('span', 'actions');
    this.title.append(this.handle, this.nameNode);
    this.node.append(this.title);
    this.title.addEventListener('pointerdown', (e) => this.startMove(e));
    this.node.addEventListener('pointerdown', () => board.raise(this), true);
    this.handle.addEventListener('pointerdown', (e) => board.ropes.startRope(this, e));
    onClick(this.title, (e) => {
      if (!e.target.closest('button') && e.target !== this.handle) board.activate(this);
    });
    this.box = { x: 0, y: 0, w: 0, h: 0 };
  }

  place(box) {
    this.box = { ...this.box, ...box };
    this.node.style.left = `${box.x}px`;
    this.node.style.top = `${box.y}px`;
  }

  /** True for a terminal whose window takes its size from its first screen. */
  sizedByScreen() {
    return this.kind === 'terminal' && this.data.state !== 'joined';
  }

  /** The window's [width, height] on the canvas. */
  size() {
    return [this.node.offsetWidth, this.node.offsetHeight];
  }

  /** The window's box on the canvas: [left, top, right, bottom]. */
  bounds() {
    return [this.box.x, this.box.y, this.box.x + this.node.offsetWidth, this.box.y + this.node.offsetHeight];
  }

  startMove(event) {
    if (event.target.closest('button') || event.target === this.handle) return;
    event.stopPropagation();
    event.preventDefault();
    const from = { ...this.box };
    const scale = this.board.view.scale;
    this.board.dragging = this;
    track(event, (dx, dy) => {
      this.place({ ...from, x: Math.round(from.x + dx / scale), y: Math.round(from.y + dy / scale) });
      this.board.ropes.draw();
    }, () => {
      this.board.dragging = null;
      this.board.ropes.draw();
      if (this.box.x !== from.x || this.box.y !== from.y) this.board.sendPlace(this);
    });
  }

  addResizer(resize, done) {
    const corner = el('div', 'resize');
    corner.title = 'drag to resize';
    corner.addEventListener('pointerdown', (event) => {
      event.stopPropagation();
      event.preventDefault();
      const scale = this.board.view.scale;
      const from = [this.node.offsetWidth, this.node.offsetHeight];
      this.board.dragging = this;
      track(event, (dx, dy) => {
        resize(from[0] + dx / scale, from[1] + dy / scale);
        this.board.ropes.draw();
      }, () => {
        this.board.dragging = null;
        this.board.ropes.draw();
        done();
      });
    });
    this.node.append(corner);
  }
}

export class TerminalItem extends Item {
  constructor(board, data) {
    super(board, data);
    this.badges = el('span', 'badges');
    this.stateNode = el('span', 'badge state');
    this.title.append(this.badges, this.stateNode, el('span', 'grow'), this.actions);
    this.dismiss = confirmButton('✕', 'dismiss?', () => board.act({ op: 'dismiss', id: this.id }));
    this.title.append(this.dismiss);
    this.screenNode = el('div', 'screen');
    this.node.append(this.screenNode);
    this.screen = new Screen(this.screenNode,
      (from, count) => board.act({ op: 'history', id: this.id, from, count, quiet: true }));
    this.findBar = el('form', 'find');
    this.findBar.hidden = true;
    this.findInput = el('input');
    this.findInput.placeholder = 'find in this terminal (Enter: older, Esc: close)';
    this.findBar.append(this.findInput);
    this.node.append(this.findBar);
    this.findBar.addEventListener('submit', (e) => {
      e.preventDefault();
      this.findNext();
    });
    this.findInput.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') this.closeFind();
    });
    // A program that reads the mouse gets the presses, drags and moves over
    // its screen, and no link opens under them; with Shift they select text.
    for (const type of ['pointerdown', 'pointermove', 'pointerup']) {
      this.screenNode.addEventListener(type, (e) => this.mouse(e));
    }
    const forProgram = (e) => this.screen.mouse > 0 && !e.shiftKey && this.screen.back === 0 && board.readable();
    for (const type of ['mousedown', 'click', 'contextmenu']) {
      this.screenNode.addEventListener(type, (e) => forProgram(e) && e.preventDefault(), true);
    }
    onClick(this.screenNode, () => {
      // A drag that selected text keeps its selection; a click takes the keys.
      if (String(window.getSelection()).length === 0) board.activate(this);
    });
    this.addResizer((w, h) => this.previewSize(w, h), () => this.commitSize());
  }

  update(data) {
    this.data = data;
    const badges = data.role ? [el('span', 'badge role', data.role)] : [];
    // An asked turn counts its time in a badge of its own (see Ropes).
    if (data.busy) badges.push(el('span', 'badge busy', 'busy'));
    this.badges.replaceChildren(...badges);
    const [cls, words] = stateBadge(data);
    this.stateNode.className = `badge state ${cls}`;
    this.stateNode.textContent = words;
    this.node.dataset.attention = cls;
    this.showResume(data.state === 'held');
    // The person's own shells are not to be dismissed; a joined one has no screen here.
    if (data.persons) this.dismiss.remove();
    if (data.state === 'joined' && !this.noscreen) {
      this.noscreen = el('div', 'noscreen',
        'A shell of yours that joined the canvas (welkmora-host join). It runs in your own terminal ' +
        'window, which is where to see and type into it: the host does not hold its screen. ' +
        'Rope it to terminals and notes from here.');
      this.screenNode.replaceWith(this.noscreen);
    }
  }

  /** A held terminal (back from before a restart, its program not started) gets a button that starts it. */
  showResume(held) {
    if (held && !this.resume) {
      this.resume = el('button', 'resume', 'resume');
      this.resume.type = 'button';
      this.resume.title = 'run its command again, below its saved screen';
      this.resume.addEventListener('pointerdown', (e) => e.stopPropagation());
      this.resume.addEventListener('click', () => this.board.act({ op: 'resume', id: this.id }));
      this.actions.append(this.resume);
    } else if (!held && this.resume) {
      this.resume.remove();
      this.resume = null;
    }
  }

  /** Sends a pointer event over the screen to a program that reads the mouse. */
  mouse(event) {
    const screen = this.screen;
    const down = event.type === 'pointerdown';
    if (down) this.button = 0;
    if (!screen.mouse || event.shiftKey || screen.back > 0 || !this.board.readable()) return;
    const [row, col] = screen.cellAt(event.clientX, event.clientY);
    let button = 0, pressed = false;
    if (down) {
      button = [1, 2, 3][event.button];
      if (!button) return;
      event.preventDefault();
      this.screenNode.setPointerCapture(event.pointerId);
      this.button = button;
      pressed = true;
    } else if (event.type === 'pointerup') {
      if (!this.button) return;
      [button, this.button] = [this.button, 0];
    } else {
      // Moves go to a program that follows drags (with a button down) or every move; once per cell.
      if (screen.mouse < (this.button ? 2 : 3)) return;
      if (this.lastCell && this.lastCell[0] === row && this.lastCell[1] === col) return;
    }
    this.lastCell = [row, col];
    this.sendMouse(row, col, button, pressed, event);
  }

  sendMouse(row, col, button, pressed, event) {
    const message = { op: 'mouse', id: this.id, row, col, button, pressed, quiet: true };
    if (event.ctrlKey) message.ctrl = true;
    if (event.altKey) message.alt = true;
    this.board.act(message);
  }

  openFind() {
    this.findBar.hidden = false;
    this.findInput.focus();
    this.findInput.select();
    this.findFrom = null;
  }

  closeFind() {
    this.findBar.hidden = true;
    this.screen.found = null;
    this.screen.render();
    this.board.focus(this, true);
  }

  async findNext() {
    const text = this.findInput.value;
    if (!text) return;
    const [, scrolled] = this.screen.history;
    const start = this.findFrom ?? scrolled + this.screen.size[0] - 1;
    const line = await this.screen.find(text, start);
    this.findBar.classList.toggle('missing', line === null);
    if (line === null) {
      this.findFrom = null;
      return;
    }
    this.findFrom = line - 1;
    this.screen.show(line);
  }

  /** The rows and columns that fit a window of w by h pixels. */
  fit(w, h) {
    const cell = this.board.cell;
    const chrome = this.node.offsetHeight - this.screenNode.offsetHeight;
    const cols = Math.max(20, Math.floor((w - 12) / cell));
    const rows = Math.max(4, Math.floor((h - chrome) / ROW_HEIGHT));
    return [rows, cols];
  }

  previewSize(w, h) {
    this.pending = this.fit(w, h);
    this.screenNode.style.width = `${this.pending[1]}ch`;
    this.screenNode.style.height = `${this.pending[0] * ROW_HEIGHT}px`;
  }

  commitSize() {
    if (!this.pending) return;
    const [rows, cols] = this.pending;
    this.pending = null;
    this.box = { ...this.box, w: cols, h: rows };
    this.board.sendPlace(this);
  }
}

export class NoteItem extends Item {
  constructor(board, data) {
    super(board, data);
    this.title.append(el('span', 'grow'), this.actions);
    this.title.append(confirmButton('✕', 'delete?', () => board.act({ op: 'note-delete', id: this.id })));
    this.text = el('textarea');
    this.text.spellcheck = false;
    this.text.addEventListener('input', () => this.edited());
    this.text.addEventListener('pointerdown', (e) => {
      e.stopPropagation();
      // Too small to read: the click brings the note near first.
      if (!board.readable()) {
        e.preventDefault();
        board.activate(this);
      }
    });
    this.node.append(this.text);
    this.addResizer((w, h) => this.resizeTo(Math.max(160, w), Math.max(90, h)), () => board.sendPlace(this));
    // As tall as a terminal's window, and wide enough for a few words a line.
    this.resizeTo(360, 420);
  }

  place(box) {
    super.place(box);
    this.resizeTo(box.w || 360, box.h || 420);
  }

  resizeTo(w, h) {
    this.box.w = Math.round(w);
    this.box.h = Math.round(h);
    this.node.style.width = `${this.box.w}px`;
    this.node.style.height = `${this.box.h}px`;
  }

  update(data) {
    this.data = data;
    // Text the person is writing is not replaced under their hands.
    const typing = document.activeElement === this.text && this.node.classList.contains('unsaved');
    if (!typing && this.text.value !== data.text) this.text.value = data.text;
  }

  edited() {
    this.node.classList.add('unsaved');
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.save(), 400);
  }

  async save() {
    const text = this.text.value;
    const reply = await this.board.act({ op: 'note-write', id: this.id, text });
    if (!reply.error && this.text.value === text) this.node.classList.remove('unsaved');
  }
}
