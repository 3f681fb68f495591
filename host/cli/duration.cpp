#include "cli/duration.h"

#include <charconv>
#include <cstdint>

namespace host {

std::optional<std::chrono::milliseconds> parse_duration(std::string_view text) {
  std::uint64_t number = 0;
  auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || rest == text.data()) return std::nullopt;
  std::string_view unit(rest, static_cast<std::size_t>(text.data() + text.size() - rest));
  std::uint64_t scale = 0;
  if (unit == "ms") scale = 1;
  if (unit == "s" || unit.empty()) scale = 1000;
  if (unit == "m") scale = 60'000;
  const auto longest = static_cast<std::uint64_t>(kLongestDuration.count());
  if (scale == 0 || number == 0 || number > longest / scale) return std::nullopt;
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(number * scale));
}

}  // namespace host
