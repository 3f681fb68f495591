#include "timers.h"

namespace host {

Timers::Id Timers::at(Clock::time_point when, std::function<void()> fn) {
  Id id = next_id_++;
  pending_.emplace(std::make_pair(when, id), std::move(fn));
  return id;
}

void Timers::cancel(Id id) {
  std::erase_if(pending_, [id](const auto& entry) { return entry.first.second == id; });
}

std::optional<Timers::Clock::time_point> Timers::next() const {
  if (pending_.empty()) return std::nullopt;
  return pending_.begin()->first.first;
}

void Timers::run_due(Clock::time_point now) {
  while (!pending_.empty() && pending_.begin()->first.first <= now) {
    auto fn = std::move(pending_.begin()->second);
    pending_.erase(pending_.begin());
    fn();
  }
}

}  // namespace host
