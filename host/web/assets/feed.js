// The page's one WebSocket to the host, which sends a snapshot of the
// canvas and then every change as it happens (the page never polls), and
// takes what the person does as requests that it answers. Screens drawn are
// acknowledged once per frame, so the host sends no more than the page
// draws. When the host stops, the page connects again by itself, with
// backoff; a key the host refuses gets a notice that says what to do.

/** The first wait before connecting again, and the longest. */
export const RETRY_FIRST = 250, RETRY_MOST = 2000;

/** The wait after `previous` (0: none yet): twice as long, up to RETRY_MOST. */
export function nextRetry(previous) {
  return previous ? Math.min(RETRY_MOST, previous * 2) : RETRY_FIRST;
}

/** The page's key, from the address after "#": a browser never sends that part to any server. */
function pageKey() {
  return new URLSearchParams(location.hash.slice(1)).get('key') || '';
}

/** After a connection that never opened: is the host there (then it refused the key)? */
async function refusedOrGone() {
  try {
    const answer = await fetch('/favicon.svg', { cache: 'no-store' });
    return answer.ok ? 'refused' : 'gone';
  } catch {
    return 'gone';
  }
}

export class Feed {
  /**
   * `handlers` has a function for each message type of the host (by its
   * `t`); `status(text, state)` hears the link's state ('up', 'down');
   * `notice(title, text)` shows (or, with null, hides) a notice over the page.
   */
  constructor(handlers, status, notice) {
    this.handlers = handlers;
    this.status = status;
    this.notice = notice;
    this.socket = null;
    this.nextRequest = 1;
    this.waiting = new Map();
    this.retry = 0;
    this.drawn = 0;
    this.ackFrame = 0;
  }

  /** Sends a request; resolves to the host's reply ({result} or {error}). */
  request(message) {
    return new Promise((resolve) => {
      if (!this.socket || this.socket.readyState !== WebSocket.OPEN) {
        resolve({ error: 'not connected to the host' });
        return;
      }
      const req = this.nextRequest++;
      this.waiting.set(req, resolve);
      this.socket.send(JSON.stringify({ ...message, req }));
    });
  }

  /** Sends a message that has no reply. */
  tell(message) {
    if (this.socket && this.socket.readyState === WebSocket.OPEN) this.socket.send(JSON.stringify(message));
  }

  /** Counts a screen drawn; the host hears of those drawn once per frame. */
  drew() {
    this.drawn++;
    if (this.ackFrame) return;
    this.ackFrame = requestAnimationFrame(() => {
      this.ackFrame = 0;
      this.tell({ op: 'ack', screens: this.drawn });
      this.drawn = 0;
    });
  }

  connect() {
    if (!pageKey()) {
      this.notice('This page needs its key',
        'Open the address welkmora-host printed when it started ("canvas: http://…/#key=…"); ' +
        'a bookmark of that address keeps working while the host keeps its key file.');
      return;
    }
    // The key goes as a subprotocol, to this host's WebSocket alone.
    const socket = new WebSocket(`ws://${location.host}/ws`, ['welkmora-canvas', `welkmora-key.${pageKey()}`]);
    this.socket = socket;
    let opened = false;
    socket.addEventListener('open', () => {
      opened = true;
      this.retry = 0;
      this.status('live', 'up');
    });
    socket.addEventListener('message', (event) => {
      const message = JSON.parse(event.data);
      if (message.t === 'reply') {
        const resolve = this.waiting.get(message.req);
        this.waiting.delete(message.req);
        if (resolve) resolve(message);
        return;
      }
      const handle = this.handlers[message.t];
      if (handle) handle(message);
    });
    socket.addEventListener('close', async () => {
      for (const resolve of this.waiting.values()) resolve({ error: 'the connection to the host has closed' });
      this.waiting.clear();
      this.status('host stopped: reconnecting…', 'down');
      this.retry = nextRetry(this.retry);
      if (!opened && (await refusedOrGone()) === 'refused') {
        this.notice('The host refused this page\u2019s key',
          'welkmora-host runs here, but with another key: it was started with another state file, or its key ' +
          'file (beside the state file, or --web-key-file) was removed. Open the address it printed when it ' +
          'started ("canvas: http://…/#key=…").');
        this.status('key refused', 'down');
        this.retry = RETRY_MOST * 2;
      }
      setTimeout(() => this.connect(), this.retry);
    });
  }
}
