// A terminal's text on the page: the links found in it (links.js) and the
// cells its characters take (width.js).

import assert from 'node:assert/strict';
import { test } from 'node:test';

import { findAddresses, shownAs, trimAddress } from '../../host/web/assets/links.js';
import { cellCount, hasWide, widePieces } from '../../host/web/assets/width.js';

test('web addresses are found without the sentence around them', () => {
  const text = 'see https://example.com/x. or (http://127.0.0.1:8080/a_(b)) and ftp://no';
  const found = findAddresses(text);
  assert.deepEqual(found.map(({ start, end }) => text.slice(start, end)),
    ['https://example.com/x', 'http://127.0.0.1:8080/a_(b)']);
  assert.equal(found[0].href, 'https://example.com/x');
  assert.equal(trimAddress('http://a/b?!'), 'http://a/b');
  assert.equal(trimAddress('http://a/(b)'), 'http://a/(b)', 'balanced parentheses stay');
  assert.deepEqual(findAddresses('"http://a b" <https://c>'), [
    { start: 1, end: 9, href: 'http://a/' }, { start: 14, end: 23, href: 'https://c/' }]);
  assert.deepEqual(findAddresses('http://[bad'), [], 'what does not parse is no link');
  assert.deepEqual(findAddresses('no address'), []);
});

test('a link that would not read as its target shows its target', () => {
  const text = 'go https://b\u00fccher.example/\u202eexe.txt or https://example.com/a';
  const [odd, plain] = findAddresses(text);
  assert.equal(shownAs(text.slice(odd.start, odd.end), odd.href), 'https://xn--bcher-kva.example/%E2%80%AEexe.txt');
  assert.equal(shownAs(text.slice(plain.start, plain.end), plain.href), 'https://example.com/a');
  assert.equal(shownAs('HTTP://EXAMPLE.COM', 'http://example.com/'), 'HTTP://EXAMPLE.COM', 'ASCII shows as printed');
});

test('wide characters take two cells, each a piece of its own', () => {
  assert.equal(cellCount('ab'), 2);
  assert.equal(cellCount('漢字|'), 5);
  assert.equal(cellCount('한글😀'), 6);
  assert.equal(cellCount('é'), 1);
  assert.ok(!hasWide('plain ascii ─┼─'));
  assert.deepEqual(widePieces('a漢字b'), ['a', { wide: '漢' }, { wide: '字' }, 'b']);
  assert.deepEqual(widePieces('😀'), [{ wide: '😀' }]);
});
