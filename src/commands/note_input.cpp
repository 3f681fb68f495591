// Numeric flag values and standard-input content for the `note` family.

#include "note_input.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "io.h"
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

namespace {

out::Failure stdin_failure(std::string_view reason) {
  return out::failure(std::string("failed to read note content from stdin: ").append(reason));
}

}  // namespace

out::Outcome<std::optional<std::string>> read_stdin_content() {
  if (::isatty(STDIN_FILENO)) return std::optional<std::string>();
  std::string text;
  if (wire::Status s = wire::read_all(STDIN_FILENO, text); !s.ok()) return stdin_failure(s.failure().text);
  if (!utf8::is_valid_utf8(text)) return stdin_failure("stream did not contain valid UTF-8");
  if (text.empty()) return std::optional<std::string>();
  return std::optional<std::string>(std::move(text));
}
