#pragma once
// The benchmark's cases: which reply the stand-in app gives, how each client
// is run for it, and the goals for welkmora's ratios to the C client. Both
// reply_server and roundtrip build the replies from this one table, so the
// replies are never kept in the measuring process.

#include <string>
#include <string_view>
#include <vector>

namespace bench {

struct Case {
  std::string_view name;
  /// Arguments after the program name, the same for both clients.
  std::vector<std::string> args;
  /// Wall-time runs per client when -n does not say.
  int runs;
  /// Goals: welkmora's best wall time and its peak memory over the C
  /// client's, at most.
  double time_goal;
  double memory_goal;
};

/// The cases in the order they are run: small, 64 KiB and 16 MiB `check`
/// replies and a `list` of 1000 agents and 1000 notes.
const std::vector<Case>& cases();

/// The case called `name`, or nullptr.
const Case* find_case(std::string_view name);

/// The reply line, line feed included, that the stand-in app gives for `c`.
std::string reply_line(const Case& c);

}  // namespace bench
