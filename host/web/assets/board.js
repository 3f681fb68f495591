// The canvas: terminal windows and sticky notes, joined by ropes, in a view
// that shows everything at first (the overview) and brings one window near
// to read and type into. The board keeps the items as the host sends them,
// places those the host has no place for, and carries what the person does
// on the canvas (move, resize, focus, rope, cut) to the host; the view, the
// ropes, the windows and the keys are modules of their own.

import { Keyboard } from './keyboard.js';
import { GAP, neighbour, placeFree, readingOrder, tidy, tidyOrder } from './layout.js';
import { union, centre } from './geometry.js';
import { Ropes } from './ropes.js';
import { cellWidth } from './screen.js';
import { Viewport } from './viewport.js';
import { NoteItem, TerminalItem, track } from './windows.js';

/** The zoom from which a screen's text reads; below it a click brings a window near. */
export const READABLE_SCALE = 0.8;

export class Board {
  /**
   * `page.act(message)` sends a request to the host (a promise of its
   * reply), `page.tell(message)` a message without one, `page.changed()`
   * hears that items changed, `page.search()` opens the search.
   */
  constructor(page) {
    this.page = page;
    this.itemsNode = document.getElementById('items');
    this.items = new Map();
    this.focused = null;
    this.hovered = null;
    this.dragging = null;
    this.viewMoved = false;
    this.ropes = new Ropes(this);
    this.viewport = new Viewport(document.getElementById('viewport'), document.getElementById('world'),
      () => this.ropes && this.ropes.placeLabels());
    this.keyboard = new Keyboard(this);
    this.cell = cellWidth(this.itemsNode);
    this.bind();
  }

  get view() {
    return this.viewport.view;
  }

  act(message) {
    return this.page.act(message);
  }

  readable() {
    return this.view.scale >= READABLE_SCALE - 1e-6;
  }

  placed() {
    return [...this.items.values()].filter((i) => !i.unplaced);
  }

  // --- what the host says -------------------------------------------------

  snapshot(message) {
    for (const id of [...this.items.keys()]) this.remove(id);
    this.loading = true;
    for (const data of message.items) this.upsert(data);
    this.loading = false;
    this.ropes.set(message.ropes);
    // A canvas that has no places yet is laid out whole, once the windows have their sizes.
    const all = [...this.items.values()];
    this.layingOut = all.length > 0 && all.every((i) => i.unplaced);
    if (this.layingOut) {
      clearTimeout(this.layoutTimer);
      this.layoutTimer = setTimeout(() => this.layOut(), 2000);
      this.layOutWhenSized();
    }
    for (const item of all) if (item.unplaced && !item.sizedByScreen()) this.placeFree(item);
    if (!this.viewMoved) this.overview();
  }

  /** Lays out a canvas that had no places, once every window has its size. */
  layOutWhenSized() {
    if ([...this.items.values()].every((i) => !i.sizedByScreen() || i.screen.size[0] > 0)) this.layOut();
  }

  layOut() {
    clearTimeout(this.layoutTimer);
    if (!this.layingOut) return;
    this.layingOut = false;
    this.tidy();
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
    if (data.box && this.dragging !== item) {
      item.unplaced = false;
      item.node.style.visibility = '';
      item.place(data.box);
    }
    item.update(data);
    // An item with a screen is placed once it has its size, the others now.
    if (item.unplaced && !item.sizedByScreen() && !this.loading && !this.layingOut) this.placeFree(item);
    // What the person has open in front of them is read as it finishes.
    if (item === this.focused && data.attention === 'finished' && this.keyboard.typing() && !document.hidden) {
      this.seen(item);
    }
    this.ropes.draw();
    this.page.changed();
  }

  /** Puts an item the host has no place for where nothing else is, keeping the whole in the window's shape. */
  placeFree(item) {
    if (this.layingOut) return;
    item.unplaced = false;
    const others = this.placed().filter((o) => o !== item).map((o) => o.bounds());
    const [l, t, r, b] = this.viewport.free();
    const [x, y] = placeFree(item.size(), others, [r - l, b - t], GAP);
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
    if (this.hovered === item) this.hovered = null;
    this.ropes.draw();
    this.page.changed();
  }

  screen(message) {
    const item = this.items.get(message.id);
    if (!item || !item.screen) return;
    const sized = item.screen.size[0] > 0;
    item.screen.apply(message);
    if (item.unplaced) this.placeFree(item);
    if (this.layingOut && !sized) this.layOutWhenSized();
    if (!sized) this.ropes.draw();
    // Windows take their size with their first screen: show them all until
    // the person moves the view.
    if (!sized && !this.viewMoved) this.overviewSoon();
  }

  activity(m) {
    this.ropes.activity(m);
  }

  // --- the view ------------------------------------------------------------

  /** Shows every item, as large as the window allows. */
  overview() {
    const all = union(this.placed().map((i) => i.bounds()));
    this.viewMoved = false;
    this.fresh = false;
    if (all) this.viewport.fit(all);
  }

  fit() {
    this.overview();
  }

  /** A side panel opened or closed: the overview keeps to the part of the window left free. */
  panelsChanged() {
    if (!this.viewMoved) this.overview();
    this.ropes.placeLabels();
  }

  overviewSoon() {
    cancelAnimationFrame(this.fitFrame);
    this.fitFrame = requestAnimationFrame(() => !this.viewMoved && this.overview());
  }

  /** The person moved the view: it stays where they put it. */
  moved() {
    this.viewMoved = true;
    this.fresh = false;
  }

  /** Lays out every item anew in rows that fill the window's shape, none over another, and keeps the places. */
  tidy() {
    const { order, hub } = tidyOrder([...this.items.values()], this.ropes.list);
    const [l, t, r, b] = this.viewport.free();
    const places = tidy(order.map((i) => i.size()), [r - l, b - t], GAP, hub);
    order.forEach((item, i) => {
      item.unplaced = false;
      item.node.style.visibility = '';
      item.place({ x: places[i][0], y: places[i][1] });
      this.sendPlace(item, true);
    });
    this.ropes.draw();
    this.overview();
  }

  /** Centres the view on the items `ids` and outlines them for a moment. */
  show(ids) {
    const items = ids.map((id) => this.items.get(id)).filter(Boolean);
    if (!items.length) return;
    this.moved();
    this.viewport.centre(centre(union(items.map((i) => i.bounds()))));
    for (const item of items) {
      item.node.classList.add('shown');
      setTimeout(() => item.node.classList.remove('shown'), 1500);
    }
  }

  /**
   * The person clicked a window or pressed Enter on it: too small to read,
   * it comes near first (and Escape, before anything is typed, goes back to
   * the overview); it takes the keys.
   */
  activate(item) {
    const near = !this.readable();
    if (near) {
      this.viewport.focus(item.bounds(), READABLE_SCALE);
      this.moved();
    }
    this.focus(item, true);
    this.fresh = near;
  }

  /** Shows line `line` (absolute) of terminal `id`'s screen or scrollback, near enough to read. */
  reveal(id, line) {
    const item = this.items.get(id);
    if (!item || !item.screen) return;
    this.activate(item);
    item.screen.show(line);
  }

  // --- focus and the keys ----------------------------------------------

  /** Brings an item's window to the front. */
  raise(item) {
    this.topZ = (this.topZ || 0) + 1;
    item.node.style.zIndex = this.topZ;
  }

  /** Focuses `item` (null: none); with `keys`, it takes the keys too. */
  focus(item, keys = false) {
    if (this.focused && this.focused !== item) this.focused.node.classList.remove('selected', 'focused');
    this.focused = item;
    this.fresh = false;
    if (item) {
      this.raise(item);
      item.node.classList.add('selected');
    }
    this.keyboard.give(item, keys);
    if (item && keys && item.kind === 'terminal') this.seen(item);
    this.ropes.draw();
  }

  /** Moves the focus to the window that way ('left', 'right', 'up', 'down', 'next', 'previous'). */
  move(direction) {
    const boxes = new Map(this.placed().map((i) => [i.id, i.bounds()]));
    if (!boxes.size) return;
    let id;
    if (!this.focused || !boxes.has(this.focused.id)) {
      id = readingOrder(boxes)[0];
    } else if (direction === 'next' || direction === 'previous') {
      const order = readingOrder(boxes);
      const at = order.indexOf(this.focused.id);
      id = order[(at + (direction === 'next' ? 1 : order.length - 1)) % order.length];
    } else {
      id = neighbour(boxes, this.focused.id, direction);
    }
    if (!id) return;
    const item = this.items.get(id);
    this.focus(item);
    // Near a window, the next one comes near too.
    if (this.viewMoved) this.viewport.focus(item.bounds(), READABLE_SCALE);
  }

  /** Tells the host the person has looked at terminal `item`. */
  seen(item) {
    if (item.data && item.data.attention === 'finished') this.page.tell({ op: 'seen', id: item.id });
  }

  sendKeys(message) {
    if (this.focused) this.act({ ...message, id: this.focused.id });
  }

  sendPlace(item, quiet = false) {
    const { x, y, w, h } = item.box;
    this.act({ op: 'place', id: item.id, box: { x, y, w: w || 0, h: h || 0 }, quiet });
  }

  hover(node) {
    const item = node ? this.items.get(node.dataset.id) : null;
    if (item === this.hovered) return;
    this.hovered = item;
    this.ropes.draw();
  }

  // --- the pointer ---------------------------------------------------------

  bind() {
    const viewport = this.viewport.node;
    viewport.addEventListener('pointerdown', (event) => {
      if (event.target.closest('.item') || event.target === this.ropes.cutButton) return;
      if (event.target.classList && event.target.classList.contains('hit')) {
        this.ropes.select([event.target.dataset.a, event.target.dataset.b]);
        return;
      }
      this.ropes.select(null);
      this.focus(null);
      const from = { ...this.view };
      viewport.classList.add('panning');
      track(event, (dx, dy) => {
        if (dx || dy) this.moved();
        this.viewport.set({ ...from, x: from.x + dx, y: from.y + dy });
      }, () => viewport.classList.remove('panning'));
    });
    viewport.addEventListener('wheel', (event) => this.wheel(event), { passive: false });
    const buttons = {
      'zoom-in': () => this.viewport.zoomBy(1.25),
      'zoom-out': () => this.viewport.zoomBy(0.8),
      'zoom-reset': () => this.viewport.zoomBy(1 / this.view.scale),
      'zoom-fit': () => this.overview(),
      tidy: () => this.tidy(),
    };
    for (const [id, act] of Object.entries(buttons)) {
      document.getElementById(id).addEventListener('click', () => {
        if (id.startsWith('zoom-') && id !== 'zoom-fit') this.moved();
        act();
      });
    }
    this.itemsNode.addEventListener('pointerover', (e) => this.hover(e.target.closest('.item')));
    this.itemsNode.addEventListener('pointerleave', () => this.hover(null));
  }

  /** The wheel: over a screen near enough to read, its scrollback (or its program's wheel); else the zoom. */
  wheel(event) {
    const over = event.target.closest && event.target.closest('.item');
    if (!event.ctrlKey && over && this.readable()) {
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
    this.moved();
    this.viewport.zoomAt(event.clientX, event.clientY, this.view.scale * Math.exp(-event.deltaY * 0.0015));
  }
}
