// How many cells a character takes on a terminal's screen, free of the
// page: East Asian wide and fullwidth characters and emoji take two, as the
// host's terminal emulator counts them; the page draws each of them in a
// box exactly two cells wide, so that columns line up whatever the font.

/** Characters a terminal draws two cells wide (East Asian wide and fullwidth, emoji). */
export const WIDE = /[\u1100-\u115f\u2e80-\u303e\u3041-\u33ff\u3400-\u4dbf\u4e00-\u9fff\ua000-\ua4cf\uac00-\ud7a3\uf900-\ufaff\ufe30-\ufe4f\uff00-\uff60\uffe0-\uffe6\u{1f300}-\u{1f64f}\u{1f900}-\u{1f9ff}\u{20000}-\u{3fffd}]/u;
const WIDE_ALL = new RegExp(WIDE.source, 'gu');

/** True when `text` holds a wide character. */
export function hasWide(text) {
  return WIDE.test(text);
}

/** `text` in pieces: runs of narrow characters as strings, each wide character as {wide: character}. */
export function widePieces(text) {
  const pieces = [];
  let at = 0;
  for (const match of text.matchAll(WIDE_ALL)) {
    if (match.index > at) pieces.push(text.slice(at, match.index));
    pieces.push({ wide: match[0] });
    at = match.index + match[0].length;
  }
  if (at < text.length) pieces.push(text.slice(at));
  return pieces;
}

/** The cells `text` takes. */
export function cellCount(text) {
  let n = 0;
  for (const ch of text) n += WIDE.test(ch) ? 2 : 1;
  return n;
}
