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
    typed.push_back(c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c));
  }
  return typed;
}

Asks::Asks(TerminalSet& terminals, Timers& timers, const TurnRule& rule)
    : terminals_(terminals), timers_(timers), rule_(rule) {}

Asks::~Asks() {
  for (auto& [name, turn] : turns_) timers_.cancel(turn.timer);
}

void Asks::start(const std::string& name, std::string_view prompt, Done done) {
  Terminal* terminal = terminals_.find(name);
  if (terminal == nullptr) throw Refusal("cannot type into a joined shell: " + name);
  if (terminal->exited() || !terminal->open()) throw Refusal("program has ended: " + name);
  if (busy(name)) throw Refusal("busy with another ask: " + name);
  std::string typed = typed_prompt(prompt);
  if (typed.size() > kMaxLinePrompt && terminal->line_mode()) {
    throw Refusal("prompt too long for a terminal line: " + std::to_string(typed.size()) + " bytes, at most " +
                  std::to_string(kMaxLinePrompt));
  }

  TurnMark mark = mark_turn(terminal->screen_snapshot(kVisibleScreen));
  Clock::time_point now = Clock::now();
  terminal->send(typed);
  Turn turn{terminal, next_serial_++, std::move(typed), std::move(mark), now, TurnTracker(rule_, now),
            0,        std::move(done)};
  auto it = turns_.emplace(name, std::move(turn)).first;
  arm(it->first, it->second, it->second.tracker.enter_due());
  if (listener_) listener_();
}

void Asks::arm(const std::string& name, Turn& turn, Clock::time_point when) {
  turn.timer = timers_.at(when, [this, name, serial = turn.serial] { step(name, serial); });
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

void Asks::advance(TurnMap::iterator it) {
  Turn& turn = it->second;
  Clock::time_point now = Clock::now();
  Terminal* terminal = terminals_.find(it->first);
  if (terminal != turn.terminal) {
    // Only the host's stop takes a terminal away without ending its turn.
    fail(it, "terminal is gone: " + it->first);
    return;
  }
  // The Enter waits until the prompt has gone out in full, so that it
  // arrives as a write of its own.
  bool enter_waits = false;
  if (turn.tracker.enter_pending() && now >= turn.tracker.enter_due()) {
    enter_waits = terminal->wants_write();
    if (!enter_waits) {
      terminal->send("\r");
      turn.tracker.enter_written(now);
    }
  }
  turn.tracker.output_seen(terminal->last_output());
  if (terminal->exited()) turn.tracker.peer_exited();
  ScreenText screen = terminal->screen_snapshot(kVisibleScreen);
  TurnState state = turn.tracker.judge(now, cursor_line(screen));
  if (state != TurnState::kRunning) {
    finish(it, state);
    return;
  }
  Clock::time_point next =
      enter_waits ? std::min(now + rule_.enter_delay, turn.typed_at + rule_.max_wait) : turn.tracker.next_deadline();
  arm(it->first, turn, std::max(next, now + std::chrono::milliseconds(1)));
}

void Asks::finish(TurnMap::iterator it, TurnState state, std::string_view note) {
  Turn turn = std::move(it->second);
  turns_.erase(it);
  timers_.cancel(turn.timer);
  ScreenText screen = turn.terminal->screen_snapshot(turn.mark.row);
  std::string output = wire::sanitize_utf8(turn_output(turn.mark, screen, turn.prompt));
  if (!note.empty()) output += (output.empty() ? "" : "\n") + std::string(note);
  int wait_status = turn.terminal->wait_status().value_or(0);
  turn.done({answer_turn(state, std::move(output), rule_, wait_status), {}});
  if (listener_) listener_();
}

void Asks::fail(TurnMap::iterator it, std::string error) {
  Done done = std::move(it->second.done);
  timers_.cancel(it->second.timer);
  turns_.erase(it);
  done({{}, std::move(error)});
  if (listener_) listener_();
}

void Asks::end_for_dismissal(std::string_view name) {
  auto it = turns_.find(name);
  if (it != turns_.end()) finish(it, TurnState::kEnded, "[dismissed during the turn]");
}

}  // namespace host
