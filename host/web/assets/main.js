// The canvas page's entry: the feed from the host (feed.js) drives the
// board (board.js) and the panels around it; the toolbar's dialogs recruit
// terminals and create notes.

import { ActivityLog } from './activity.js';
import { Alerts } from './alerts.js';
import { Board } from './board.js';
import { Feed } from './feed.js';
import { Search } from './search.js';

const link = document.getElementById('link');
const notice = document.getElementById('notice');
const toast = document.getElementById('toast');
const lists = { roles: [], presets: [] };

function showError(text) {
  toast.textContent = text;
  toast.hidden = false;
  clearTimeout(showError.timer);
  showError.timer = setTimeout(() => (toast.hidden = true), 5000);
}

/** Shows (or, with null, hides) a notice over the whole page. */
function showNotice(title, text) {
  notice.hidden = !title;
  if (!title) return;
  notice.querySelector('h2').textContent = title;
  notice.querySelector('p').textContent = text;
}

function setLink(text, state) {
  link.textContent = text;
  link.className = `link ${state}`;
  document.body.classList.toggle('offline', state !== 'up');
}

/** Sends an action; resolves to the host's reply, an error shown unless `quiet`. */
async function act({ quiet, ...message }) {
  const reply = await feed.request(message);
  if (reply.error && !quiet) showError(reply.error);
  return reply;
}

let alerts = null, search = null, log = null;
const board = new Board({
  act,
  tell: (message) => feed.tell(message),
  changed: () => alerts && alerts.update(),
  search: () => search.open(),
});
alerts = new Alerts(board);
search = new Search(board);
log = new ActivityLog(board);
window.welkmora = { board };  // for the person's console and the browser tests

const feed = new Feed({
  activity(m) {
    board.activity(m);
    log.add(m);
  },
  stopped: () => setLink('host stopped: reconnecting…', 'down'),
  snapshot(m) {
    showNotice(null);
    board.snapshot(m);
    lists.roles = m.roles;
    lists.presets = m.presets;
  },
  item: (m) => board.upsert(m),
  removed: (m) => board.remove(m.id),
  rope: (m) => board.ropes.tie(m.a, m.b, m.on),
  screen(m) {
    board.screen(m);
    feed.drew();
  },
  lists(m) {
    lists.roles = m.roles;
    lists.presets = m.presets;
  },
}, setLink, showNotice);

// Toolbar buttons give the keys back to the canvas once clicked.
for (const button of document.querySelectorAll('#bar button')) button.addEventListener('click', () => button.blur());
document.getElementById('search-open').addEventListener('click', () => search.open());

function fillSelect(select, names, none) {
  select.replaceChildren(new Option(none, ''), ...names.map((n) => new Option(n, n)));
}

/** Opens `dialog`; on submit runs `submit(form)`, which answers with the host's reply. */
function dialogFor(button, dialog, prepare, submit) {
  const form = dialog.querySelector('form');
  const error = dialog.querySelector('.error');
  button.addEventListener('click', () => {
    form.reset();
    error.hidden = true;
    prepare(form);
    dialog.showModal();
  });
  form.addEventListener('submit', async (event) => {
    if (event.submitter && event.submitter.value === 'cancel') return;
    event.preventDefault();
    const reply = await submit(form);
    if (reply.error) {
      error.textContent = reply.error;
      error.hidden = false;
    } else {
      dialog.close();
    }
  });
}

dialogFor(document.getElementById('recruit'), document.getElementById('recruit-dialog'), (form) => {
  fillSelect(form.role, lists.roles, '(no role)');
  fillSelect(form.preset, lists.presets, '(no preset)');
}, (form) => {
  const message = { op: 'recruit', name: form.name.value, quiet: true };
  for (const field of ['role', 'preset', 'cmd']) if (form[field].value) message[field] = form[field].value;
  return act(message);
});

dialogFor(document.getElementById('new-note'), document.getElementById('note-dialog'), () => {}, (form) => {
  const message = { op: 'note-create', text: '', quiet: true };
  if (form.name.value) message.name = form.name.value;
  return act(message);
});

feed.connect();
