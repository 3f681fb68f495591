// The person's keys (host/web/assets/keys.js): what a terminal is sent,
// the page's chords, and the keys of the canvas.

import assert from 'node:assert/strict';
import { test } from 'node:test';

import { canvasKey, keyMessage, pageChord } from '../../host/web/assets/keys.js';

const key = (k, mods = {}) => ({ key: k, ctrlKey: false, altKey: false, shiftKey: false, metaKey: false, ...mods });

test('a terminal gets text as text, other keys by name with their modifiers', () => {
  assert.deepEqual(keyMessage(key('a')), { op: 'text', text: 'a' });
  assert.deepEqual(keyMessage(key('é')), { op: 'text', text: 'é' });
  assert.deepEqual(keyMessage(key('😀')), { op: 'text', text: '😀' });
  assert.deepEqual(keyMessage(key('Escape')), { op: 'key', key: 'Escape' });
  assert.deepEqual(keyMessage(key('ArrowUp', { shiftKey: true })), { op: 'key', key: 'ArrowUp', shift: true });
  assert.deepEqual(keyMessage(key('c', { ctrlKey: true })), { op: 'key', key: 'c', ctrl: true });
  assert.deepEqual(keyMessage(key('x', { altKey: true })), { op: 'key', key: 'x', alt: true });
  // The browser keeps what is not a key of the terminal's: paste, dead keys, modifiers alone.
  for (const k of [key('v', { ctrlKey: true }), key('V', { ctrlKey: true, shiftKey: true }), key('Dead'),
    key('Shift', { shiftKey: true }), key('a', { metaKey: true })]) {
    assert.equal(keyMessage(k), null, k.key);
  }
});

test('the page\'s chords, whatever has the keys', () => {
  assert.equal(pageChord(key('F', { ctrlKey: true, shiftKey: true })), 'search');
  assert.equal(pageChord(key('ArrowUp', { ctrlKey: true, shiftKey: true })), 'overview');
  assert.equal(pageChord(key('f', { ctrlKey: true })), null, 'Ctrl+F is the terminal\'s own find');
  assert.equal(pageChord(key('ArrowUp', { ctrlKey: true })), null);
  assert.equal(pageChord(key('Escape')), null);
});

test('the canvas\'s keys move, open, go back and type', () => {
  assert.deepEqual(canvasKey(key('ArrowLeft')), { move: 'left' });
  assert.deepEqual(canvasKey(key('Tab')), { move: 'next' });
  assert.deepEqual(canvasKey(key('Tab', { shiftKey: true })), { move: 'previous' });
  assert.deepEqual(canvasKey(key('Enter')), { open: true });
  assert.deepEqual(canvasKey(key('Escape')), { overview: true });
  assert.deepEqual(canvasKey(key('x')), { type: true });
  for (const k of [key('c', { ctrlKey: true }), key(' '), key('F5'), key('ArrowLeft', { altKey: true })]) {
    assert.equal(canvasKey(k), null, k.key);
  }
});
