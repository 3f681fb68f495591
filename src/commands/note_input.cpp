// Numeric flag values and standard-input content for the `note` family.

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "io.h"
#include "notes.h"
#include "output.h"
#include "utf8.h"

std::optional<std::uint64_t> parse_usize(std::string_view word) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  // from_chars refuses signs and white space for unsigned types, but the
  // first character is checked anyway so that only digits ever reach it.
  if (word.empty() || word.front() < '0' || word.front() > '9') return std::nullopt;
  std::uint64_t value = 0;
  const char* end = word.data() + word.size();
  auto [stop, ec] = std::from_chars(word.data(), end, value);
  if (ec != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::uint64_t parse_usize_flag(std::optional<std::string_view> value, std::string_view flag) {
  std::optional<std::uint64_t> number = value ? parse_usize(*value) : std::nullopt;
  if (!number) out::fail(std::string(flag) + " requires a positive integer");
  return *number;
}

namespace {

[[noreturn]] void fail_stdin(std::string_view reason) {
  out::fail(std::string("failed to read note content from stdin: ").append(reason));
}

}  // namespace

std::optional<std::string> read_stdin_content() {
  if (::isatty(STDIN_FILENO)) return std::nullopt;
  std::string text;
  if (wire::Status s = wire::read_all(STDIN_FILENO, text); !s.ok()) fail_stdin(s.error());
  if (!wire::is_valid_utf8(text)) fail_stdin("stream did not contain valid UTF-8");
  if (text.empty()) return std::nullopt;
  return text;
}
