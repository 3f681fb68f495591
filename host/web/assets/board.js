// The canvas: a world of terminal windows and sticky notes, joined by ropes,
// that pans (drag the background) and zooms (the wheel). Items are moved by
// their title bars and resized by their corners; a rope is drawn by dragging
// from an item's ring to another item and cut by clicking it. What the
// person does goes to the host; what the host says is drawn.

import { Screen, ROW_HEIGHT, cellWidth } from './screen.js';
import { keyMessage } from './keys.js';

const DOT_SPACING = 24;
const MIN_SCALE = 0.15;
const MAX_SCALE = 2.5;

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

/** Calls move(dx, dy) in screen pixels while the pointer is down, then end(). */
function track(event, move, end) {
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

class Item {
  constructor(board, data) {
    this.board = board;
    this.id = data.id;
    this.kind = data.kind;
    this.name = data.name;
    this.node = el('div', `item ${data.kind}`);
    this.node.dataset.id = data.id;
    this.title = el('div', 'titlebar');
    this.handle = el('span', 'handle');
    this.handle.title = 'drag to another item to rope them';
    this.nameNode = el('span', 'name', data.name);
    this.title.append(this.handle, this.nameNode);
    this.node.append(this.title);
    this.title.addEventListener('pointerdown', (e) => this.startMove(e));
    this.handle.addEventListener('pointerdown', (e) => board.startRope(this, e));
    this.box = { x: 0, y: 0, w: 0, h: 0 };
  }

  place(box) {
    this.box = { ...box };
    this.node.style.left = `${box.x}px`;
    this.node.style.top = `${box.y}px`;
  }

  center() {
    return [this.box.x + this.node.offsetWidth / 2, this.box.y + this.node.offsetHeight / 2];
  }

  startMove(event) {
    if (event.target.closest('button') || event.target === this.handle) return;
    event.stopPropagation();
    event.preventDefault();
    const from = { ...this.box };
    const scale = this.board.view.scale;
    this.dragging = true;
    track(event, (dx, dy) => {
      this.place({ ...from, x: Math.round(from.x + dx / scale), y: Math.round(from.y + dy / scale) });
      this.board.drawRopes();
    }, () => {
      this.dragging = false;
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
      this.dragging = true;
      track(event, (dx, dy) => {
        resize(from[0] + dx / scale, from[1] + dy / scale);
        this.board.drawRopes();
      }, () => {
        this.dragging = false;
        done();
      });
    });
    this.node.append(corner);
  }
}

class TerminalItem extends Item {
  constructor(board, data) {
    super(board, data);
    this.badges = el('span', 'badges');
    this.title.append(this.badges, el('span', 'grow'));
    this.dismiss = confirmButton('✕', 'dismiss?', () => board.act({ op: 'dismiss', id: this.id }));
    this.title.append(this.dismiss);
    this.screenNode = el('div', 'screen');
    this.node.append(this.screenNode);
    this.screen = new Screen(this.screenNode);
    this.screenNode.addEventListener('pointerup', () => {
      // A drag that selected text keeps its selection; a click selects the terminal.
      if (String(window.getSelection()).length === 0) board.focus(this);
    });
    this.addResizer((w, h) => this.previewSize(w, h), () => this.commitSize());
  }

  update(data) {
    this.data = data;
    const badges = [];
    if (data.role) badges.push(['role', data.role]);
    if (data.state === 'exited') badges.push(['exited', `exited ${data.exitCode}`]);
    else badges.push([data.state, data.state]);
    if (data.busy) badges.push(['busy', 'busy']);
    this.badges.replaceChildren(...badges.map(([cls, text]) => el('span', `badge ${cls}`, text)));
    // The person's own shells are not to be dismissed; a joined one has no screen here.
    if (data.persons) this.dismiss.remove();
    if (data.state === 'joined' && !this.noscreen) {
      this.noscreen = el('div', 'noscreen', 'a shell of the person\u2019s own: its screen is not on the host');
      this.screenNode.replaceWith(this.noscreen);
    }
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

class NoteItem extends Item {
  constructor(board, data) {
    super(board, data);
    this.title.append(el('span', 'grow'));
    this.title.append(confirmButton('✕', 'delete?', () => board.act({ op: 'note-delete', id: this.id })));
    this.text = el('textarea');
    this.text.spellcheck = false;
    this.text.addEventListener('input', () => this.edited());
    this.text.addEventListener('pointerdown', (e) => e.stopPropagation());
    this.node.append(this.text);
    this.addResizer((w, h) => this.size(Math.max(160, w), Math.max(90, h)), () => board.sendPlace(this));
  }

  place(box) {
    super.place(box);
    this.size(box.w || 260, box.h || 200);
  }

  size(w, h) {
    this.box.w = Math.round(w);
    this.box.h = Math.round(h);
    this.node.style.width = `${this.box.w}px`;
    this.node.style.height = `${this.box.h}px`;
  }

  update(data) {
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

export class Board {
  constructor(page) {
    this.page = page;
    this.viewport = document.getElementById('viewport');
    this.world = document.getElementById('world');
    this.itemsNode = document.getElementById('items');
    this.ropesNode = document.getElementById('ropes');
    this.cutButton = document.getElementById('cut');
    this.keys = document.getElementById('keys');
    this.items = new Map();
    this.ropes = [];
    this.view = { x: 40, y: 30, scale: 1 };
    this.focused = null;
    this.selectedRope = null;
    this.cell = cellWidth(this.itemsNode);
    this.bind();
    this.applyView();
  }

  act(message) {
    return this.page.act(message);
  }

  // --- what the host says -------------------------------------------------

  snapshot(message) {
    for (const id of [...this.items.keys()]) this.remove(id);
    for (const data of message.items) this.upsert(data);
    this.setRopes(message.ropes);
  }

  upsert(data) {
    let item = this.items.get(data.id);
    if (!item) {
      item = data.kind === 'terminal' ? new TerminalItem(this, data) : new NoteItem(this, data);
      this.items.set(data.id, item);
      this.itemsNode.append(item.node);
    }
    if (!item.dragging) item.place(data.box);
    item.update(data);
    this.drawRopes();
  }

  remove(id) {
    const item = this.items.get(id);
    if (!item) return;
    item.node.remove();
    this.items.delete(id);
    if (this.focused === item) this.focus(null);
    this.drawRopes();
  }

  setRopes(ropes) {
    this.ropes = ropes;
    if (this.selectedRope && !ropes.some((r) => r[0] === this.selectedRope[0] && r[1] === this.selectedRope[1])) {
      this.selectRope(null);
    }
    this.drawRopes();
  }

  screen(message) {
    const item = this.items.get(message.id);
    if (!item || !item.screen) return;
    const sized = item.screen.size[0] > 0;
    item.screen.apply(message);
    this.drawRopes();
    // Windows take their size with their first screen: show them all until
    // the person moves the view.
    if (!sized && !this.viewMoved) this.fitSoon();
  }

  fitSoon() {
    cancelAnimationFrame(this.fitFrame);
    this.fitFrame = requestAnimationFrame(() => this.fit());
  }

  // --- ropes ---------------------------------------------------------------

  drawRopes() {
    if (this.ropeFrame) return;
    this.ropeFrame = requestAnimationFrame(() => {
      this.ropeFrame = 0;
      const lines = [];
      for (const rope of this.ropes) {
        const a = this.items.get(rope[0]), b = this.items.get(rope[1]);
        if (!a || !b) continue;
        const [x1, y1] = a.center(), [x2, y2] = b.center();
        const selected = this.selectedRope && this.selectedRope[0] === rope[0] && this.selectedRope[1] === rope[1];
        for (const cls of ['hit', selected ? 'rope selected' : 'rope']) {
          const line = document.createElementNS('http://www.w3.org/2000/svg', 'line');
          line.setAttribute('class', cls);
          line.setAttribute('x1', x1);
          line.setAttribute('y1', y1);
          line.setAttribute('x2', x2);
          line.setAttribute('y2', y2);
          line.dataset.a = rope[0];
          line.dataset.b = rope[1];
          lines.push(line);
        }
        if (selected) this.placeCut((x1 + x2) / 2, (y1 + y2) / 2);
      }
      if (this.drawing) lines.push(this.drawing);
      this.ropesNode.replaceChildren(...lines);
    });
  }

  selectRope(rope) {
    this.selectedRope = rope;
    this.cutButton.hidden = !rope;
    this.drawRopes();
  }

  placeCut(x, y) {
    this.cutButton.style.left = `${x}px`;
    this.cutButton.style.top = `${y}px`;
  }

  startRope(from, event) {
    event.stopPropagation();
    event.preventDefault();
    const line = document.createElementNS('http://www.w3.org/2000/svg', 'line');
    line.setAttribute('class', 'drawing');
    this.drawing = line;
    const [x1, y1] = from.center();
    line.setAttribute('x1', x1);
    line.setAttribute('y1', y1);
    let target = null;
    const over = (e) => {
      const node = document.elementFromPoint(e.clientX, e.clientY);
      const item = node && node.closest('.item') && this.items.get(node.closest('.item').dataset.id);
      return item && item !== from ? item : null;
    };
    track(event, (dx, dy, e) => {
      const [x2, y2] = this.toWorld(e.clientX, e.clientY);
      line.setAttribute('x2', x2);
      line.setAttribute('y2', y2);
      if (target) target.node.classList.remove('drop-target');
      target = over(e);
      if (target) target.node.classList.add('drop-target');
      this.drawRopes();
    }, (e) => {
      if (target) target.node.classList.remove('drop-target');
      this.drawing = null;
      this.drawRopes();
      const to = over(e);
      if (to) this.act({ op: 'connect', a: from.id, b: to.id });
    });
  }

  // --- the view ------------------------------------------------------------

  toWorld(clientX, clientY) {
    const r = this.viewport.getBoundingClientRect();
    return [(clientX - r.left - this.view.x) / this.view.scale, (clientY - r.top - this.view.y) / this.view.scale];
  }

  applyView() {
    const { x, y, scale } = this.view;
    this.world.style.transform = `translate(${x}px, ${y}px) scale(${scale})`;
    this.viewport.style.backgroundSize = `${DOT_SPACING * scale}px ${DOT_SPACING * scale}px`;
    this.viewport.style.backgroundPosition = `${x}px ${y}px`;
    document.getElementById('zoom-reset').textContent = `${Math.round(scale * 100)}%`;
  }

  zoomAt(clientX, clientY, scale) {
    scale = Math.min(MAX_SCALE, Math.max(MIN_SCALE, scale));
    const r = this.viewport.getBoundingClientRect();
    const [wx, wy] = this.toWorld(clientX, clientY);
    this.view = { x: clientX - r.left - wx * scale, y: clientY - r.top - wy * scale, scale };
    this.applyView();
  }

  zoomBy(factor) {
    const r = this.viewport.getBoundingClientRect();
    this.zoomAt(r.left + r.width / 2, r.top + r.height / 2, this.view.scale * factor);
  }

  fit() {
    if (this.items.size === 0) return;
    let [x0, y0, x1, y1] = [Infinity, Infinity, -Infinity, -Infinity];
    for (const item of this.items.values()) {
      x0 = Math.min(x0, item.box.x);
      y0 = Math.min(y0, item.box.y);
      x1 = Math.max(x1, item.box.x + item.node.offsetWidth);
      y1 = Math.max(y1, item.box.y + item.node.offsetHeight);
    }
    const r = this.viewport.getBoundingClientRect();
    const scale = Math.min(1, Math.max(MIN_SCALE, Math.min((r.width - 40) / (x1 - x0), (r.height - 40) / (y1 - y0))));
    this.view = { x: 20 - x0 * scale, y: 20 - y0 * scale, scale };
    this.applyView();
  }

  // --- the person's keys ---------------------------------------------------

  focus(item) {
    if (this.focused) this.focused.node.classList.remove('focused');
    this.focused = item;
    if (item) {
      item.node.classList.add('focused');
      this.keys.focus({ preventScroll: true });
    } else {
      this.keys.blur();
    }
  }

  sendKeys(message) {
    if (this.focused) this.act({ ...message, id: this.focused.id });
  }

  sendPlace(item) {
    const { x, y, w, h } = item.box;
    this.act({ op: 'place', id: item.id, box: { x, y, w: w || 0, h: h || 0 } });
  }

  bind() {
    this.viewport.addEventListener('pointerdown', (event) => {
      if (event.target.closest('.item') || event.target === this.cutButton) return;
      if (event.target.classList && event.target.classList.contains('hit')) {
        this.selectRope([event.target.dataset.a, event.target.dataset.b]);
        return;
      }
      this.selectRope(null);
      this.focus(null);
      this.viewMoved = true;
      const from = { ...this.view };
      this.viewport.classList.add('panning');
      track(event, (dx, dy) => {
        this.view = { ...from, x: from.x + dx, y: from.y + dy };
        this.applyView();
      }, () => this.viewport.classList.remove('panning'));
    });
    this.viewport.addEventListener('wheel', (event) => {
      event.preventDefault();
      this.viewMoved = true;
      this.zoomAt(event.clientX, event.clientY, this.view.scale * Math.exp(-event.deltaY * 0.0015));
    }, { passive: false });
    this.cutButton.addEventListener('click', () => {
      const [a, b] = this.selectedRope;
      this.selectRope(null);
      this.act({ op: 'cut', a, b });
    });
    document.getElementById('zoom-in').addEventListener('click', () => this.zoomBy(1.25));
    document.getElementById('zoom-out').addEventListener('click', () => this.zoomBy(0.8));
    document.getElementById('zoom-reset').addEventListener('click', () => this.zoomBy(1 / this.view.scale));
    document.getElementById('zoom-fit').addEventListener('click', () => this.fit());

    this.keys.addEventListener('keydown', (event) => {
      if (event.isComposing || !this.focused) return;
      const message = keyMessage(event);
      if (!message) return;
      event.preventDefault();
      this.sendKeys(message);
    });
    this.keys.addEventListener('paste', (event) => {
      event.preventDefault();
      const text = event.clipboardData.getData('text/plain');
      if (text) this.sendKeys({ op: 'paste', text });
    });
    this.keys.addEventListener('input', (event) => {
      if (event.isComposing) return;
      if (this.keys.value) this.sendKeys({ op: 'text', text: this.keys.value });
      this.keys.value = '';
    });
    this.keys.addEventListener('blur', () => {
      if (this.focused) this.focused.node.classList.remove('focused');
    });
    this.keys.addEventListener('focus', () => {
      if (this.focused) this.focused.node.classList.add('focused');
    });
  }
}
