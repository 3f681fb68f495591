// Web addresses in a terminal's text, free of the page: what becomes a link
// (opened in a new tab on a click), the text itself unchanged but for an
// address that would not read as where it leads.

/** An http or https address in a row's text, up to the first blank or quote. */
const ADDRESS = /\bhttps?:\/\/[^\s"'<>`\\^{}|]+/g;

/** `text` without what ends a sentence around an address: "(see http://a/b)." is http://a/b. */
export function trimAddress(text) {
  for (;;) {
    const last = text.at(-1);
    const unbalanced = last === ')' && text.split('(').length < text.split(')').length;
    if (!'.,;:!?'.includes(last) && !unbalanced) return text;
    text = text.slice(0, -1);
  }
}

/** The addresses in `text` that parse: [{start, end, href}], `end` one past the last character. */
export function findAddresses(text) {
  if (!text.includes('://')) return [];
  const found = [];
  for (const match of text.matchAll(ADDRESS)) {
    const address = trimAddress(match[0]);
    let url;
    try {
      url = new URL(address);
    } catch {
      continue;
    }
    found.push({ start: match.index, end: match.index + address.length, href: url.href });
  }
  return found;
}

/**
 * What the link for `address` (as printed) to `href` shows: the address, or,
 * when it holds more than printable ASCII (a look-alike letter in its host,
 * a right-to-left override), where it leads as the browser reads it: the
 * host in punycode, the rest encoded.
 */
export function shownAs(address, href) {
  return /^[\x21-\x7e]*$/.test(address) ? address : href;
}
