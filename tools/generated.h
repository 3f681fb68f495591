#pragma once
// What the tools that write generated files share: the generated region of
// a file that is otherwise written by hand (the lines between a begin marker
// line, which names the tool that writes the region, and an "end of the
// generated part" line, both comments in the file's language), and the
// shells' quoting.

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

namespace generated {

constexpr std::string_view kEnd = "end of the generated part";

/// `text` with the lines between the line holding `begin` and the next
/// line holding kEnd replaced by `region`; an error when either is missing.
inline std::optional<std::string> replace_region(const std::string& text, std::string_view begin,
                                                 const std::string& region, std::string& error) {
  std::size_t first = text.find(begin);
  std::size_t end = first == std::string::npos ? std::string::npos : text.find(kEnd, first);
  if (first == std::string::npos || end == std::string::npos) {
    error = "no generated region (a \"" + std::string(begin) + "\" line, then an \"" + std::string(kEnd) + "\" line)";
    return std::nullopt;
  }
  std::size_t after_begin = text.find('\n', first) + 1;
  std::size_t end_line = text.rfind('\n', end) + 1;
  return text.substr(0, after_begin) + region + text.substr(end_line);
}

/// Quotes for the shells' single-quoted strings.
inline std::string single_quoted(std::string_view text) {
  std::string q = "'";
  for (char c : text) q.append(c == '\'' ? "'\\''" : std::string(1, c));
  return q + "'";
}

inline std::string capitalised(std::string_view text) {
  std::string s(text);
  if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  return s;
}

}  // namespace generated
