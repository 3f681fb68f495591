// What the page makes of each terminal's attention (attention.js), and how
// it connects again (feed.js).

import assert from 'node:assert/strict';
import { test } from 'node:test';

import { awaitingInput, newlyAwaiting, pageTitle, stateBadge } from '../../host/web/assets/attention.js';
import { RETRY_FIRST, RETRY_MOST, nextRetry } from '../../host/web/assets/feed.js';

const terminal = (name, fields) => ({ id: `t:${name}`, kind: 'terminal', name, state: 'running', ...fields });

test('a header says the state in words', () => {
  assert.deepEqual(stateBadge(terminal('a', { attention: 'input' })), ['input', 'awaiting input']);
  assert.deepEqual(stateBadge(terminal('a', { attention: 'working' })), ['working', 'working']);
  assert.deepEqual(stateBadge(terminal('a', { attention: null })), ['idle', 'idle']);
  assert.deepEqual(stateBadge(terminal('a', { state: 'exited', exitCode: 3, attention: 'exited' })), ['exited', 'exited 3']);
  assert.deepEqual(stateBadge(terminal('a', { state: 'joined' })), ['joined', 'joined']);
  assert.deepEqual(stateBadge(terminal('a', { state: 'held', attention: 'idle' })), ['held', 'held']);
});

test('the title counts who awaits input, and who just began to', () => {
  const items = [terminal('b', { attention: 'input' }), terminal('a', { attention: 'input' }),
    terminal('c', { attention: 'finished' }), terminal('d', { attention: 'input', state: 'exited' }),
    { id: 'n:x', kind: 'note', name: 'x' }];
  const awaiting = awaitingInput(items);
  assert.deepEqual(awaiting.map((a) => a.name), ['a', 'b']);
  assert.equal(pageTitle(awaiting.length, 'welkmora canvas'), '(2) welkmora canvas');
  assert.equal(pageTitle(0, 'welkmora canvas'), 'welkmora canvas');
  assert.deepEqual(newlyAwaiting(new Set(['t:a']), awaiting), ['t:b']);
});

test('the page connects again at growing intervals', () => {
  const waits = [];
  for (let w = 0, i = 0; i < 6; i++) waits.push((w = nextRetry(w)));
  assert.deepEqual(waits, [RETRY_FIRST, 500, 1000, RETRY_MOST, RETRY_MOST, RETRY_MOST]);
});
