// The ropes on the canvas: each drawn along its route (routing.js), above
// the windows, faint until an item it joins is hovered or focused; then it
// is drawn in full, the item's peers are outlined and every other rope is
// dimmed. A rope is drawn by dragging from an item's ring onto another item,
// and cut by clicking it, then "✂ cut". An ask in flight runs on its rope
// as a moving dash from asker to asked, and its answer back for a moment,
// each labelled with who asks whom and how long; labels keep to the screen's
// size at any zoom and sit on their own rope, off the windows and inside
// the view.

import { centre, edgeToward } from './geometry.js';
import { labelSpot, pathOf, ropeKey, routeRopes } from './routing.js';
import { track } from './windows.js';

const SVG = 'http://www.w3.org/2000/svg';
/** Ropes are routed again at most this often (ms). */
const ROUTING_INTERVAL = 150;

function path(cls, points, rope) {
  const line = document.createElementNS(SVG, 'path');
  line.setAttribute('class', cls);
  line.setAttribute('d', pathOf(points));
  if (rope) {
    line.dataset.a = rope[0];
    line.dataset.b = rope[1];
  }
  return line;
}

export class Ropes {
  constructor(board) {
    this.board = board;
    this.hitsNode = document.getElementById('ropes');
    this.linesNode = document.getElementById('rope-lines');
    this.labelsNode = document.getElementById('rope-labels');
    this.cutButton = document.getElementById('cut');
    this.list = [];
    this.routes = new Map();
    this.routedLayout = '';
    this.routedBoxes = new Map();
    this.selected = null;
    this.drawing = null;
    // Asks in flight by the asked terminal's name: {by, since}; and answers
    // on their way back, shown for a moment: {by, end, took, until}.
    this.asks = new Map();
    this.answers = new Map();
    this.talk = [];
    this.cutButton.addEventListener('click', () => {
      const [a, b] = this.selected;
      this.select(null);
      board.act({ op: 'cut', a, b });
    });
  }

  set(ropes) {
    this.list = ropes;
    if (this.selected && !ropes.some((r) => r[0] === this.selected[0] && r[1] === this.selected[1])) this.select(null);
    this.draw();
  }

  /** A rope tied (on) or cut; the host sends its ends in order. */
  tie(a, b, on) {
    const others = this.list.filter((r) => r[0] !== a || r[1] !== b);
    this.set(on ? [...others, [a, b]] : others);
  }

  /** True when the rope joins `item`. */
  static joins(rope, item) {
    return !!item && (rope[0] === item.id || rope[1] === item.id);
  }

  /** True when the ropes drawn are routed for the windows as they are. */
  settled() {
    return !this.frame && !this.behind;
  }

  /** Draws the ropes at the next frame. */
  draw() {
    if (this.frame) return;
    this.frame = requestAnimationFrame(() => {
      this.frame = 0;
      this.drawNow();
    });
  }

  /**
   * The routes for the windows as they are now. Routing takes some tens of
   * milliseconds for a large canvas, so it runs at most every
   * ROUTING_INTERVAL: in between (a window dragged, or windows sized as
   * their screens come), the last routes stay and the ropes of a window
   * that moved run straight.
   */
  route(boxes) {
    const layout = JSON.stringify([[...boxes], this.list]);
    if (layout === this.routedLayout) return this.routes;
    const wait = ROUTING_INTERVAL - (performance.now() - (this.routedAt || -Infinity));
    if (wait > 0) {
      this.behind = true;
      clearTimeout(this.routeTimer);
      this.routeTimer = setTimeout(() => this.draw(), wait);
      const routes = new Map();
      for (const rope of this.list) {
        if (!boxes.has(rope[0]) || !boxes.has(rope[1])) continue;
        const key = ropeKey(rope), a = boxes.get(rope[0]), b = boxes.get(rope[1]);
        const moved = rope.some((id) => JSON.stringify(boxes.get(id)) !== JSON.stringify(this.routedBoxes.get(id)));
        routes.set(key, !moved && this.routes.has(key) ? this.routes.get(key)
          : [edgeToward(a, centre(b)), edgeToward(b, centre(a))]);
      }
      return routes;
    }
    this.routes = routeRopes(this.list, boxes);
    this.behind = false;
    this.routedLayout = layout;
    this.routedBoxes = boxes;
    this.routedAt = performance.now();
    return this.routes;
  }

  drawNow() {
    const board = this.board;
    const boxes = new Map();
    for (const item of board.items.values()) if (!item.unplaced) boxes.set(item.id, item.bounds());
    const routes = this.route(boxes);
    const near = board.hovered || board.focused;
    const lines = [], hits = [];
    this.talk = [];
    for (const rope of this.list) {
      const points = routes.get(ropeKey(rope));
      if (!points) continue;
      const a = board.items.get(rope[0]), b = board.items.get(rope[1]);
      const lit = Ropes.joins(rope, near);
      const selected = this.selected && this.selected[0] === rope[0] && this.selected[1] === rope[1];
      hits.push(path('hit', points, rope));
      // Hovering a window dims the ropes of the others.
      const state = selected ? ' selected' : lit ? ' lit' : board.hovered ? ' dim' : '';
      lines.push(path(`rope${state}`, points, rope));
      if (selected) this.placeCut(points);
      const talk = this.ropeTalk(a, b);
      if (talk) {
        const along = talk.from === a ? points : [...points].reverse();
        lines.push(path(`talk ${talk.cls}`, along, rope));
        this.talk.push({ ...talk, points: along, rope });
      }
    }
    if (this.drawing) lines.push(this.drawing);
    this.hitsNode.replaceChildren(...hits);
    this.linesNode.replaceChildren(...lines);
    this.markPeers(near);
    this.placeLabels();
  }

  /** Puts the labels of the asks on their ropes, in the viewport's pixels: again whenever the view changes. */
  placeLabels() {
    if (!this.talk.length && !this.labelsNode.firstChild) return;
    const board = this.board;
    const view = board.viewport;
    const labels = this.talk.map(({ from, to, text, cls, rope }) => {
      const label = document.createElement('div');
      label.className = `talk-label ${cls}`;
      [label.dataset.a, label.dataset.b] = rope;
      label.textContent = `${from.name} \u2192 ${to.name}: ${text}`;
      return label;
    });
    this.labelsNode.replaceChildren(...labels);
    if (!labels.length) return;
    const windows = [...board.items.values()].filter((i) => !i.unplaced)
      .map((i) => i.bounds()).map(([l, t, r, b]) => [...view.toScreen([l, t]), ...view.toScreen([r, b])]);
    const area = view.free();
    labels.forEach((label, i) => {
      const size = [label.offsetWidth + 4, label.offsetHeight + 4];
      const [x, y] = labelSpot(this.talk[i].points.map((p) => view.toScreen(p)), size, windows, area);
      label.style.left = `${Math.round(x - size[0] / 2 + 2)}px`;
      label.style.top = `${Math.round(y - size[1] / 2 + 2)}px`;
      // What follows takes the room this one took.
      windows.push([x - size[0] / 2, y - size[1] / 2, x + size[0] / 2, y + size[1] / 2]);
    });
  }

  /** Outlines the peers of the hovered or focused item. */
  markPeers(near) {
    const peers = new Set();
    if (near) for (const r of this.list) if (Ropes.joins(r, near)) peers.add(r[0] === near.id ? r[1] : r[0]);
    for (const item of this.board.items.values()) item.node.classList.toggle('peer', peers.has(item.id));
  }

  /** An activity entry: asks start and end on their ropes. */
  activity(m) {
    if (m.event === 'ask') {
      this.asks.set(m.name, { by: m.by, since: Date.now() });
      this.answers.delete(m.name);
    } else if (m.event === 'answer') {
      this.asks.delete(m.name);
      this.answers.set(m.name, { by: m.by, end: m.end, took: m.duration, until: Date.now() + 4000 });
      setTimeout(() => this.draw(), 4100);
    } else {
      return;
    }
    this.draw();
    clearInterval(this.askTimer);
    // While asks run, their times go on.
    if (this.asks.size) this.askTimer = setInterval(() => this.draw(), 1000);
  }

  /** The talk on the rope between `a` and `b`, if an ask or answer runs on it: {from, to, text, cls}. */
  ropeTalk(a, b) {
    for (const [asker, asked] of [[a, b], [b, a]]) {
      if (asked.kind !== 'terminal' || asker.kind !== 'terminal') continue;
      const ask = this.asks.get(asked.name);
      if (ask && ask.by === asker.name) {
        // The host tells the page what was asked, in its first words.
        const words = asked.data && asked.data.asked ? ` \u201c${asked.data.asked}\u201d` : '';
        const took = Math.round((Date.now() - ask.since) / 1000);
        const badge = asked.node.querySelector('.badge.busy');
        if (badge) badge.textContent = `busy ${took}s`;
        return { from: asker, to: asked, text: `asking ${took}s${words}`, cls: 'ask' };
      }
      const answer = this.answers.get(asked.name);
      if (answer && answer.by === asker.name && answer.until > Date.now()) {
        const why = { prompt: '', input: ', awaiting input' }[answer.end] ?? `, ${answer.end}`;
        return { from: asked, to: asker, text: `answered in ${answer.took}${why}`, cls: 'answer' };
      }
    }
    return null;
  }

  select(rope) {
    this.selected = rope;
    this.cutButton.hidden = !rope;
    this.draw();
  }

  placeCut(points) {
    const [x, y] = points[Math.floor(points.length / 2)];
    const [u, v] = points[Math.floor((points.length - 1) / 2)];
    this.cutButton.style.left = `${(x + u) / 2}px`;
    this.cutButton.style.top = `${(y + v) / 2}px`;
  }

  startRope(from, event) {
    event.stopPropagation();
    event.preventDefault();
    const board = this.board;
    const line = document.createElementNS(SVG, 'line');
    line.setAttribute('class', 'drawing');
    this.drawing = line;
    const [l, t, r, b] = from.bounds();
    line.setAttribute('x1', (l + r) / 2);
    line.setAttribute('y1', (t + b) / 2);
    let target = null;
    const over = (e) => {
      const node = document.elementFromPoint(e.clientX, e.clientY);
      const item = node && node.closest('.item') && board.items.get(node.closest('.item').dataset.id);
      return item && item !== from ? item : null;
    };
    track(event, (dx, dy, e) => {
      const [x2, y2] = board.viewport.toWorld(e.clientX, e.clientY);
      line.setAttribute('x2', x2);
      line.setAttribute('y2', y2);
      if (target) target.node.classList.remove('drop-target');
      target = over(e);
      if (target) target.node.classList.add('drop-target');
      this.draw();
    }, (e) => {
      if (target) target.node.classList.remove('drop-target');
      this.drawing = null;
      this.draw();
      const to = over(e);
      if (to) board.act({ op: 'connect', a: from.id, b: to.id });
    });
  }
}
