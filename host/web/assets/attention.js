// What each terminal asks of the person, in words and colour, free of the
// page: the host says it with each terminal (working, idle, input,
// finished, exited); the page shows it in the window's header, counts the
// terminals awaiting input in the tab's title and lists them.

/** The words of each state the host sends. */
const WORDS = { working: 'working', idle: 'idle', input: 'awaiting input', finished: 'finished', exited: 'exited' };

/**
 * The state a terminal's header shows, as [class, words]: a shell that
 * joined (the host does not see its screen), a terminal held (restored, not
 * yet running), an exited one with its status, else what the host says it
 * asks of the person.
 */
export function stateBadge(data) {
  if (data.state === 'joined') return ['joined', 'joined'];
  if (data.state === 'held') return ['held', 'held'];
  if (data.state === 'exited') return ['exited', `exited ${data.exitCode ?? ''}`.trim()];
  const attention = WORDS[data.attention] ? data.attention : 'idle';
  return [attention, WORDS[attention]];
}

/** The terminals of `items` (item data) awaiting input, by name: [{id, name}]. */
export function awaitingInput(items) {
  return items.filter((d) => d.kind === 'terminal' && d.attention === 'input' && d.state !== 'exited')
    .map(({ id, name }) => ({ id, name }))
    .sort((a, b) => a.name.localeCompare(b.name));
}

/** The tab's title: the number awaiting the person first, in parentheses, as chat applications do. */
export function pageTitle(count, base) {
  return count > 0 ? `(${count}) ${base}` : base;
}

/** The ids of `now` (a list of {id}) not in the set `before`: who has just begun to wait. */
export function newlyAwaiting(before, now) {
  return now.filter(({ id }) => !before.has(id)).map(({ id }) => id);
}
