#include "protocol/keeper.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "base/token.h"
#include "loop/log.h"
#include "screen/redraw.h"

namespace host {
namespace {

/// The size a restored terminal gets: the one the page gave its name, else
/// the saved one, within what the page allows.
std::pair<int, int> restored_size(const Canvas& canvas, const SavedTerminal& saved) {
  const Box* box = canvas.box(Item::terminal(saved.name));
  int rows = box != nullptr && box->h > 0 ? box->h : saved.rows;
  int cols = box != nullptr && box->w > 0 ? box->w : saved.cols;
  return {std::clamp(rows, 2, 500), std::clamp(cols, 10, 1000)};
}

std::string reversed(const std::string& line) { return "\x1b[0;7m" + line + "\x1b[0m\r\n"; }

}  // namespace

Keeper::Keeper(Canvas& canvas, TerminalSet& terminals, TerminalStore& store, KeeperSettings settings)
    : canvas_(canvas),
      terminals_(terminals),
      store_(store),
      settings_(settings),
      timers_(terminals.reactor().timers()) {}

Keeper::~Keeper() {
  timers_.cancel(tick_timer_);
  timers_.cancel(records_timer_);
}

std::string Keeper::kept_text(const Screen& screen) {
  return screen_lines(screen, kKeptHistory, TerminalStore::kMaxScreenBytes);
}

std::string Keeper::held_line(const std::string& name, bool screen_lost) {
  std::string what = screen_lost ? "restored without its screen (unreadable)" : "restored";
  return what + " and held: welkmora-host resume " + name + " runs it";
}

std::string Keeper::restore(const std::vector<SavedTerminal>& saved) {
  std::string lead_screen;
  for (const SavedTerminal& t : saved) {
    on_disk_.insert(t.name);
    if (t.lead) {
      old_lead_ = t.name;
      lead_ropes_.insert(t.ropes.begin(), t.ropes.end());
      lead_screen = saved_screen(t.name).text + reversed("the workspace was restarted: a new shell");
    } else {
      hold(t);
    }
  }
  tie_ropes(saved);
  if (!settings_.save_screens) {
    for (const std::string& name : std::exchange(on_disk_, {})) store_.drop_screen(name);
  }
  tick_timer_ = timers_.at(Clock::now() + settings_.tick, [this] { tick(); });
  return lead_screen;
}

Keeper::Shown Keeper::saved_screen(const std::string& name) {
  wire::Fallible<SavedScreen> screen = store_.load_screen(name);
  if (screen.ok()) return {std::move(screen->text), true, false};
  // No file is no screen; a file that is refused is a screen lost.
  bool lost = ::access(store_.screen_path(name).c_str(), F_OK) == 0;
  if (lost) report("the screen of " + escape_controls(name) + " is not restored: " + screen.failure().text);
  return {std::string(), false, lost};
}

void Keeper::hold(const SavedTerminal& t) {
  if (!check_name("name", t.name).ok() || canvas_.terminal(t.name) != nullptr || canvas_.notes().contains(t.name)) {
    report("a saved terminal is not restored: its name is not free: " + escape_controls(t.name));
    return;
  }
  wire::Fallible<std::string> token = new_token();
  if (!token.ok()) {
    report("a saved terminal is not restored: " + token.failure().text);
    return;
  }
  Shown screen = saved_screen(t.name);
  auto [rows, cols] = restored_size(canvas_, t);
  std::string role = canvas_.role(t.role).ok() ? t.role : std::string();
  canvas_.add_terminal({t.name, std::move(*token), false, role, false, Recipe{t.command, t.preset, t.cwd}});
  terminals_.hold(t.name, rows, cols, screen.text + reversed(held_line(t.name, screen.lost)), t.exit_code);
  cwds_[t.name] = t.cwd;
  log_event("restore", {{"name", t.name}, {"screen", screen.found ? "yes" : "no"}});
}

void Keeper::tie_ropes(const std::vector<SavedTerminal>& saved) {
  for (const SavedTerminal& t : saved) {
    for (const std::string& other : t.ropes) {
      if (other == old_lead_) lead_ropes_.insert(t.name);
      const TerminalEntry* a = canvas_.terminal(t.name);
      const TerminalEntry* b = canvas_.terminal(other);
      if (a != nullptr && b != nullptr && !a->persons && !b->persons && a != b) {
        canvas_.rope(Item::terminal(t.name), Item::terminal(other));
      }
    }
  }
}

void Keeper::lead_started(const std::string& name) {
  for (const std::string& other : lead_ropes_) {
    const TerminalEntry* entry = canvas_.terminal(other);
    if (other != name && entry != nullptr && !entry->joined) {
      canvas_.rope(Item::terminal(name), Item::terminal(other));
    }
  }
  lead_ropes_.clear();
  changed();
}

void Keeper::changed() {
  if (records_due_ || stopped_) return;
  records_due_ = true;
  records_timer_ = timers_.at(Clock::now(), [this] {
    records_due_ = false;
    records_timer_ = 0;
    save_records(records());
  });
}

void Keeper::tick() {
  tick_timer_ = timers_.at(Clock::now() + settings_.tick, [this] { tick(); });
  save(false);
  report_failures();
}

void Keeper::save_all() {
  if (stopped_) return;
  save(true);
  // What the stop does to the terminals next is not kept.
  stopped_ = true;
  timers_.cancel(std::exchange(tick_timer_, 0));
  timers_.cancel(std::exchange(records_timer_, 0));
  store_.flush();
  report_failures();
}

void Keeper::save(bool all) {
  std::vector<SavedTerminal> now = records();
  save_screens(now, all);
  save_records(std::move(now));
}

void Keeper::save_records(std::vector<SavedTerminal> now) {
  if (records_saved_ && now == saved_records_) return;
  store_.save(now);
  saved_records_ = std::move(now);
  records_saved_ = true;
}

std::vector<SavedTerminal> Keeper::records() {
  std::vector<SavedTerminal> out;
  for (const auto& [name, entry] : canvas_.terminals()) {
    Terminal* t = entry.joined ? nullptr : terminals_.find(name);
    if (t == nullptr) continue;
    SavedTerminal r;
    r.name = name;
    r.command = entry.recipe.command;
    r.preset = entry.recipe.preset;
    r.cwd = cwd_of(name, *t, entry.recipe.cwd);
    r.role = entry.role;
    r.rows = t->screen().rows();
    r.cols = t->screen().cols();
    r.ropes = terminal_ropes(name);
    r.held = t->held();
    r.lead = entry.persons;
    r.exit_code = t->exit_code();
    out.push_back(std::move(r));
  }
  return out;
}

void Keeper::save_screens(const std::vector<SavedTerminal>& records, bool all) {
  std::set<std::string> kept;
  Clock::time_point now = Clock::now();
  for (const SavedTerminal& r : records) {
    kept.insert(r.name);
    const Terminal* t = terminals_.find(r.name);
    // A held terminal's file is the screen it came back with.
    if (!settings_.save_screens || t == nullptr || t->held()) continue;
    const Screen& screen = t->screen();
    ScreenSaved& last = screens_[r.name];
    bool changed = last.terminal != t || last.change != screen.change() || last.scrolled != screen.lines_scrolled();
    if (!changed || (!all && now - last.at < settings_.screen_interval)) continue;
    store_.save_screen(r.name, {screen.rows(), screen.cols(), kept_text(screen)});
    last = {t, screen.change(), screen.lines_scrolled(), now};
  }
  // The screens of terminals that are gone.
  for (auto it = on_disk_.begin(); it != on_disk_.end();) {
    if (kept.contains(*it)) {
      ++it;
      continue;
    }
    store_.drop_screen(*it);
    screens_.erase(*it);
    cwds_.erase(*it);
    it = on_disk_.erase(it);
  }
  on_disk_.insert(kept.begin(), kept.end());
}

std::string Keeper::cwd_of(const std::string& name, const Terminal& terminal, const std::string& known) {
  auto [it, added] = cwds_.try_emplace(name, known);
  if (terminal.pid() > 0 && !terminal.exited()) {
    char path[PATH_MAX];
    std::string link = "/proc/" + std::to_string(terminal.pid()) + "/cwd";
    ssize_t n = ::readlink(link.c_str(), path, sizeof path);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof path) it->second.assign(path, static_cast<std::size_t>(n));
  }
  return it->second;
}

std::vector<std::string> Keeper::terminal_ropes(const std::string& name) const {
  std::vector<std::string> out;
  Item self = Item::terminal(name);
  for (const Rope& rope : canvas_.ropes()) {
    if (!rope.touches(self) || rope.has_note()) continue;
    const TerminalEntry* other = canvas_.terminal(rope.other(self).name);
    if (other != nullptr && !other->joined) out.push_back(other->name);
  }
  return out;
}

void Keeper::report_failures() {
  for (const std::string& failure : store_.take_failures()) report("cannot save the terminals: " + failure);
}

}  // namespace host
