// The ways ropes go between windows, free of the page. A rope runs straight
// from window to window when nothing is in its way; otherwise it bends
// around the windows in its way, over their corners, a little off them: the
// shortest such way. So that each rope can be followed by eye:
//  - no two ropes bend at the same point: each corner a rope turns at is
//    taken, and the next rope turning there turns a lane further out;
//  - no two ropes run along each other: a way that would lie over another
//    rope's for more than a short stretch is not taken;
//  - no rope runs around the outside of the whole canvas (the page's
//    border in the overview): its bends stay within the windows' bounding
//    box while a way inside it exists.
// Labels sit on their own rope, as near its middle as they can without
// covering a window, and inside the visible part of the page.

import { centre, crosses, edgeToward, grow, inside, lengthOf, overlaps, pointAlong, union } from './geometry.js';

/** Room a rope keeps around a window it passes, and between lanes of ropes. */
export const CLEARANCE = 10;
export const LANE = 5;
/** The longest stretch two ropes may share, in pixels. */
const SHARED = 16;
/** How far around its two windows a rope may go to find its way. */
const REACH = 600;
/** What a bend costs, in pixels of length: fewer bends read better. */
const BEND = 12;

/** The key of a rope in the routes: its two ids. */
export function ropeKey([a, b]) {
  return `${a}\n${b}`;
}

/** The length, in pixels, over which segments p-q and r-s lie on each other (within 3 pixels). */
export function sharedLength(p, q, r, s) {
  const dx = q[0] - p[0], dy = q[1] - p[1];
  const n = Math.hypot(dx, dy);
  if (n === 0) return 0;
  const ux = dx / n, uy = dy / n;
  // Both ends of r-s near the line through p-q, and the segments parallel.
  const off = (pt) => Math.abs((pt[0] - p[0]) * uy - (pt[1] - p[1]) * ux);
  if (off(r) > 3 || off(s) > 3) return 0;
  const along = (pt) => (pt[0] - p[0]) * ux + (pt[1] - p[1]) * uy;
  const lo = Math.max(0, Math.min(along(r), along(s))), hi = Math.min(n, Math.max(along(r), along(s)));
  return Math.max(0, hi - lo);
}

/**
 * The way from the centre of box `a` to that of box `b` around `walls`
 * (boxes), over the points `corners`: the shortest by A*, counting bends
 * and refusing a stretch shared with a segment of `taken`; null when none.
 */
function search(a, b, walls, corners, taken) {
  const points = [centre(a), centre(b), ...corners];
  const n = points.length;
  const clear = (i, j) => {
    const [p, q] = [points[i], points[j]];
    if (walls.some((w) => crosses(p[0], p[1], q[0], q[1], w))) return false;
    // A rope leaves its own windows once, at their centres' ends.
    if (i !== 0 && j !== 0 && crosses(p[0], p[1], q[0], q[1], a)) return false;
    if (i !== 1 && j !== 1 && crosses(p[0], p[1], q[0], q[1], b)) return false;
    return !taken.some(([r, s]) => sharedLength(p, q, r, s) > SHARED);
  };
  const goal = points[1];
  const dist = new Float64Array(n).fill(Infinity), prev = new Int32Array(n).fill(-1), done = new Uint8Array(n);
  const estimate = (i) => dist[i] + Math.hypot(goal[0] - points[i][0], goal[1] - points[i][1]);
  dist[0] = 0;
  for (;;) {
    let u = -1;
    for (let i = 0; i < n; i++) if (!done[i] && dist[i] < Infinity && (u < 0 || estimate(i) < estimate(u))) u = i;
    if (u < 0) return null;
    if (u === 1) break;
    done[u] = 1;
    for (let v = 1; v < n; v++) {
      if (done[v]) continue;
      const d = dist[u] + Math.hypot(points[v][0] - points[u][0], points[v][1] - points[u][1]) + (v === 1 ? 0 : BEND);
      if (d >= dist[v] || !clear(u, v)) continue;
      dist[v] = d;
      prev[v] = u;
    }
  }
  const way = [];
  for (let i = 1; i >= 0; i = prev[i]) way.unshift(i === 0 || i === 1 ? points[i] : { corner: corners[i - 2] });
  return way;
}

/**
 * The routes of `ropes` ([idA, idB] pairs) between the windows `boxes` (a
 * Map of id to box): a Map of ropeKey to the points each is drawn
 * through, from the edge of its first window to that of its second. Ropes
 * whose ends are not both in `boxes` get none.
 */
export function routeRopes(ropes, boxes, { clearance = CLEARANCE, lane = LANE, reach = REACH } = {}) {
  const routes = new Map();
  const all = [...boxes.values()];
  const page = all.length ? all.reduce((u, [l, t, r, b]) => [Math.min(u[0], l), Math.min(u[1], t),
    Math.max(u[2], r), Math.max(u[3], b)]) : null;
  // How many ropes turn at each corner so far, by window id and corner.
  const lanes = new Map();
  const bends = [];
  const taken = [];
  const length = ([a, b]) => Math.hypot(...centre(boxes.get(a)).map((v, i) => v - centre(boxes.get(b))[i]));
  // Short ropes first: they take the inner lanes.
  const order = ropes.filter(([a, b]) => boxes.has(a) && boxes.has(b) && a !== b).sort((p, q) => length(p) - length(q));
  for (const rope of order) {
    const a = boxes.get(rope[0]), b = boxes.get(rope[1]);
    // Ways go around what lies near the two windows, not across the whole canvas.
    const near = grow(union([a, b]), reach);
    const walls = [];
    const cornersOf = [];
    for (const [id, box] of boxes) {
      if (id === rope[0] || id === rope[1] || !overlaps(box, near)) continue;
      walls.push(grow(box, clearance - 1));
      cornersOf.push([id, box]);
    }
    const candidates = (withinPage) => {
      const out = [];
      for (const [id, box] of cornersOf) {
        for (let k = 0; k < 4; k++) {
          const used = lanes.get(`${id}/${k}`) || 0;
          const d = clearance + used * lane;
          const p = [k % 2 ? box[2] + d : box[0] - d, k < 2 ? box[1] - d : box[3] + d];
          if (walls.some((w) => inside(p, w)) || inside(p, grow(a, clearance - 1)) || inside(p, grow(b, clearance - 1))) continue;
          if (withinPage && !inside(p, page)) continue;
          if (bends.some((q) => Math.abs(q[0] - p[0]) < lane - 1 && Math.abs(q[1] - p[1]) < lane - 1)) continue;
          out.push({ p, key: `${id}/${k}` });
        }
      }
      return out;
    };
    let way = null;
    for (const withinPage of [true, false]) {
      const corners = candidates(withinPage);
      way = search(a, b, walls, corners.map((c) => c.p), taken);
      if (way) {
        way = way.map((step) => (Array.isArray(step) ? step : corners.find((c) => c.p === step.corner)));
        break;
      }
    }
    let points;
    if (!way) {
      points = [centre(a), centre(b)];
    } else {
      points = way.map((step) => (Array.isArray(step) ? step : step.p));
      for (const step of way) {
        if (Array.isArray(step)) continue;
        lanes.set(step.key, (lanes.get(step.key) || 0) + 1);
        bends.push(step.p);
      }
    }
    points[0] = edgeToward(a, points[1]);
    points[points.length - 1] = edgeToward(b, points[points.length - 2]);
    for (let i = 1; i < points.length; i++) taken.push([points[i - 1], points[i]]);
    routes.set(ropeKey(rope), points);
  }
  return routes;
}

/** The unit direction of the polyline `points` at `at` pixels along it. */
function directionAt(points, at) {
  let left = at;
  for (let i = 1; i < points.length; i++) {
    const dx = points[i][0] - points[i - 1][0], dy = points[i][1] - points[i - 1][1];
    const n = Math.hypot(dx, dy);
    if ((left <= n || i === points.length - 1) && n > 0) return [dx / n, dy / n];
    left -= n;
  }
  return [1, 0];
}

/**
 * Where a label of `size` ([width, height]) goes on the rope `points`: its
 * centre, at the point nearest the rope's middle where the label covers
 * none of `obstacles` (boxes) and lies inside `area` (a box). The label may
 * stand off to one side of the rope, as long as the rope still runs
 * through it, 3 pixels inside its edge. The middle, moved inside `area`,
 * when there is no such point.
 */
export function labelSpot(points, size, obstacles, area) {
  const [w, h] = size;
  const total = lengthOf(points);
  const boxAt = ([x, y]) => [x - w / 2, y - h / 2, x + w / 2, y + h / 2];
  const within = (box) => box[0] >= area[0] && box[1] >= area[1] && box[2] <= area[2] && box[3] <= area[3];
  const step = Math.max(4, total / 80);
  for (let d = 0; d <= total / 2; d += step) {
    for (const at of d ? [total / 2 - d, total / 2 + d] : [total / 2]) {
      const [x, y] = pointAlong(points, at);
      const [ux, uy] = directionAt(points, at);
      // Off to a side, across the rope: as far as its extent that way allows.
      const reach = Math.max(0, Math.abs(uy) * (w / 2 - 3) + Math.abs(ux) * (h / 2 - 3));
      for (const off of [0, reach, -reach]) {
        const p = [x - uy * off, y + ux * off];
        const box = boxAt(p);
        if (within(box) && !obstacles.some((o) => overlaps(o, box))) return p;
      }
    }
  }
  const [x, y] = pointAlong(points, total / 2);
  const clamp = (v, lo, hi) => (lo > hi ? (lo + hi) / 2 : Math.min(hi, Math.max(lo, v)));
  return [clamp(x, area[0] + w / 2, area[2] - w / 2), clamp(y, area[1] + h / 2, area[3] - h / 2)];
}

/** The SVG path through `points`. */
export function pathOf(points) {
  return points.map(([x, y], i) => `${i ? 'L' : 'M'}${x.toFixed(1)} ${y.toFixed(1)}`).join(' ');
}
