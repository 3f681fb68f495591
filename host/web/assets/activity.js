// The activity panel: the host's activity log as it happens (joins,
// recruits, asks, answers with their durations and end reasons, dismissals,
// refusals), the last 200 kept; clicking an entry centres the view on its
// terminals.

export class ActivityLog {
  constructor(board) {
    this.board = board;
    this.panel = document.getElementById('activity');
    this.list = this.panel.querySelector('ol.log');
    document.getElementById('show-activity').addEventListener('click', () => {
      this.panel.hidden = !this.panel.hidden;
      document.getElementById('search').hidden = true;
      board.panelsChanged();
    });
  }

  add(m) {
    const entry = document.createElement('li');
    const time = new Date(m.time).toLocaleTimeString();
    const { t, seq, time: _, event, name, ...fields } = m;
    const rest = Object.entries(fields).map(([k, v]) => `${k}=${v}`).join(' ');
    entry.textContent = `${time} ${event} ${name ?? ''} ${rest}`;
    entry.className = event;
    const ids = [name, fields.by].filter(Boolean).map((n) => `t:${n}`);
    entry.addEventListener('click', () => this.board.show(ids));
    this.list.prepend(entry);
    while (this.list.children.length > 200) this.list.lastChild.remove();
  }
}
