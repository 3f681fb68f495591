// The view of the canvas: which part of it shows, at which zoom. It pans
// (drag the background), zooms (the wheel over the background, Ctrl and the
// wheel anywhere, the buttons), fits everything in the window (the
// overview), and brings one window near at a size to read.

import { fitView, focusView } from './layout.js';

const DOT_SPACING = 24;
const MIN_SCALE = 0.05;
const MAX_SCALE = 2.5;

export class Viewport {
  /** `node` shows `world`; `changed()` hears every change of the view. */
  constructor(node, world, changed) {
    this.node = node;
    this.world = world;
    this.changed = changed;
    this.view = { x: 40, y: 30, scale: 1 };
    this.zoomLabel = document.getElementById('zoom-reset');
    this.dots = document.getElementById('dots');
    this.apply();
  }

  /** The part of the viewport that is not under a panel: [left, top, right, bottom], in its pixels. */
  free() {
    const w = this.node.clientWidth, h = this.node.clientHeight;
    let right = w;
    for (const panel of document.querySelectorAll('.side-panel:not([hidden])')) {
      right = Math.min(right, panel.getBoundingClientRect().left - this.node.getBoundingClientRect().left);
    }
    return [0, 0, Math.max(right, w / 3), h];
  }

  /** The part of the canvas in view: [left, top, right, bottom], in the canvas's pixels. */
  visible() {
    const [l, t, r, b] = this.free();
    const { x, y, scale } = this.view;
    return [(l - x) / scale, (t - y) / scale, (r - x) / scale, (b - y) / scale];
  }

  toWorld(clientX, clientY) {
    const r = this.node.getBoundingClientRect();
    return [(clientX - r.left - this.view.x) / this.view.scale, (clientY - r.top - this.view.y) / this.view.scale];
  }

  /** Where the canvas point [x, y] shows, in the viewport's pixels. */
  toScreen([x, y]) {
    return [x * this.view.scale + this.view.x, y * this.view.scale + this.view.y];
  }

  set(view) {
    const scale = Math.min(MAX_SCALE, Math.max(MIN_SCALE, view.scale));
    // While the view only moves, the canvas is a layer of its own, which
    // the compositor moves without drawing the windows again; once it
    // rests, or the zoom changes, it is drawn anew at its zoom, sharp (a
    // layer keeps the zoom it was drawn at).
    const moving = scale === this.view.scale;
    this.world.classList.toggle('moving', moving);
    clearTimeout(this.restTimer);
    if (moving) this.restTimer = setTimeout(() => this.world.classList.remove('moving'), 300);
    this.view = { ...view, scale };
    this.apply();
  }

  apply() {
    const { x, y, scale } = this.view;
    this.world.style.transform = `translate(${x}px, ${y}px) scale(${scale})`;
    // The dots move within one spacing, as a layer of their own: moving the
    // view draws nothing anew, only a zoom draws them again.
    const spacing = DOT_SPACING * scale;
    const shift = (v) => (((v % spacing) + spacing) % spacing) - spacing;
    this.dots.style.backgroundSize = `${spacing}px ${spacing}px`;
    this.dots.style.transform = `translate(${shift(x)}px, ${shift(y)}px)`;
    const zoom = `${Math.round(scale * 100)}%`;
    if (this.zoomLabel.textContent !== zoom) this.zoomLabel.textContent = zoom;
    this.changed();
  }

  zoomAt(clientX, clientY, scale) {
    scale = Math.min(MAX_SCALE, Math.max(MIN_SCALE, scale));
    const r = this.node.getBoundingClientRect();
    const [wx, wy] = this.toWorld(clientX, clientY);
    this.set({ x: clientX - r.left - wx * scale, y: clientY - r.top - wy * scale, scale });
  }

  zoomBy(factor) {
    const r = this.node.getBoundingClientRect();
    this.zoomAt(r.left + r.width / 2, r.top + r.height / 2, this.view.scale * factor);
  }

  /** Shows `bounds` (a box on the canvas) whole, centred in the free part of the viewport. */
  fit(bounds) {
    const [l, t, r, b] = this.free();
    const view = fitView(bounds, [r - l, b - t], { least: MIN_SCALE, most: 1 });
    this.set({ ...view, x: view.x + l, y: view.y + t });
  }

  /** Shows the window `box` centred, at a size to read (`readable` at least). */
  focus(box, readable) {
    const [l, t, r, b] = this.free();
    const view = focusView(box, [r - l, b - t], readable);
    this.set({ ...view, x: view.x + l, y: view.y + t });
  }

  /** Centres the view on the canvas point [x, y]. */
  centre([x, y]) {
    const [l, t, r, b] = this.free();
    this.set({ ...this.view, x: (l + r) / 2 - x * this.view.scale, y: (t + b) / 2 - y * this.view.scale });
  }
}
