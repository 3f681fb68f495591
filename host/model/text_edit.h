#pragma once
// The text operations behind note and role edits and note reads.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

/// `text` with the first occurrence of `old_text` replaced by `new_text`, or
/// nothing when `old_text` does not occur (or is empty).
std::optional<std::string> replace_first(std::string_view text, std::string_view old_text, std::string_view new_text);

/// The lines of `text` from line `offset` (0-based) on, at most `limit` of
/// them (all when absent), each with its own line feed. An offset past the
/// last line gives the empty text.
std::string slice_lines(std::string_view text, std::uint64_t offset, std::optional<std::uint64_t> limit);

/// How many lines `text` has; a last line without a line feed counts.
std::uint64_t count_lines(std::string_view text);

}  // namespace host
