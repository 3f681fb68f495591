// Where windows go and how the view frames them (host/web/assets/layout.js).

import assert from 'node:assert/strict';
import { test } from 'node:test';

import { overlaps, union } from '../../host/web/assets/geometry.js';
import { GAP, fitView, neighbour, placeFree, readingOrder, tidy, tidyOrder } from '../../host/web/assets/layout.js';

const TERMINAL = [638, 422];
const boxesOf = (sizes, at) => at.map(([x, y], i) => [x, y, x + sizes[i][0], y + sizes[i][1]]);

function assertApart(boxes) {
  boxes.forEach((a, i) => boxes.slice(i + 1).forEach((b) => assert.ok(!overlaps(a, b, GAP - 1), `${a} and ${b}`)));
}

test('tidy fills the window\'s shape, none over another', () => {
  const sizes = Array(12).fill(TERMINAL);
  const boxes = boxesOf(sizes, tidy(sizes, [1920, 1040]));
  assertApart(boxes);
  // Twelve terminals in a wide window: four columns of three, not two columns of six.
  assert.equal(new Set(boxes.map((b) => b[0])).size, 4);
  assert.equal(new Set(boxes.map((b) => b[1])).size, 3);
  // In a tall window, fewer columns.
  assert.ok(new Set(boxesOf(sizes, tidy(sizes, [800, 1600])).map((b) => b[0])).size < 4);
});

test('tidy puts small windows where big ones leave room, and the hub in the middle', () => {
  const sizes = [...Array(11).fill(TERMINAL), [137, 305], [260, 200], [260, 200]];
  const boxes = boxesOf(sizes, tidy(sizes, [1920, 1040], GAP, 11));
  assertApart(boxes);
  assert.equal(new Set(boxes.map((b) => b[1])).size, 3, 'the notes and the small window share rows with terminals');
  const all = union(boxes), hub = boxes[11];
  assert.ok(hub[1] > all[1] && hub[3] < all[3], `the hub ${hub} is in a middle row of ${all}`);
  assert.ok(hub[0] > all[0] && hub[2] < all[2], 'and not at its end');
});

test('tidyOrder: terminals, then notes, by name; the item with most ropes is the hub', () => {
  const items = [{ id: 'n:a', kind: 'note', name: 'a' }, { id: 't:B', kind: 'terminal', name: 'B' },
    { id: 't:A', kind: 'terminal', name: 'A' }, { id: 't:Lead', kind: 'terminal', name: 'Lead' }];
  const { order, hub } = tidyOrder(items, [['t:Lead', 't:A'], ['t:Lead', 't:B'], ['t:Lead', 'n:a']]);
  assert.deepEqual(order.map((i) => i.id), ['t:A', 't:B', 't:Lead', 'n:a']);
  assert.equal(order[hub].id, 't:Lead');
  assert.equal(tidyOrder(items, [['t:A', 't:B']]).hub, -1);
});

test('placeFree keeps the whole in the window\'s shape, off the others', () => {
  const others = [[0, 0, 638, 422]];
  assert.deepEqual(placeFree(TERMINAL, others, [1920, 1040]), [638 + GAP, 0], 'a wide window: beside');
  assert.deepEqual(placeFree(TERMINAL, others, [700, 1400]), [0, 422 + GAP], 'a tall one: below');
  const placed = [];
  for (let i = 0; i < 9; i++) {
    const [x, y] = placeFree(TERMINAL, placed, [1920, 1040]);
    placed.push([x, y, x + TERMINAL[0], y + TERMINAL[1]]);
  }
  assertApart(placed);
  const [l, t, r, b] = union(placed);
  assert.ok((r - l) / (b - t) > 1.2, `nine windows lie wide: ${r - l} by ${b - t}`);
  assert.deepEqual(placeFree(TERMINAL, [], [1920, 1040]), [0, 0]);
});

test('fitView shows the bounds whole and centred, within its limits', () => {
  const view = fitView([100, 100, 2100, 1100], [1000, 600], { margin: 20, least: 0.05, most: 1 });
  assert.equal(view.scale, 0.48);
  const left = 100 * view.scale + view.x, right = 2100 * view.scale + view.x;
  assert.ok(left >= 20 && right <= 980 && Math.abs(left - (1000 - right)) < 1e-9);
  assert.equal(fitView([0, 0, 10, 10], [1000, 600]).scale, 1, 'no larger than life');
  assert.equal(fitView([0, 0, 1e6, 1e6], [1000, 600], { least: 0.1 }).scale, 0.1);
});

test('the keys move between neighbours and in reading order', () => {
  // A B C
  // D   E
  const boxes = new Map([['A', [0, 0, 100, 100]], ['B', [150, 10, 250, 110]], ['C', [300, 0, 400, 100]],
    ['D', [0, 150, 100, 250]], ['E', [300, 160, 400, 260]]]);
  assert.equal(neighbour(boxes, 'A', 'right'), 'B');
  assert.equal(neighbour(boxes, 'B', 'right'), 'C');
  assert.equal(neighbour(boxes, 'A', 'down'), 'D');
  assert.equal(neighbour(boxes, 'D', 'right'), 'E');
  assert.equal(neighbour(boxes, 'E', 'up'), 'C');
  assert.equal(neighbour(boxes, 'A', 'left'), null);
  assert.deepEqual(readingOrder(boxes), ['A', 'B', 'C', 'D', 'E']);
});
