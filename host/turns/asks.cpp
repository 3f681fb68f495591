#include "turns/asks.h"

#include <algorithm>
#include <limits>

#include "base/refusal.h"
#include "utf8.h"

namespace {

/// With less room than this left for its input, a program counts as not
/// reading it; the same as in protocol/person.cpp.
constexpr std::size_t kInputHeadroom = 4096;

}  // namespace

namespace host {
namespace {

/// A snapshot's first row that gives the visible screen alone.
constexpr std::uint64_t kVisibleScreen = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::string typed_prompt(std::string_view prompt) {
  std::string typed;
  typed.reserve(prompt.size());
  for (std::size_t i = 0; i < prompt.size(); ++i) {
    auto c = static_cast<unsigned char>(prompt[i]);
    if (c == '\r' && i + 1 < prompt.size() && prompt[i + 1] == '\n') continue;  // the LF gives the space
    if (c == 0xC2 && i + 1 < prompt.size() && (static_cast<unsigned char>(prompt[i + 1]) & 0xE0) == 0x80) {
      ++i;  // U+0080-U+009F, the C1 controls (U+009B starts an escape sequence as ESC [ does)
      c = ' ';
    }
    typed.push_back(c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c));
  }
  return typed;
}

Asks::Asks(TerminalSet& terminals, Timers& timers, const TurnRule& rule)
    : terminals_(terminals), timers_(timers), rule_(rule) {}

Asks::~Asks() {
  for (auto& [name, turn] : turns_) timers_.cancel(turn.timer);
}

OrRefusal<TurnTicket> Asks::start(const std::string& name, std::string_view prompt, Done done) {
  Terminal* terminal = terminals_.find(name);
  if (terminal == nullptr) return refuse("cannot type into a joined shell: " + name);
  if (terminal->exited() || !terminal->open()) return refuse("program has ended: " + name);
  if (busy(name)) return refuse("busy with another ask: " + name);
  std::string typed = typed_prompt(prompt);
  if (typed.size() > Terminal::kMaxPendingInput) {
    return refuse("prompt too long: " + std::to_string(typed.size()) + " bytes, at most " +
                  std::to_string(Terminal::kMaxPendingInput));
  }
  if (terminal->pending_input() + std::max(typed.size(), kInputHeadroom) > Terminal::kMaxPendingInput) {
    return refuse("terminal is not reading its input: " + name);
  }
  if (typed.size() > kMaxLinePrompt && terminal->line_mode()) {
    return refuse("prompt too long for a terminal line: " + std::to_string(typed.size()) + " bytes, at most " +
                  std::to_string(kMaxLinePrompt));
  }

  Clock::time_point now = Clock::now();
  std::uint64_t serial = next_serial_++;
  Turn turn{terminal,
            serial,
            std::move(typed),
            {},
            now,
            false,
            TurnTracker(rule_, now),
            0,
            {},
            std::move(done),
            terminal->on_output([this, name, serial](std::string_view) { on_change(name, serial); }),
            terminal->on_end([this, name, serial] { on_change(name, serial); })};
  auto it = turns_.emplace(name, std::move(turn)).first;
  Turn& placed = it->second;
  arm(it->first, placed, type_when_ready(placed, now) ? placed.tracker.enter_due() : now + rule_.held_poll);
  if (listener_) listener_(name);
  return TurnTicket{name, serial};
}

bool Asks::type_when_ready(Turn& turn, Clock::time_point now) {
  if (turn.typed) return true;
  Terminal& terminal = *turn.terminal;
  PtyState pty = terminal.pty_state();
  ScreenText screen = terminal.screen_snapshot(kVisibleScreen);
  if (!ready_for_prompt(terminal.home(), screen, pty, now - terminal.last_output(), rule_, terminal.shows_work())) {
    return false;
  }
  learn_home(terminal.home(), screen, pty);
  turn.mark = mark_turn(screen, pty);
  terminal.send(turn.prompt);
  turn.tracker = TurnTracker(rule_, now, turn.asked_at);
  turn.typed = true;
  return true;
}

void Asks::arm(const std::string& name, Turn& turn, Clock::time_point when) {
  timers_.cancel(turn.timer);
  turn.timer_due = when;
  turn.timer = timers_.at(when, [this, name, serial = turn.serial] { step(name, serial); });
}

void Asks::on_change(const std::string& name, std::uint64_t serial) {
  auto it = turns_.find(name);
  if (it == turns_.end() || it->second.serial != serial) return;
  Turn& turn = it->second;
  Clock::time_point now = Clock::now();
  Clock::time_point when = turn.typed ? turn.tracker.recheck_after_output(now) : now + rule_.idle_quiet;
  if (turn.timer == 0 || when < turn.timer_due) arm(it->first, turn, when);
}

void Asks::step(const std::string& name, std::uint64_t serial) {
  auto it = turns_.find(name);
  if (it == turns_.end() || it->second.serial != serial) return;
  it->second.timer = 0;
  try {
    advance(it);
  } catch (const std::exception& e) {
    // The turn may be gone already, answered before the failure.
    it = turns_.find(name);
    if (it != turns_.end() && it->second.serial == serial) fail(it, std::string("internal error: ") + e.what());
  }
}

bool Asks::write_enter(Turn& turn, Terminal& terminal, Clock::time_point now) {
  if (!turn.tracker.enter_pending() || now < turn.tracker.enter_due()) return true;
  // The Enter waits until the prompt has gone out in full, so that it
  // arrives as a write of its own.
  if (terminal.wants_write()) return false;
  terminal.send("\r");
  turn.tracker.enter_written(now);
  return true;
}

void Asks::advance(TurnMap::iterator it) {
  Turn& turn = it->second;
  Clock::time_point now = Clock::now();
  Terminal* terminal = terminals_.find(it->first);
  if (terminal != turn.terminal) {
    // Only the host's stop takes a terminal away without ending its turn.
    fail(it, "terminal is gone: " + it->first);
    return;
  }
  if (!turn.typed && terminal->exited()) {
    finish(it, {TurnState::kExited, "exited"});
    return;
  }
  if (!type_when_ready(turn, now)) {
    if (now - turn.asked_at >= rule_.max_wait) {
      finish(it, {TurnState::kTimedOut, "busy"},
             "[still busy after " + duration_text(rule_.max_wait) + "; nothing was typed]");
    } else {
      arm(it->first, turn, now + rule_.held_poll);
    }
    return;
  }
  bool prompt_out = write_enter(turn, *terminal, now);
  turn.tracker.output_seen(terminal->last_output());
  if (terminal->exited()) turn.tracker.peer_exited();
  ScreenText screen = terminal->screen_snapshot(kVisibleScreen);
  TurnSignals signals =
      read_signals(turn.mark, screen, terminal->pty_state(), terminal->home(), terminal->shows_work());
  signals.echo_pending = echo_pending(signals.cursor_line, turn.prompt);
  TurnVerdict verdict = turn.tracker.judge(now, signals);
  if (verdict.state != TurnState::kRunning) {
    finish(it, verdict);
    return;
  }
  Clock::time_point next =
      prompt_out ? turn.tracker.next_deadline() : std::min(now + rule_.enter_quiet, turn.asked_at + rule_.max_wait);
  arm(it->first, turn, std::max(next, now + std::chrono::milliseconds(1)));
}

Asks::Turn Asks::take(TurnMap::iterator it) {
  std::string name = it->first;
  Turn turn = std::move(it->second);
  turns_.erase(it);
  timers_.cancel(turn.timer);
  if (listener_) listener_(name);
  return turn;
}

void Asks::finish(TurnMap::iterator it, TurnVerdict verdict, std::string_view note) {
  Turn turn = take(it);
  std::string output;
  int status = -1;
  if (turn.typed) {
    output = turn_output_of(turn, verdict.reason == "prompt");
    ScreenText screen = turn.terminal->screen_snapshot(kVisibleScreen);
    if (screen.marks.prompts > turn.mark.prompts) status = screen.marks.status;
  }
  if (!note.empty()) output += (output.empty() ? "" : "\n") + std::string(note);
  // A turn that never typed its prompt has no answer of the rule's to add.
  TurnState state = turn.typed || verdict.state != TurnState::kTimedOut ? verdict.state : TurnState::kEnded;
  int wait_status = turn.terminal->wait_status().value_or(0);
  AskOutcome outcome{answer_turn(state, std::move(output), rule_, wait_status),
                     {},
                     verdict.state,
                     verdict.reason,
                     Clock::now() - turn.asked_at,
                     status};
  turn.done(std::move(outcome));
}

std::string Asks::turn_output_of(Turn& turn, bool at_prompt) {
  Terminal& terminal = *turn.terminal;
  TurnEnd end{at_prompt, 0, terminal.left_alternate_at()};
  std::uint64_t from = std::min(turn.mark.row, turn.mark.top);
  if (end.normal_from) from = std::min(from, *end.normal_from);
  ScreenText screen = terminal.screen_snapshot(from);
  PtyState pty = terminal.pty_state();
  Home& home = terminal.home();
  const InputChrome& chrome = idle_chrome(turn.mark, pty, home);
  if (chrome.framed()) {
    end.chrome = &chrome;
    end.signs = &terminal.work_signs();
  }
  std::string_view line = cursor_line(screen);
  if (at_prompt) end.prompt_from = std::min(prompt_start(home, line), line.size());
  std::string output = utf8::sanitize_utf8(turn_output(turn.mark, screen, turn.prompt, end));
  if (at_prompt) {
    // The prompt it ended on is the program's idle prompt, as it looks now,
    // and so are the rows around its input.
    home.learn_prompt(std::string(line.substr(end.prompt_from)));
    if (InputChrome now = input_chrome(screen); now.framed() || pty.foreground == home.chrome_group) {
      home.chrome = std::move(now);
      home.chrome_group = pty.foreground;
    }
  }
  return output;
}

void Asks::fail(TurnMap::iterator it, std::string error) {
  Turn turn = take(it);
  turn.done({{}, std::move(error), TurnState::kRunning, "failed", Clock::now() - turn.asked_at});
}

void Asks::end_for_dismissal(std::string_view name) {
  auto it = turns_.find(name);
  if (it != turns_.end()) finish(it, {TurnState::kEnded, "dismissed"}, "[dismissed during the turn]");
}

void Asks::cancel(const TurnTicket& ticket) {
  auto it = turns_.find(ticket.name);
  if (it != turns_.end() && it->second.serial == ticket.serial) finish(it, {TurnState::kEnded, "cancelled"});
}

}  // namespace host
