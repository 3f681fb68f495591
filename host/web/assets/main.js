// The canvas page's entry: one WebSocket to the host, which sends a snapshot
// of the canvas and then every change as it happens (the page never polls),
// and takes what the person does as messages that the host answers.

import { Board } from './board.js';

const link = document.getElementById('link');
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

const handlers = {
  snapshot(m) {
    board.snapshot(m);
    handlers.lists(m);
    board.fit();
  },
  item: (m) => board.upsert(m),
  removed: (m) => board.remove(m.id),
  ropes: (m) => board.setRopes(m.ropes),
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

function connect() {
  socket = new WebSocket(`ws://${location.host}/ws`, 'welkmora-canvas');
  socket.addEventListener('open', () => {
    link.textContent = 'live';
    link.className = 'link up';
  });
  socket.addEventListener('message', (event) => {
    const message = JSON.parse(event.data);
    const handle = handlers[message.t];
    if (handle) handle(message);
  });
  socket.addEventListener('close', () => {
    link.textContent = 'disconnected: reload to reconnect';
    link.className = 'link down';
    for (const resolve of waiting.values()) resolve({ error: 'the connection to the host has closed' });
    waiting.clear();
  });
}

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
