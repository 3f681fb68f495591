#pragma once
// Durations on the command line, as `serve --settle 2s` takes them.

#include <chrono>
#include <optional>
#include <string_view>

namespace host {

/// Longest duration an option takes.
inline constexpr std::chrono::milliseconds kLongestDuration = std::chrono::hours(24);

/// Reads a whole number followed by "ms", "s" or "m" ("500ms", "2s", "10m");
/// a bare number counts as seconds. Nothing for any other text, for zero and
/// for more than kLongestDuration.
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);

}  // namespace host
