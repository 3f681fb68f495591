#include "model/text_edit.h"

namespace host {
namespace {

/// Index just past line `n` (0-based) of `text`, or npos when `text` has no
/// more than `n` lines.
std::size_t start_of_line(std::string_view text, std::uint64_t n) {
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < n; ++i) {
    std::size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos) return std::string_view::npos;
    pos = lf + 1;
  }
  return pos < text.size() ? pos : std::string_view::npos;
}

}  // namespace

std::optional<std::string> replace_first(std::string_view text, std::string_view old_text, std::string_view new_text) {
  if (old_text.empty()) return std::nullopt;
  std::size_t at = text.find(old_text);
  if (at == std::string_view::npos) return std::nullopt;
  std::string out;
  out.reserve(text.size() - old_text.size() + new_text.size());
  out.append(text.substr(0, at)).append(new_text).append(text.substr(at + old_text.size()));
  return out;
}

std::string slice_lines(std::string_view text, std::uint64_t offset, std::optional<std::uint64_t> limit) {
  std::size_t begin = start_of_line(text, offset);
  if (begin == std::string_view::npos) return {};
  std::string_view rest = text.substr(begin);
  if (!limit) return std::string(rest);
  if (*limit == 0) return {};
  std::size_t end = start_of_line(rest, *limit);
  return std::string(end == std::string_view::npos ? rest : rest.substr(0, end));
}

std::uint64_t count_lines(std::string_view text) {
  std::uint64_t lines = 0;
  for (char c : text) lines += c == '\n';
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

}  // namespace host
