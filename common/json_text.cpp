#include "json_text.h"

#include <cstdint>
#include <string_view>

#include "json_library.h"

namespace wire {
namespace {

/// What the library skips at the start of a text and JSON does not allow.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

/// Line and column, as the error texts show them, of the position just after
/// the first `consumed` bytes of `text`.
std::string position_text(std::string_view text, std::size_t consumed) {
  if (consumed > text.size()) consumed = text.size();
  std::size_t line = 1, column = 0;
  for (std::size_t i = 0; i < consumed; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 0;
    } else {
      ++column;
    }
  }
  return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

/// Index of the first bracket that opens a container on the level past
/// kMaxDepth, or text.size() when there is none.
std::size_t too_deep_bracket(std::string_view text) {
  std::size_t depth = 0;
  bool in_string = false, escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return i;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    }
  }
  return text.size();
}

ParseError failure(std::string problem, std::string_view text, std::size_t consumed) {
  return ParseError{problem + position_text(text, consumed)};
}

}  // namespace

Parsed parse_json(std::string_view text) { return parse_json(text, SIZE_MAX); }

Parsed parse_json(std::string_view text, std::size_t max_values) {
  if (text.starts_with(kByteOrderMark)) return failure("unexpected byte order mark", text, 1);
  Json root;
  library::Run outcome = library::parse(text, root, max_values);
  if (outcome.too_many) {
    return ParseError{"more than " + std::to_string(max_values) + " values", true};
  }
  if (outcome.too_deep) return failure("recursion limit exceeded", text, too_deep_bracket(text) + 1);
  // The library reads a NUL byte outside a string as the end of the text:
  // where it stopped at one, or after a whole value, the NUL is the fault.
  std::size_t stop = outcome.position;
  if (!outcome.parsed && stop > 0 && stop <= text.size() && text[stop - 1] == '\0' &&
      outcome.problem.starts_with("EOF while parsing")) {
    return failure("unexpected NUL byte", text, stop);
  }
  if (!outcome.parsed) return failure(outcome.problem, text, stop);
  if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return failure("trailing characters", text, nul + 1);
  }
  return root;
}

std::string to_wire(const Json& value) { return value.dump(); }

}  // namespace wire
