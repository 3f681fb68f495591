#include "loop/timers.h"

#include "loop/guard.h"

namespace host {

Timers::Id Timers::at(Clock::time_point when, std::function<void()> fn) {
  Id id = next_id_++;
  pending_.emplace(Key{when, id}, std::move(fn));
  due_.emplace(id, when);
  return id;
}

void Timers::cancel(Id id) {
  auto it = due_.find(id);
  if (it == due_.end()) return;
  pending_.erase(Key{it->second, id});
  due_.erase(it);
}

std::optional<Clock::time_point> Timers::next() const {
  if (pending_.empty()) return std::nullopt;
  return pending_.begin()->first.first;
}

void Timers::run_due(Clock::time_point now) {
  while (!pending_.empty() && pending_.begin()->first.first <= now) {
    auto fn = std::move(pending_.begin()->second);
    due_.erase(pending_.begin()->first.second);
    pending_.erase(pending_.begin());
    run_guarded(fn);
  }
}

}  // namespace host
