#include "terminals/asks.h"

#include <algorithm>
#include <limits>

#include "model/refusal.h"
#include "utf8.h"

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

TurnTicket Asks::start(const std::string& name, std::string_view prompt, Done done) {
  Terminal* terminal = terminals_.find(name);
  if (terminal == nullptr) throw Refusal("cannot type into a joined shell: " + name);
  if (terminal->exited() || !terminal->open()) throw Refusal("program has ended: " + name);
  if (busy(name)) throw Refusal("busy with another ask: " + name);
  if (terminal->pending_input() >= Terminal::kMaxPendingInput) {
    throw Refusal("terminal is not reading its input: " + name);
  }
  std::string typed = typed_prompt(prompt);
  if (typed.size() > kMaxLinePrompt && terminal->line_mode()) {
    throw Refusal("prompt too long for a terminal line: " + std::to_string(typed.size()) + " bytes, at most " +
                  std::to_string(kMaxLinePrompt));
  }

  TurnMark mark = mark_turn(terminal->screen_snapshot(kVisibleScreen), terminal->pty_state());
  Clock::time_point now = Clock::now();
  terminal->send(typed);
  std::uint64_t serial = next_serial_++;
  Turn turn{terminal,
            serial,
            std::move(typed),
            std::move(mark),
            now,
            TurnTracker(rule_, now),
            0,
            {},
            std::move(done),
            terminal->on_output([this, name, serial](std::string_view) { on_change(name, serial); }),
            terminal->on_end([this, name, serial] { on_change(name, serial); })};
  auto it = turns_.emplace(name, std::move(turn)).first;
  arm(it->first, it->second, it->second.tracker.enter_due());
  if (listener_) listener_(name);
  return {name, serial};
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
  Clock::time_point when = turn.tracker.recheck_after_output(Clock::now());
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
  bool prompt_out = write_enter(turn, *terminal, now);
  turn.tracker.output_seen(terminal->last_output());
  if (terminal->exited()) turn.tracker.peer_exited();
  ScreenText screen = terminal->screen_snapshot(kVisibleScreen);
  TurnVerdict verdict = turn.tracker.judge(now, read_signals(turn.mark, screen, terminal->pty_state()));
  if (verdict.state != TurnState::kRunning) {
    finish(it, verdict);
    return;
  }
  Clock::time_point next =
      prompt_out ? turn.tracker.next_deadline() : std::min(now + rule_.enter_quiet, turn.typed_at + rule_.max_wait);
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
  ScreenText screen = turn.terminal->screen_snapshot(turn.mark.row);
  std::string output = wire::sanitize_utf8(turn_output(turn.mark, screen, turn.prompt));
  if (!note.empty()) output += (output.empty() ? "" : "\n") + std::string(note);
  int wait_status = turn.terminal->wait_status().value_or(0);
  AskOutcome outcome{answer_turn(verdict.state, std::move(output), rule_, wait_status),
                     {},
                     verdict.state,
                     verdict.reason,
                     Clock::now() - turn.typed_at};
  turn.done(std::move(outcome));
}

void Asks::fail(TurnMap::iterator it, std::string error) {
  Turn turn = take(it);
  turn.done({{}, std::move(error), TurnState::kRunning, "failed", Clock::now() - turn.typed_at});
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
