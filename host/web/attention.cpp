#include "web/attention.h"

#include <algorithm>

#include "turns/turn.h"

namespace host {
namespace {

bool has_letter(std::string_view line) {
  return std::any_of(line.begin(), line.end(), [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; });
}

}  // namespace

std::string_view attention_name(Attention attention) {
  switch (attention) {
    case Attention::kIdle: return "idle";
    case Attention::kWorking: return "working";
    case Attention::kInput: return "input";
    case Attention::kFinished: return "finished";
    case Attention::kExited: return "exited";
  }
  return "idle";
}

bool awaits_input(const AttentionLook& look) {
  if (look.activity == Activity::kRunning || look.activity == Activity::kBusy) return false;
  if (looks_like_input_request(look.cursor_line)) return !look.alternate || has_letter(look.cursor_line);
  return look.activity == Activity::kWaiting && look.home_known && !look.at_home && !look.alternate;
}

bool AttentionTracker::set(Attention state) {
  if (exited_) state = Attention::kExited;
  bool changed = state != state_;
  state_ = state;
  return changed;
}

bool AttentionTracker::output(Clock::time_point at, bool alternate) {
  event_at_ = at;
  look_pending_ = true;
  bool echo = at - typed_at_ < kEcho;
  if (in_turn_ || echo || alternate) return false;
  question_ = false;
  if (!work_since_) work_since_ = at;
  work_until_ = at;
  return set(Attention::kWorking);
}

bool AttentionTracker::typed(Clock::time_point at) {
  typed_at_ = event_at_ = at;
  look_pending_ = true;
  finished_ = question_ = false;
  work_since_.reset();
  return state_ == Attention::kFinished ? set(Attention::kIdle) : false;
}

bool AttentionTracker::seen() {
  finished_ = false;
  return state_ == Attention::kFinished ? set(Attention::kIdle) : false;
}

bool AttentionTracker::turn_started(Clock::time_point at) {
  in_turn_ = true;
  finished_ = question_ = false;
  if (!work_since_) work_since_ = at;
  return set(Attention::kWorking);
}

bool AttentionTracker::turn_ended(Clock::time_point at) {
  in_turn_ = false;
  event_at_ = at;
  look_pending_ = true;
  finished_ = true;
  work_since_.reset();
  return set(Attention::kFinished);
}

bool AttentionTracker::turn_reason(std::string_view reason) {
  if (reason == "input") {
    finished_ = false;
    question_ = true;
    return set(Attention::kInput);
  }
  // Ended for the asker, not by the program: what it does now decides.
  if (reason == "cancelled" || reason == "dismissed" || reason == "failed" || reason == "exited") {
    finished_ = false;
    return set(Attention::kIdle);
  }
  return false;
}

bool AttentionTracker::exited() {
  exited_ = true;
  return set(Attention::kExited);
}

bool AttentionTracker::looked(Clock::time_point now, const AttentionLook& look) {
  look_pending_ = false;
  looked_at_ = now;
  if (exited_ || in_turn_) return false;
  if (look.activity == Activity::kRunning || look.activity == Activity::kBusy) {
    recheck_ = recheck_ == Clock::duration{} ? Clock::duration(kRecheckFirst)
                                             : std::min<Clock::duration>(recheck_ * 2, kRecheckMost);
    if (!work_since_) work_since_ = now;
    work_until_ = now;
    return set(Attention::kWorking);
  }
  recheck_ = {};
  if (question_ || awaits_input(look)) {
    finished_ = false;
    work_since_.reset();
    return set(Attention::kInput);
  }
  if (work_since_ && work_until_ - *work_since_ >= kStretch) finished_ = true;
  work_since_.reset();
  return set(finished_ ? Attention::kFinished : Attention::kIdle);
}

std::optional<Clock::time_point> AttentionTracker::look_due() const {
  if (exited_ || in_turn_) return std::nullopt;
  if (look_pending_) return std::max<Clock::time_point>(event_at_ + kQuiet, looked_at_ + kLookEvery);
  if (recheck_ != Clock::duration{}) return looked_at_ + recheck_;
  return std::nullopt;
}

}  // namespace host
