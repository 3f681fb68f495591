// The canvas: a world of terminal windows and sticky notes, joined by ropes,
// that pans (drag the background) and zooms (the wheel over the background,
// or Ctrl and the wheel anywhere). The wheel over a terminal scrolls back
// through its history, as do Shift+PageUp and Shift+PageDown in the one the
// person types into; Ctrl+F finds text in it. A program that reads the
// mouse gets the clicks, drags and wheel over its screen instead, unless
// Shift is held. Items are moved by their title bars and resized by their
// corners; the item last touched comes to the front; a rope is drawn by
// dragging from an item's ring to another item and cut by clicking it.
// What the person does goes to the host; what the host says is drawn.

import { Screen, ROW_HEIGHT, cellWidth } from './screen.js';
import { keyMessage } from './keys.js';

const DOT_SPACING = 24;
const MIN_SCALE = 0.15;
/** Fit zooms out no further than this, where a screen's text still reads; it pans instead. */
const READABLE_SCALE = 0.8;
const MAX_SCALE = 2.5;

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

/** Room a rope keeps around a window it passes. */
const ROPE_CLEARANCE = 14;

/** True when the segment (x1, y1)-(x2, y2) passes through the inside of box [l, t, r, b]. */
function crosses(x1, y1, x2, y2, [l, t, r, b]) {
  // Liang-Barsky: clip the segment to the box; anything left inside is a crossing.
  let t0 = 0, t1 = 1;
  const dx = x2 - x1, dy = y2 - y1;
  for (const [p, q] of [[-dx, x1 - l], [dx, r - x1], [-dy, y1 - t], [dy, b - y1]]) {
    if (p === 0) {
      if (q <= 0) return false;
    } else {
      const u = q / p;
      if (p < 0) t0 = Math.max(t0, u);
      else t1 = Math.min(t1, u);
      if (t0 >= t1) return false;
    }
  }
  return t1 - t0 > 1e-9;
}

/**
 * The way a rope goes from the centre of box `a` to that of box `b` around
 * the boxes `others` (each [left, top, right, bottom]), as the points where
 * it turns, centres included: the shortest way over the corners of the
 * boxes, kept a little off them, in a graph of the corners that see each
 * other. The straight line when nothing is in its way or no way is free.
 */
function ropeRoute(a, b, others) {
  const centre = ([l, t, r, bt]) => [(l + r) / 2, (t + bt) / 2];
  const grow = ([l, t, r, bt], d) => [l - d, t - d, r + d, bt + d];
  const ca = centre(a), cb = centre(b);
  // The boxes in the way, a little larger than they are; corners sit just outside them.
  const walls = others.map((o) => grow(o, ROPE_CLEARANCE - 1));
  const clear = (p, q, skipA, skipB) => walls.every((w) => !crosses(p[0], p[1], q[0], q[1], w)) &&
    (skipA || !crosses(p[0], p[1], q[0], q[1], a)) && (skipB || !crosses(p[0], p[1], q[0], q[1], b));
  if (clear(ca, cb, true, true)) return [ca, cb];
  const inside = ([x, y], [l, t, r, bt]) => x > l && x < r && y > t && y < bt;
  const points = [ca, cb];
  for (const o of others) {
    const [l, t, r, bt] = grow(o, ROPE_CLEARANCE);
    for (const p of [[l, t], [r, t], [l, bt], [r, bt]]) {
      if (!walls.some((w) => inside(p, w)) && !inside(p, a) && !inside(p, b)) points.push(p);
    }
  }
  // Dijkstra over the points that see each other; 0 is a's centre, 1 b's.
  const n = points.length;
  const dist = new Array(n).fill(Infinity), prev = new Array(n).fill(-1), done = new Array(n).fill(false);
  dist[0] = 0;
  for (;;) {
    let u = -1;
    for (let i = 0; i < n; i++) if (!done[i] && dist[i] < Infinity && (u < 0 || dist[i] < dist[u])) u = i;
    if (u < 0 || u === 1) break;
    done[u] = true;
    for (let v = 0; v < n; v++) {
      if (done[v] || v === u) continue;
      const d = dist[u] + Math.hypot(points[v][0] - points[u][0], points[v][1] - points[u][1]);
      if (d >= dist[v]) continue;
      const touchesA = u === 0 || v === 0, touchesB = u === 1 || v === 1;
      if (!clear(points[u], points[v], touchesA, touchesB)) continue;
      dist[v] = d;
      prev[v] = u;
    }
  }
  if (prev[1] < 0) return [ca, cb];
  const route = [];
  for (let i = 1; i >= 0; i = prev[i]) route.unshift(points[i]);
  return route;
}

/** The SVG path through `points`. */
function pathOf(points) {
  return points.map(([x, y], i) => `${i ? 'L' : 'M'}${x.toFixed(1)} ${y.toFixed(1)}`).join(' ');
}

/** The point halfway along the polyline `points`. */
function halfway(points) {
  const lengths = points.slice(1).map((p, i) => Math.hypot(p[0] - points[i][0], p[1] - points[i][1]));
  let left = lengths.reduce((s, l) => s + l, 0) / 2;
  for (let i = 0; i < lengths.length; i++) {
    if (left <= lengths[i] && lengths[i] > 0) {
      const f = left / lengths[i];
      const [x0, y0] = points[i], [x1, y1] = points[i + 1];
      return [x0 + (x1 - x0) * f, y0 + (y1 - y0) * f];
    }
    left -= lengths[i];
  }
  return points[0];
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
    this.node.addEventListener('pointerdown', () => board.raise(this), true);
    this.handle.addEventListener('pointerdown', (e) => board.startRope(this, e));
    this.box = { x: 0, y: 0, w: 0, h: 0 };
  }

  place(box) {
    this.box = { ...this.box, ...box };
    this.node.style.left = `${box.x}px`;
    this.node.style.top = `${box.y}px`;
  }

  /** True for a terminal whose window takes its size from its first screen. */
  sizedByScreen() {
    return this.kind === 'terminal' && this.data && this.data.state !== 'joined';
  }

  center() {
    return [this.box.x + this.node.offsetWidth / 2, this.box.y + this.node.offsetHeight / 2];
  }

  /** The window's box on the canvas: [left, top, right, bottom]. */
  bounds() {
    return [this.box.x, this.box.y, this.box.x + this.node.offsetWidth, this.box.y + this.node.offsetHeight];
  }

  /** Where the line from the centre toward (x, y) leaves the window's box. */
  edgeToward(x, y) {
    const [cx, cy] = this.center();
    const hw = this.node.offsetWidth / 2, hh = this.node.offsetHeight / 2;
    const dx = x - cx, dy = y - cy;
    if (dx === 0 && dy === 0) return [cx, cy];
    const t = Math.min(dx ? hw / Math.abs(dx) : Infinity, dy ? hh / Math.abs(dy) : Infinity, 1);
    return [cx + dx * t, cy + dy * t];
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
    const forProgram = (e) => this.screen.mouse > 0 && !e.shiftKey && this.screen.back === 0;
    for (const type of ['mousedown', 'click', 'contextmenu']) {
      this.screenNode.addEventListener(type, (e) => forProgram(e) && e.preventDefault(), true);
    }
    this.screenNode.addEventListener('pointerup', () => {
      // A drag that selected text keeps its selection; a click selects the terminal.
      if (String(window.getSelection()).length === 0) board.focus(this);
    });
    this.addResizer((w, h) => this.previewSize(w, h), () => this.commitSize());
  }

  /** A held terminal (back from before a restart, its program not started) gets a button that starts it. */
  showResume(held) {
    if (held && !this.resume) {
      this.resume = el('button', 'resume', 'resume');
      this.resume.type = 'button';
      this.resume.title = 'run its command again, below its saved screen';
      this.resume.addEventListener('pointerdown', (e) => e.stopPropagation());
      this.resume.addEventListener('click', () => this.board.act({ op: 'resume', id: this.id }));
      this.dismiss.before(this.resume);
    } else if (!held && this.resume) {
      this.resume.remove();
      this.resume = null;
    }
  }

  update(data) {
    this.data = data;
    const badges = [];
    if (data.role) badges.push(['role', data.role]);
    if (data.state === 'exited') badges.push(['exited', `exited ${data.exitCode}`]);
    else badges.push([data.state, data.state]);
    if (data.busy) badges.push(['busy', 'busy']);
    this.badges.replaceChildren(...badges.map(([cls, text]) => el('span', `badge ${cls}`, text)));
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

  /** Sends a pointer event over the screen to a program that reads the mouse. */
  mouse(event) {
    const screen = this.screen;
    const down = event.type === 'pointerdown';
    if (down) this.button = 0;
    if (!screen.mouse || event.shiftKey || screen.back > 0) return;
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
    this.board.focus(this);
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
    this.screen.found = line;
    this.screen.reveal(line);
    this.screen.render();
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
    this.linesNode = document.getElementById('rope-lines');
    this.cutButton = document.getElementById('cut');
    this.keys = document.getElementById('keys');
    this.items = new Map();
    this.ropes = [];
    // Asks in flight by the asked terminal's name: {by, since}; and answers
    // on their way back, shown for a moment: {by, end, took, until}.
    this.asks = new Map();
    this.answers = new Map();
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
    this.loading = true;
    for (const data of message.items) this.upsert(data);
    this.loading = false;
    for (const item of this.items.values()) if (item.unplaced && !item.sizedByScreen()) this.placeFree(item);
    this.setRopes(message.ropes);
  }

  upsert(data) {
    let item = this.items.get(data.id);
    if (!item) {
      item = data.kind === 'terminal' ? new TerminalItem(this, data) : new NoteItem(this, data);
      this.items.set(data.id, item);
      this.itemsNode.append(item.node);
      item.unplaced = !data.box;
      if (item.unplaced) item.node.style.visibility = 'hidden';
    }
    if (data.box && !item.dragging) {
      item.unplaced = false;
      item.node.style.visibility = '';
      item.place(data.box);
    }
    item.update(data);
    // An item with a screen is placed once it has its size, the others now.
    if (item.unplaced && !item.sizedByScreen() && !this.loading) this.placeFree(item);
    this.drawRopes();
  }

  /** Puts an item the host has no place for where nothing else is, and keeps that place. */
  placeFree(item) {
    item.unplaced = false;
    const gap = 24;
    const w = item.node.offsetWidth, h = item.node.offsetHeight;
    const others = [...this.items.values()].filter((o) => o !== item && !o.unplaced)
      .map((o) => [o.box.x, o.box.y, o.box.x + o.node.offsetWidth, o.box.y + o.node.offsetHeight]);
    const free = (x, y) => others.every(([x0, y0, x1, y1]) =>
      x + w + gap <= x0 || x >= x1 + gap || y + h + gap <= y0 || y >= y1 + gap);
    // Rows as wide as the window shows at 100%, or as the widest row so far.
    const width = Math.max(this.viewport.clientWidth - 80, ...others.map((o) => o[2]), w);
    const candidates = [[0, 0]];
    for (const [, y0, x1, y1] of others) candidates.push([x1 + gap, y0], [0, y1 + gap]);
    candidates.sort((a, b) => a[1] - b[1] || a[0] - b[0]);
    const [x, y] = candidates.find(([cx, cy]) => cx + w <= width + gap && free(cx, cy)) ??
      [0, Math.max(0, ...others.map((o) => o[3] + gap))];
    item.node.style.visibility = '';
    item.place({ x, y });
    this.sendPlace(item, true);
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

  /** A rope tied (on) or cut; the host sends its ends in order. */
  setRope(a, b, on) {
    const others = this.ropes.filter((r) => r[0] !== a || r[1] !== b);
    this.setRopes(on ? [...others, [a, b]] : others);
  }

  screen(message) {
    const item = this.items.get(message.id);
    if (!item || !item.screen) return;
    const sized = item.screen.size[0] > 0;
    item.screen.apply(message);
    if (item.unplaced) this.placeFree(item);
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
      const ns = 'http://www.w3.org/2000/svg';
      const lines = [], hits = [];
      // Routes change only when a window moves or changes size.
      const boxes = new Map();
      for (const item of this.items.values()) if (!item.unplaced) boxes.set(item.id, item.bounds());
      const layout = JSON.stringify([...boxes]);
      if (layout !== this.routedLayout) {
        this.routedLayout = layout;
        this.routes = new Map();
      }
      for (const rope of this.ropes) {
        const a = this.items.get(rope[0]), b = this.items.get(rope[1]);
        if (!a || !b || !boxes.has(a.id) || !boxes.has(b.id)) continue;
        const points = this.routeOf(rope, boxes);
        const lit = [a, b].some((i) => i === this.hovered || i === this.focused);
        const selected = this.selectedRope && this.selectedRope[0] === rope[0] && this.selectedRope[1] === rope[1];
        for (const cls of ['hit', `rope${selected ? ' selected' : ''}${lit ? ' lit' : ''}`]) {
          const line = document.createElementNS(ns, 'path');
          line.setAttribute('class', cls);
          line.setAttribute('d', pathOf(points));
          line.dataset.a = rope[0];
          line.dataset.b = rope[1];
          (cls === 'hit' ? hits : lines).push(line);
        }
        if (selected) this.placeCut(...halfway(points));
        const talk = this.ropeTalk(a, b);
        if (talk) lines.push(...this.talkOnRope(talk, talk.from === a ? points : [...points].reverse()));
      }
      if (this.drawing) lines.push(this.drawing);
      this.ropesNode.replaceChildren(...hits);
      this.linesNode.replaceChildren(...lines);
      this.markPeers();
    });
  }

  /**
   * The points a rope is drawn through, from the edge of its first item to
   * that of its second, around the windows it does not join.
   */
  routeOf([ida, idb], boxes) {
    const key = `${ida}\n${idb}`;
    let points = this.routes.get(key);
    if (!points) {
      const others = [...boxes].filter(([id]) => id !== ida && id !== idb).map(([, box]) => box);
      points = ropeRoute(boxes.get(ida), boxes.get(idb), others);
      const a = this.items.get(ida), b = this.items.get(idb);
      points[0] = a.edgeToward(...points[1]);
      points[points.length - 1] = b.edgeToward(...points[points.length - 2]);
      this.routes.set(key, points);
    }
    return points;
  }

  /** An activity entry: asks start and end on their ropes. */
  activity(m) {
    if (m.event === 'ask') {
      this.asks.set(m.name, { by: m.by, since: Date.now() });
      this.answers.delete(m.name);
    } else if (m.event === 'answer') {
      this.asks.delete(m.name);
      this.answers.set(m.name, { by: m.by, end: m.end, took: m.duration, until: Date.now() + 4000 });
      setTimeout(() => this.drawRopes(), 4100);
    } else {
      return;
    }
    this.drawRopes();
    clearInterval(this.askTimer);
    // While asks run, their times go on.
    if (this.asks.size) this.askTimer = setInterval(() => this.drawRopes(), 1000);
  }

  /** The label drawn on the rope from `a` to `b`, if an ask or answer runs on it. */
  ropeTalk(a, b) {
    for (const [asker, asked] of [[a, b], [b, a]]) {
      if (asked.kind !== 'terminal' || asker.kind !== 'terminal') continue;
      const ask = this.asks.get(asked.name);
      if (ask && ask.by === asker.name) {
        // The host tells the page what was asked, in its first words.
        const words = asked.data && asked.data.asked ? ` \u201c${asked.data.asked}\u201d` : '';
        const took = Math.round((Date.now() - ask.since) / 1000);
        return { from: asker, to: asked, text: `asking ${took}s${words}`, cls: 'ask' };
      }
      const answer = this.answers.get(asked.name);
      if (answer && answer.by === asker.name && answer.until > Date.now()) {
        const why = { prompt: '', input: ', awaiting input' }[answer.end] ?? `, ${answer.end}`;
        const text = `answered in ${answer.took}${why}`;
        return { from: asked, to: asker, text, cls: 'answer' };
      }
    }
    return null;
  }

  /** Centres the view on the items `ids` and outlines them for a moment. */
  show(ids) {
    const items = ids.map((id) => this.items.get(id)).filter(Boolean);
    if (!items.length) return;
    const [cx, cy] = items.map((i) => i.center()).reduce((s, c) => [s[0] + c[0], s[1] + c[1]]);
    const r = this.viewport.getBoundingClientRect();
    this.view = { ...this.view, x: r.width / 2 - (cx / items.length) * this.view.scale,
      y: r.height / 2 - (cy / items.length) * this.view.scale };
    this.viewMoved = true;
    this.applyView();
    for (const item of items) {
      item.node.classList.add('shown');
      setTimeout(() => item.node.classList.remove('shown'), 1500);
    }
  }

  /** Outlines the peers of the hovered or focused item. */
  markPeers() {
    const near = this.hovered || this.focused;
    for (const item of this.items.values()) {
      const peer = !!near && item !== near && this.ropes.some((r) =>
        (r[0] === near.id && r[1] === item.id) || (r[1] === near.id && r[0] === item.id));
      item.node.classList.toggle('peer', peer);
    }
  }

  /** An ask (asker to asked) or answer (back) drawn along its rope's `points`: a moving dash and a label. */
  talkOnRope({ from, to, text, cls }, points) {
    const ns = 'http://www.w3.org/2000/svg';
    const line = document.createElementNS(ns, 'path');
    line.setAttribute('class', `talk ${cls}`);
    line.setAttribute('d', pathOf(points));
    const [x, y] = halfway(points);
    const label = document.createElementNS(ns, 'text');
    label.setAttribute('class', `talk-label ${cls}`);
    label.setAttribute('x', x);
    label.setAttribute('y', y - 8);
    label.textContent = `${from.name} \u2192 ${to.name}: ${text}`;
    const badge = to.node.querySelector('.badge.busy');
    if (badge && cls === 'ask') badge.textContent = `busy ${text.replace(/^asking (\S+).*$/, '$1')}`;
    return [line, label];
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
    const scale = Math.min(1, Math.max(READABLE_SCALE, Math.min((r.width - 40) / (x1 - x0), (r.height - 40) / (y1 - y0))));
    this.view = { x: 20 - x0 * scale, y: 20 - y0 * scale, scale };
    this.applyView();
  }

  /** Lays out every item anew in rows, none over another, and keeps the places. */
  tidy() {
    const order = [...this.items.values()].sort((a, b) =>
      (a.kind === b.kind ? 0 : a.kind === 'terminal' ? -1 : 1) || a.name.localeCompare(b.name));
    for (const item of order) item.unplaced = true;
    for (const item of order) this.placeFree(item);
    this.drawRopes();
    this.fit();
  }

  // --- the person's keys ---------------------------------------------------

  hover(node) {
    const item = node ? this.items.get(node.dataset.id) : null;
    if (item === this.hovered) return;
    this.hovered = item;
    this.drawRopes();
  }

  /** Brings an item's window to the front. */
  raise(item) {
    this.topZ = (this.topZ || 0) + 1;
    item.node.style.zIndex = this.topZ;
  }

  focus(item) {
    if (this.focused) this.focused.node.classList.remove('focused');
    this.focused = item;
    this.drawRopes();
    if (item) {
      this.raise(item);
      item.node.classList.add('focused');
      this.keys.focus({ preventScroll: true });
    } else {
      this.keys.blur();
    }
  }

  sendKeys(message) {
    if (this.focused) this.act({ ...message, id: this.focused.id });
  }

  sendPlace(item, quiet = false) {
    const { x, y, w, h } = item.box;
    this.act({ op: 'place', id: item.id, box: { x, y, w: w || 0, h: h || 0 }, quiet });
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
      const over = event.target.closest && event.target.closest('.item');
      if (!event.ctrlKey && over) {
        const item = this.items.get(over.dataset.id);
        // A note's text scrolls as text; a terminal's screen through its history.
        if (!item || !item.screen || !event.target.closest('.screen')) return;
        event.preventDefault();
        // Shift turns a wheel sideways in some browsers.
        const delta = event.deltaY || (event.shiftKey ? event.deltaX : 0);
        const lines = event.deltaMode === 1 ? delta : delta / 16;
        const steps = Math.sign(lines) * Math.max(1, Math.round(Math.abs(lines)));
        if (item.screen.mouse && !event.shiftKey && item.screen.back === 0) {
          // A program that reads the mouse gets the wheel (buttons 4 up, 5 down), a few notches at most.
          const [row, col] = item.screen.cellAt(event.clientX, event.clientY);
          for (let i = 0; i < Math.min(Math.abs(steps), 5); i++) item.sendMouse(row, col, steps < 0 ? 4 : 5, true, event);
          return;
        }
        item.screen.scrollBy(-steps);
        return;
      }
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
    document.getElementById('tidy').addEventListener('click', () => this.tidy());
    this.itemsNode.addEventListener('pointerover', (e) => this.hover(e.target.closest('.item')));
    this.itemsNode.addEventListener('pointerleave', () => this.hover(null));

    this.keys.addEventListener('keydown', (event) => {
      if (event.isComposing || !this.focused) return;
      const screen = this.focused.screen;
      if (screen && event.shiftKey && (event.key === 'PageUp' || event.key === 'PageDown')) {
        event.preventDefault();
        screen.scrollBy((event.key === 'PageUp' ? 1 : -1) * Math.max(1, screen.size[0] - 1));
        return;
      }
      if (screen && event.ctrlKey && !event.altKey && event.key.toLowerCase() === 'f') {
        event.preventDefault();
        this.focused.openFind();
        return;
      }
      const message = keyMessage(event);
      if (!message) return;
      event.preventDefault();
      if (screen) screen.bottom();
      this.sendKeys(message);
    });
    this.keys.addEventListener('paste', (event) => {
      event.preventDefault();
      const text = event.clipboardData.getData('text/plain');
      if (text) this.sendKeys({ op: 'paste', text });
    });
    this.keys.addEventListener('input', (event) => {
      if (event.isComposing) return;
      if (this.focused && this.focused.screen) this.focused.screen.bottom();
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
