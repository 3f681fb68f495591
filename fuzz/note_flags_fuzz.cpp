// The value words of `note read --offset/--limit`: the parser must accept
// exactly the plain decimal notation of an unsigned 64-bit integer, checked
// here against a second, digit-string based reading.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "commands/note_input.h"

namespace {

/// Whether `word` is "+"? digits with a value of at most 2^64 - 1, and that
/// value; decided on the digit string alone.
std::optional<std::uint64_t> reference(std::string_view word) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  if (word.empty()) return std::nullopt;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  while (word.size() > 1 && word.front() == '0') word.remove_prefix(1);
  constexpr std::string_view kMax = "18446744073709551615";
  if (word.size() > kMax.size() || (word.size() == kMax.size() && word > kMax)) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : word) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view word(reinterpret_cast<const char*>(data), size);
  if (parse_usize(word) != reference(word)) __builtin_trap();
  return 0;
}
