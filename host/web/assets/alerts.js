// Who needs the person, outside the windows themselves: the tab's title
// starts with the number of terminals awaiting input, "(2) welkmora
// canvas", as chat applications do; the activity panel lists them, each a
// link that brings it near; and, once the person allows it (off until
// then, one click on the toolbar's bell), the browser raises a
// notification when one begins to wait while the page is not in front.

import { awaitingInput, newlyAwaiting, pageTitle } from './attention.js';
import { el } from './windows.js';

const TITLE = 'welkmora canvas';
const STORED = 'welkmora-notify';

export class Alerts {
  constructor(board) {
    this.board = board;
    this.list = document.getElementById('awaiting');
    this.activityButton = document.getElementById('show-activity');
    this.bell = document.getElementById('notify');
    this.waiting = new Set();
    this.bell.addEventListener('click', () => this.toggle());
    this.showBell();
  }

  /** Notifications are wanted and allowed. */
  enabled() {
    return localStorage.getItem(STORED) === 'on' && typeof Notification !== 'undefined' &&
      Notification.permission === 'granted';
  }

  async toggle() {
    if (this.enabled()) {
      localStorage.removeItem(STORED);
    } else if (typeof Notification !== 'undefined') {
      const permission = await Notification.requestPermission();
      if (permission === 'granted') localStorage.setItem(STORED, 'on');
    }
    this.showBell();
  }

  showBell() {
    const on = this.enabled();
    this.bell.classList.toggle('on', on);
    this.bell.title = on ? 'notifications on: a terminal that awaits input while this page is not in front ' +
      'raises one (click to turn off)' : 'raise a notification when a terminal awaits input (off)';
  }

  /** The items changed: counts and lists those awaiting input again. */
  update() {
    const awaiting = awaitingInput([...this.board.items.values()].map((i) => i.data));
    document.title = pageTitle(awaiting.length, TITLE);
    this.activityButton.textContent = awaiting.length ? `Activity (${awaiting.length})` : 'Activity';
    this.activityButton.classList.toggle('waiting', awaiting.length > 0);
    this.list.hidden = awaiting.length === 0;
    this.list.replaceChildren(el('h3', null, 'Awaiting input'), ...awaiting.map(({ id, name }) => {
      const link = el('a', null, name);
      link.href = `#${id}`;
      link.addEventListener('click', (e) => {
        e.preventDefault();
        const item = this.board.items.get(id);
        if (item) this.board.activate(item);
      });
      const entry = el('li');
      entry.append(link);
      return entry;
    }));
    const fresh = newlyAwaiting(this.waiting, awaiting);
    this.waiting = new Set(awaiting.map(({ id }) => id));
    if (fresh.length && this.enabled() && (document.hidden || !document.hasFocus())) {
      for (const id of fresh) this.notify(id);
    }
  }

  notify(id) {
    const item = this.board.items.get(id);
    if (!item) return;
    const note = new Notification(`${item.name} is awaiting input`, {
      body: item.screen ? item.screen.cursorLine() : '', tag: id, icon: '/favicon.svg' });
    note.addEventListener('click', () => {
      window.focus();
      this.board.activate(item);
      note.close();
    });
  }
}
