#pragma once
// Deadlines of the event loop: a function to run once a point in time has
// passed. The loop sleeps no longer than until the next one. Adding and
// cancelling cost O(log n); the next deadline is O(1).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "loop/clock.h"

namespace host {

class Timers {
 public:
  using Id = std::uint64_t;

  /// Runs `fn` once `when` has passed; the id can cancel it.
  Id at(Clock::time_point when, std::function<void()> fn);
  /// Cancels timer `id`; nothing when it has run or was cancelled already.
  void cancel(Id id);
  /// The earliest pending deadline.
  std::optional<Clock::time_point> next() const;
  /// Runs, in deadline order, every function whose deadline is not after
  /// `now`, including ones that those functions add.
  void run_due(Clock::time_point now);

 private:
  using Key = std::pair<Clock::time_point, Id>;
  std::map<Key, std::function<void()>> pending_;
  std::unordered_map<Id, Clock::time_point> due_;
  Id next_id_ = 1;
};

}  // namespace host
