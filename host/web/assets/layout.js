// Where windows go on the canvas and how the view frames them, free of the
// page. The canvas is shown whole at first (the overview), so a layout is
// good when its bounding box has the window's shape: then the overview is
// as large as it can be. Sizes are [width, height], boxes [left, top,
// right, bottom], views {x, y, scale}: a canvas point p shows at p * scale
// + (x, y).

import { centre, overlaps, union } from './geometry.js';

/** Room between windows: wide enough for ropes to pass between them. */
export const GAP = 64;

/** The scale at which `bounds` fits a view of `size` with `margin` pixels around it. */
function scaleToFit([l, t, r, b], [w, h], margin) {
  return Math.min((w - 2 * margin) / Math.max(1, r - l), (h - 2 * margin) / Math.max(1, b - t));
}

/**
 * Rows of the windows of `sizes`, at most `width` wide (at least one window
 * a row): each window in the first row that has room for it, in order, so
 * that small windows fill what big ones leave; and window `hub`, if any, in
 * the middle of the middle row. Their top left corners.
 */
function rows(sizes, width, gap, hub) {
  const lines = [];
  const room = (line, w) => line.x + w <= width || !line.members.length;
  const put = (line, i, at = line.members.length) => {
    line.members.splice(at, 0, i);
    line.x += sizes[i][0] + gap;
  };
  sizes.forEach(([w], i) => {
    if (i === hub) return;
    let line = lines.find((l) => room(l, w));
    if (!line) lines.push((line = { x: 0, members: [] }));
    put(line, i);
  });
  if (hub >= 0) {
    // The middle row, also when that makes it the widest: the layout that fits best is chosen anyway.
    const line = lines[Math.floor((lines.length - 1) / 2)] ?? lines[lines.push({ x: 0, members: [] }) - 1];
    put(line, hub, Math.floor(line.members.length / 2));
  }
  const at = [];
  let y = 0;
  for (const line of lines) {
    let x = 0, height = 0;
    for (const i of line.members) {
      at[i] = [x, y];
      x += sizes[i][0] + gap;
      height = Math.max(height, sizes[i][1]);
    }
    y += height + gap;
  }
  return at;
}

/**
 * A tidy layout of windows of `sizes`: rows left to right, none over
 * another, their bounding box as near the shape of `view` ([width, height]
 * of the window) as rows allow, so that all of it shows as large as can
 * be; window `hub` (the one with the most ropes, -1 for none) near the
 * middle, where its ropes have ways out on every side. Returns each
 * window's top left corner, from (0, 0).
 */
export function tidy(sizes, view, gap = GAP, hub = -1) {
  if (!sizes.length) return [];
  // Row widths to try: those of the first k windows in a row, and steps between the widest and all in one row.
  const widths = new Set();
  let sum = -gap;
  for (const [w] of sizes) widths.add((sum += w + gap));
  const widest = Math.max(...sizes.map(([w]) => w));
  for (let i = 0; i <= 60; i++) widths.add(Math.round(widest + ((sum - widest) * i) / 60));
  let best = null, bestScale = -1;
  for (const width of [...widths].sort((a, b) => a - b)) {
    const at = rows(sizes, width, gap, hub);
    const bounds = union(at.map(([x, y], i) => [x, y, x + sizes[i][0], y + sizes[i][1]]));
    const scale = scaleToFit(bounds, view, 0);
    if (scale > bestScale + 1e-9) {
      best = at;
      bestScale = scale;
    }
  }
  return best;
}

/**
 * Where a window of `size` goes among the boxes `others`, none closer
 * than `gap`: of the free places beside or below another window, the one
 * that keeps the whole as large as can be in a view of `view` ([width,
 * height]); the first in reading order among equals.
 */
export function placeFree(size, others, view, gap = GAP) {
  if (!others.length) return [0, 0];
  const [w, h] = size;
  const all = union(others);
  const candidates = [[all[0], all[1]]];
  for (const [l, t, r, b] of others) candidates.push([r + gap, t], [l, b + gap], [r + gap, all[1]], [all[0], b + gap]);
  let best = null, bestScale = -1;
  for (const [x, y] of candidates) {
    const box = [x, y, x + w, y + h];
    if (others.some((o) => overlaps(o, box, gap))) continue;
    const scale = Math.round(scaleToFit(union([all, box]), view, 0) * 1000);
    if (scale > bestScale || (scale === bestScale && (y < best[1] || (y === best[1] && x < best[0])))) {
      best = [x, y];
      bestScale = scale;
    }
  }
  return best ?? [all[0], all[3] + gap];
}

/**
 * The view that shows `bounds` whole and centred in a view of `size`
 * ([width, height]), `margin` pixels inside its edges, at a scale between
 * `least` and `most`.
 */
export function fitView(bounds, size, { margin = 24, least = 0.05, most = 1 } = {}) {
  const scale = Math.min(most, Math.max(least, scaleToFit(bounds, size, margin)));
  const [cx, cy] = centre(bounds);
  return { x: size[0] / 2 - cx * scale, y: size[1] / 2 - cy * scale, scale };
}

/**
 * The view that shows the window `box` centred at a size to read: 1, or
 * less when it would not fit, but not under `readable`.
 */
export function focusView(box, size, readable, margin = 24) {
  return fitView(box, size, { margin, least: readable, most: 1 });
}

/**
 * The order in which tidy() lays out `items` ({id, kind, name}), terminals
 * before notes, each by name; and the index in it of the hub: the item with
 * the most ropes, three or more (a lead and its team), else -1. `ropes`
 * are [idA, idB] pairs.
 */
export function tidyOrder(items, ropes) {
  const order = [...items].sort((a, b) =>
    (a.kind === b.kind ? 0 : a.kind === 'terminal' ? -1 : 1) || a.name.localeCompare(b.name));
  const degree = new Map();
  for (const rope of ropes) for (const id of rope) degree.set(id, (degree.get(id) || 0) + 1);
  let hub = -1;
  order.forEach((item, i) => {
    if ((degree.get(item.id) || 0) >= 3 && (hub < 0 || degree.get(item.id) > degree.get(order[hub].id))) hub = i;
  });
  return { order, hub };
}

const DIRECTIONS = { left: [-1, 0], right: [1, 0], up: [0, -1], down: [0, 1] };

/**
 * The id of the window nearest to window `from` in `direction` (left,
 * right, up or down) among `boxes` (a Map of id to box): its centre lies
 * that way; what is far off to the side counts as farther. Null when none.
 */
export function neighbour(boxes, from, direction) {
  const [dx, dy] = DIRECTIONS[direction];
  const [fx, fy] = centre(boxes.get(from));
  let best = null, bestCost = Infinity;
  for (const [id, box] of boxes) {
    if (id === from) continue;
    const [x, y] = centre(box);
    const ahead = (x - fx) * dx + (y - fy) * dy;
    if (ahead <= 0) continue;
    const aside = Math.abs((x - fx) * dy) + Math.abs((y - fy) * dx);
    const cost = ahead + 2 * aside;
    if (cost < bestCost) {
      best = id;
      bestCost = cost;
    }
  }
  return best;
}

/**
 * The ids of `boxes` (a Map of id to box) in reading order: rows top to
 * bottom, a window in the row of the one before it when their spans
 * overlap, each row left to right.
 */
export function readingOrder(boxes) {
  const byTop = [...boxes].sort((a, b) => a[1][1] - b[1][1] || a[1][0] - b[1][0]);
  const lines = [];
  for (const entry of byTop) {
    const line = lines[lines.length - 1];
    if (line && entry[1][1] < line.bottom) {
      line.members.push(entry);
      line.bottom = Math.max(line.bottom, (entry[1][1] + entry[1][3]) / 2);
    } else {
      lines.push({ members: [entry], bottom: (entry[1][1] + entry[1][3]) / 2 });
    }
  }
  return lines.flatMap((line) => line.members.sort((a, b) => a[1][0] - b[1][0]).map(([id]) => id));
}
