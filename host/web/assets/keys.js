// The person's keys, free of the page. A terminal that takes the keys gets
// every key as a message to the host, which turns it into the bytes the
// program expects (libvterm knows the program's modes, such as application
// cursor keys and bracketed paste): text as text, keys that are not text by
// name with their modifiers; a paste goes as a paste. A few chords are the
// page's own, whatever has the keys; and when no terminal takes them, keys
// move about the canvas.

// The keys sent by name: exactly those the host knows by their browser
// names (browser_key in host/screen/keys.h; a test holds the two alike).
const NAMED = new Set([
  'Enter', 'Tab', 'Backspace', 'Escape', 'ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight',
  'Insert', 'Delete', 'Home', 'End', 'PageUp', 'PageDown',
  'F1', 'F2', 'F3', 'F4', 'F5', 'F6', 'F7', 'F8', 'F9', 'F10', 'F11', 'F12',
]);

/** True for a key that stands for one character (not Shift, Dead, F1, ...). */
function isCharacter(key) {
  return key.length === 1 || [...key].length === 1;
}

/** The message for a key press, or null when the browser should have it (text input, paste). */
export function keyMessage(event) {
  const mods = {};
  if (event.ctrlKey) mods.ctrl = true;
  if (event.altKey) mods.alt = true;
  if (event.shiftKey) mods.shift = true;
  if (NAMED.has(event.key)) return { op: 'key', key: event.key, ...mods };
  if (!isCharacter(event.key)) return null;
  if (event.ctrlKey || event.altKey) {
    // Ctrl-V (and Ctrl-Shift-V) paste through the paste event.
    if (event.ctrlKey && !event.altKey && event.key.toLowerCase() === 'v') return null;
    return { op: 'key', key: event.key, ...mods };
  }
  if (event.metaKey) return null;
  return { op: 'text', text: event.key };
}

/**
 * The page's own chords, whatever has the keys: 'search' (Ctrl+Shift+F,
 * search every terminal) and 'overview' (Ctrl+Shift+ArrowUp, back to the
 * whole canvas); null for any other key. Terminals tell Ctrl+Shift and a
 * letter from Ctrl and the letter only in modes few programs use.
 */
export function pageChord(event) {
  if (!event.ctrlKey || !event.shiftKey || event.altKey || event.metaKey) return null;
  if (event.key.toLowerCase() === 'f') return 'search';
  if (event.key === 'ArrowUp') return 'overview';
  return null;
}

const MOVES = { ArrowLeft: 'left', ArrowRight: 'right', ArrowUp: 'up', ArrowDown: 'down' };

/**
 * What a key does on the canvas when no terminal takes the keys: {move}
 * to the window left, right, up or down, or the next or previous one (Tab,
 * Shift+Tab); {open} the focused window (Enter); {overview} (Escape); {type}
 * into the focused window (a character); null when the page leaves it to
 * the browser.
 */
export function canvasKey(event) {
  if (event.altKey || event.metaKey) return null;
  if (event.key === 'Tab' && !event.ctrlKey) return { move: event.shiftKey ? 'previous' : 'next' };
  if (event.ctrlKey) return null;
  if (MOVES[event.key] && !event.shiftKey) return { move: MOVES[event.key] };
  if (event.key === 'Enter') return { open: true };
  if (event.key === 'Escape') return { overview: true };
  if (isCharacter(event.key) && event.key !== ' ') return { type: true };
  return null;
}
