#pragma once
// The pieces of the `note` family that read input beyond the words: the
// numeric values of `note read` and note content piped on standard input.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// The value of `word` when it is the plain decimal notation of an unsigned
/// 64-bit integer: one optional leading "+", then ASCII digits only (leading
/// zeros allowed), at most 18446744073709551615. Anything else is nullopt.
std::optional<std::uint64_t> parse_usize(std::string_view word);

/// parse_usize(*value) for the value word of numeric flag `flag`; `value` is
/// nullopt when the flag was the last word. A missing or rejected value ends
/// the run with "<flag> requires a positive integer".
std::uint64_t parse_usize_flag(std::optional<std::string_view> value, std::string_view flag);

/// The whole of standard input as text, or nullopt when it is a terminal
/// (not read at all, so nobody waits for typing) or empty. A read error or
/// bytes that are not UTF-8 end the run with a message.
std::optional<std::string> read_stdin_content();
