// The canvas page's entry: one WebSocket to the host, which sends a snapshot
// of the canvas and then every change as it happens (the page never polls),
// and takes what the person does as messages that the host answers. When
// the host stops, every window shows it at once and the page connects again
// by itself, with backoff, redrawing everything from the next snapshot. A
// key the host refuses gets a page that says what to do.

import { Board } from './board.js';

const link = document.getElementById('link');
const notice = document.getElementById('notice');
const toast = document.getElementById('toast');
let socket = null;
let nextRequest = 1;
const waiting = new Map();
const lists = { roles: [], presets: [] };

function showError(text) {
  toast.textContent = text;
  toast.hidden = false;
  clearTimeout(showError.timer);
  showError.timer = setTimeout(() => (toast.hidden = true), 5000);
}

/** Sends an action; resolves to the host's reply ({error} when it refused). */
function act(message) {
  return new Promise((resolve) => {
    if (!socket || socket.readyState !== WebSocket.OPEN) {
      resolve({ error: 'not connected to the host' });
      return;
    }
    const req = nextRequest++;
    waiting.set(req, resolve);
    const { quiet, ...wire } = message;
    socket.send(JSON.stringify({ ...wire, req }));
  }).then((reply) => {
    if (reply.error && !message.quiet) showError(reply.error);
    return reply;
  });
}

const board = new Board({ act });
window.welkmora = { board };  // for the person's console and the browser tests

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

const handlers = {
  activity(m) {
    board.activity(m);
    const list = document.querySelector('#activity ol');
    const entry = document.createElement('li');
    const time = new Date(m.time).toLocaleTimeString();
    const { t, seq, time: _, event, name, ...fields } = m;
    const rest = Object.entries(fields).map(([k, v]) => `${k}=${v}`).join(' ');
    entry.textContent = `${time} ${event} ${name ?? ''} ${rest}`;
    fields.name = name;
    entry.className = event;
    entry.addEventListener('click', () => board.show([fields.name, fields.by].filter(Boolean).map((n) => `t:${n}`)));
    list.prepend(entry);
    while (list.children.length > 200) list.lastChild.remove();
  },
  stopped() {
    setLink('host stopped: reconnecting…', 'down');
  },
  snapshot(m) {
    showNotice(null);
    board.snapshot(m);
    handlers.lists(m);
    if (!board.viewMoved) board.fit();
  },
  item: (m) => board.upsert(m),
  removed: (m) => board.remove(m.id),
  rope: (m) => board.setRope(m.a, m.b, m.on),
  screen(m) {
    board.screen(m);
    acknowledge();
  },
  lists(m) {
    lists.roles = m.roles;
    lists.presets = m.presets;
  },
  reply(m) {
    const resolve = waiting.get(m.req);
    waiting.delete(m.req);
    if (resolve) resolve(m);
  },
};

// Screens drawn are acknowledged once per frame: the host sends no more
// than the page draws.
let drawn = 0;
let ackFrame = 0;
function acknowledge() {
  drawn++;
  if (ackFrame) return;
  ackFrame = requestAnimationFrame(() => {
    ackFrame = 0;
    if (socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify({ op: 'ack', screens: drawn }));
    drawn = 0;
  });
}

/** The page's key, from the address after "#": a browser never sends that part to any server. */
function pageKey() {
  return new URLSearchParams(location.hash.slice(1)).get('key') || '';
}

const RETRY_FIRST = 250, RETRY_MOST = 2000;
let retry = RETRY_FIRST;

/** After a connection that never opened: is the host there (then it refused the key)? */
async function refusedOrGone() {
  try {
    const answer = await fetch('/favicon.svg', { cache: 'no-store' });
    return answer.ok ? 'refused' : 'gone';
  } catch {
    return 'gone';
  }
}

function connect() {
  if (!pageKey()) {
    showNotice('This page needs its key',
      'Open the address welkmora-host printed when it started ("canvas: http://…/#key=…"); ' +
      'a bookmark of that address keeps working while the host keeps its key file.');
    return;
  }
  // The key goes as a subprotocol, to this host's WebSocket alone.
  socket = new WebSocket(`ws://${location.host}/ws`, ['welkmora-canvas', `welkmora-key.${pageKey()}`]);
  let opened = false;
  socket.addEventListener('open', () => {
    opened = true;
    retry = RETRY_FIRST;
    setLink('live', 'up');
  });
  socket.addEventListener('message', (event) => {
    const message = JSON.parse(event.data);
    const handle = handlers[message.t];
    if (handle) handle(message);
  });
  socket.addEventListener('close', async () => {
    for (const resolve of waiting.values()) resolve({ error: 'the connection to the host has closed' });
    waiting.clear();
    setLink('host stopped: reconnecting…', 'down');
    if (!opened && (await refusedOrGone()) === 'refused') {
      showNotice('The host refused this page\u2019s key',
        'welkmora-host runs here, but with another key: it was started with another state file, or its key ' +
        'file (beside the state file, or --web-key-file) was removed. Open the address it printed when it ' +
        'started ("canvas: http://…/#key=…").');
      setLink('key refused', 'down');
      retry = RETRY_MOST * 2;
    }
    setTimeout(connect, retry);
    retry = Math.min(RETRY_MOST, retry * 2);
  });
}

document.getElementById('show-activity').addEventListener('click', () => {
  const panel = document.getElementById('activity');
  panel.hidden = !panel.hidden;
});

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

connect();
