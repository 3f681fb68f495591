#pragma once
// The host's one clock. Monotonic, so that deadlines (a turn's settle time,
// a dismissed program's grace) hold when the wall clock is set.

#include <chrono>

namespace host {

using Clock = std::chrono::steady_clock;

}  // namespace host
