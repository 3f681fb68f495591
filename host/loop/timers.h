#pragma once
// Deadlines of the event loop: a function to run once a point in time has
// passed. The loop sleeps no longer than until the next one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace host {

class Timers {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  /// Runs `fn` once `when` has passed; the id can cancel it.
  Id at(Clock::time_point when, std::function<void()> fn);
  void cancel(Id id);
  /// The earliest pending deadline.
  std::optional<Clock::time_point> next() const;
  /// Runs, in deadline order, every function whose deadline is not after
  /// `now`, including ones that those functions add.
  void run_due(Clock::time_point now);

 private:
  std::map<std::pair<Clock::time_point, Id>, std::function<void()>> pending_;
  Id next_id_ = 1;
};

}  // namespace host
