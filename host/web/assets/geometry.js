// Plane geometry of the canvas, free of the page: boxes are [left, top,
// right, bottom] in the canvas's pixels, points [x, y].

/** The centre of `box`. */
export function centre([l, t, r, b]) {
  return [(l + r) / 2, (t + b) / 2];
}

/** `box` made larger by `d` on every side. */
export function grow([l, t, r, b], d) {
  return [l - d, t - d, r + d, b + d];
}

/** True when the point lies strictly inside `box`. */
export function inside([x, y], [l, t, r, b]) {
  return x > l && x < r && y > t && y < b;
}

/** True when the boxes come closer than `gap` (overlap, with gap 0). */
export function overlaps(a, b, gap = 0) {
  return a[0] < b[2] + gap && b[0] < a[2] + gap && a[1] < b[3] + gap && b[1] < a[3] + gap;
}

/** The smallest box holding every box of `boxes`; null for none. */
export function union(boxes) {
  let u = null;
  for (const [l, t, r, b] of boxes) {
    u = u ? [Math.min(u[0], l), Math.min(u[1], t), Math.max(u[2], r), Math.max(u[3], b)] : [l, t, r, b];
  }
  return u;
}

/** True when the segment (x1, y1)-(x2, y2) passes through the inside of `box`. */
export function crosses(x1, y1, x2, y2, box) {
  const l = box[0], t = box[1], r = box[2], b = box[3];
  // Both ends on one side: no crossing (the common case, decided at once).
  if ((x1 <= l && x2 <= l) || (x1 >= r && x2 >= r) || (y1 <= t && y2 <= t) || (y1 >= b && y2 >= b)) return false;
  // Liang-Barsky: clip the segment to the box; anything left inside is a crossing.
  const dx = x2 - x1, dy = y2 - y1;
  let t0 = 0, t1 = 1;
  const clip = (p, q) => {
    if (p === 0) return q > 0;
    const u = q / p;
    if (p < 0) t0 = Math.max(t0, u);
    else t1 = Math.min(t1, u);
    return t0 < t1;
  };
  if (!clip(-dx, x1 - l) || !clip(dx, r - x1) || !clip(-dy, y1 - t) || !clip(dy, b - y1)) return false;
  return t1 - t0 > 1e-9;
}

/** Where the ray from the centre of `box` toward `to` leaves it. */
export function edgeToward(box, to) {
  const [cx, cy] = centre(box);
  const hw = (box[2] - box[0]) / 2, hh = (box[3] - box[1]) / 2;
  const dx = to[0] - cx, dy = to[1] - cy;
  if (dx === 0 && dy === 0) return [cx, cy];
  const f = Math.min(dx ? hw / Math.abs(dx) : Infinity, dy ? hh / Math.abs(dy) : Infinity, 1);
  return [cx + dx * f, cy + dy * f];
}

/** The length of the polyline `points`. */
export function lengthOf(points) {
  let sum = 0;
  for (let i = 1; i < points.length; i++) sum += Math.hypot(points[i][0] - points[i - 1][0], points[i][1] - points[i - 1][1]);
  return sum;
}

/** The point `at` pixels along the polyline `points` (kept to its ends). */
export function pointAlong(points, at) {
  let left = Math.max(0, at);
  for (let i = 1; i < points.length; i++) {
    const [x0, y0] = points[i - 1], [x1, y1] = points[i];
    const n = Math.hypot(x1 - x0, y1 - y0);
    if (left <= n && n > 0) return [x0 + ((x1 - x0) * left) / n, y0 + ((y1 - y0) * left) / n];
    left -= n;
  }
  return points[points.length - 1];
}

/** The point halfway along the polyline `points`. */
export function halfway(points) {
  return pointAlong(points, lengthOf(points) / 2);
}
