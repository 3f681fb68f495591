// The keyboard of the selected terminal: every key becomes a message to the
// host, which turns it into the bytes the program expects (libvterm knows
// the program's modes, such as application cursor keys and bracketed
// paste). Text goes as text; keys that are not text go by name with their
// modifiers; a paste goes as a paste.

const NAMED = new Set([
  'Enter', 'Tab', 'Backspace', 'Escape', 'ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight',
  'Insert', 'Delete', 'Home', 'End', 'PageUp', 'PageDown',
  'F1', 'F2', 'F3', 'F4', 'F5', 'F6', 'F7', 'F8', 'F9', 'F10', 'F11', 'F12',
]);

/** The message for a key press, or null when the browser should have it (text input, paste). */
export function keyMessage(event) {
  const mods = {};
  if (event.ctrlKey) mods.ctrl = true;
  if (event.altKey) mods.alt = true;
  if (event.shiftKey) mods.shift = true;
  if (NAMED.has(event.key)) return { op: 'key', key: event.key, ...mods };
  if (event.key.length !== 1 && [...event.key].length !== 1) return null;  // Shift, Dead, ...
  if (event.ctrlKey || event.altKey) {
    // Ctrl-V (and Ctrl-Shift-V) paste through the paste event.
    if (event.ctrlKey && !event.altKey && event.key.toLowerCase() === 'v') return null;
    return { op: 'key', key: event.key, ...mods };
  }
  if (event.metaKey) return null;
  return { op: 'text', text: event.key };
}
