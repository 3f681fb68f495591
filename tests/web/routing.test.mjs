// The ways ropes go and where their labels sit (host/web/assets/routing.js).

import assert from 'node:assert/strict';
import { test } from 'node:test';

import { crosses, inside, overlaps, union } from '../../host/web/assets/geometry.js';
import { labelSpot, ropeKey, routeRopes, sharedLength } from '../../host/web/assets/routing.js';

const onEdge = ([x, y], [l, t, r, b]) =>
  x >= l - 0.5 && x <= r + 0.5 && y >= t - 0.5 && y <= b + 0.5 &&
  Math.min(Math.abs(x - l), Math.abs(x - r), Math.abs(y - t), Math.abs(y - b)) < 0.5;

/** A team: a lead in the middle roped to everyone, in a grid of `n` windows, and a few ropes between others. */
function team(n) {
  const boxes = new Map();
  const columns = Math.ceil(Math.sqrt(n * 1.5));
  for (let i = 0; i < n; i++) {
    const x = (i % columns) * 702, y = Math.floor(i / columns) * 486;
    boxes.set(`t:${i}`, [x, y, x + 638, y + 422]);
  }
  const lead = `t:${Math.floor(n / 2)}`;
  const ropes = [...boxes.keys()].filter((id) => id !== lead).map((id) => [lead, id]);
  ropes.push(['t:0', `t:${n - 1}`], ['t:1', `t:${columns + 1}`], ['t:0', 't:2']);
  return { boxes, ropes };
}

/** Every way a route breaks the rules, as text. */
function faults({ boxes, ropes }, routes) {
  const found = [];
  const page = union([...boxes.values()]);
  const bends = [];
  const segments = [];
  for (const rope of ropes) {
    const points = routes.get(ropeKey(rope));
    const [a, b] = rope.map((id) => boxes.get(id));
    if (!onEdge(points[0], a) || !onEdge(points.at(-1), b)) found.push(`${rope} does not end on its windows' edges`);
    for (let i = 1; i < points.length; i++) {
      const [p, q] = [points[i - 1], points[i]];
      for (const [id, box] of boxes) {
        if (crosses(p[0], p[1], q[0], q[1], box)) found.push(`${rope} crosses ${id}`);
      }
      for (const [other, r, s] of segments) {
        if (sharedLength(p, q, r, s) > 16) found.push(`${rope} runs along ${other}`);
      }
    }
    for (let i = 1; i < points.length; i++) segments.push([rope, points[i - 1], points[i]]);
    for (const p of points.slice(1, -1)) {
      if (!inside(p, page)) found.push(`${rope} bends outside the canvas at ${p}`);
      if (bends.some((q) => Math.hypot(p[0] - q[0], p[1] - q[1]) < 3)) found.push(`${rope} shares a bend at ${p}`);
      bends.push(p);
    }
  }
  return found;
}

test('a rope runs straight when nothing is in its way, around a window when one is', () => {
  const boxes = new Map([['a', [0, 0, 100, 100]], ['b', [300, 0, 400, 100]], ['c', [600, 0, 700, 100]]]);
  const routes = routeRopes([['a', 'b'], ['a', 'c']], boxes);
  assert.deepEqual(routes.get(ropeKey(['a', 'b'])), [[100, 50], [300, 50]]);
  const around = routes.get(ropeKey(['a', 'c']));
  assert.ok(around.length > 2, 'it bends');
  // One row has no way around inside it: the way goes over it.
  assert.deepEqual(faults({ boxes, ropes: [['a', 'b'], ['a', 'c']] }, routes).filter((f) => !f.includes('outside')), []);
  // Walled in on every side: straight, as nothing else is free.
  const walled = new Map([['in', [100, 100, 200, 200]], ['out', [1000, 130, 1100, 170]],
    ['n', [50, 0, 250, 90]], ['s', [50, 210, 250, 300]], ['w', [0, 0, 90, 300]], ['e', [210, 0, 300, 300]]]);
  assert.equal(routeRopes([['in', 'out']], walled).get(ropeKey(['in', 'out'])).length, 2);
});

test('a team\'s ropes share no bend and no stretch, cross no window, and stay inside the canvas', () => {
  for (const n of [6, 12, 30]) {
    const t = team(n);
    assert.deepEqual(faults(t, routeRopes(t.ropes, t.boxes)), [], `${n} windows`);
  }
});

test('sharedLength measures ropes lying on each other', () => {
  assert.equal(sharedLength([0, 0], [100, 0], [50, 1], [200, 2]), 50);
  assert.equal(sharedLength([0, 0], [100, 0], [50, 10], [200, 10]), 0, 'parallel lanes');
  assert.equal(sharedLength([0, 0], [100, 0], [50, -50], [50, 50]), 0, 'crossing');
});

test('a label sits on its rope, nearest the middle off the windows, inside the view', () => {
  const rope = [[0, 100], [1000, 100]];
  const area = [0, 0, 1200, 800];
  assert.deepEqual(labelSpot(rope, [100, 20], [], area), [500, 100]);
  const window = [400, 50, 650, 300];
  const [x, y] = labelSpot(rope, [100, 20], [window], area);
  assert.equal(y, 100);
  assert.ok(!overlaps([x - 50, 90, x + 50, 110], window) && Math.abs(x - 500) <= 160, `at ${x}`);
  // In a gap too narrow for it on the rope, it stands off to the side the rope leaves free.
  const [, beside] = labelSpot(rope, [100, 20], [[0, 105, 1000, 300]], area);
  assert.ok(beside <= 95 && beside >= 100 - 7, `at ${beside}`);
  // A rope mostly out of view: its label stays in view.
  const [, top] = labelSpot([[0, -500], [0, 100]], [100, 20], [], [-600, 0, 600, 800]);
  assert.ok(top >= 10, `at ${top}`);
});
