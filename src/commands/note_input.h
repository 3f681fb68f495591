#pragma once
// The pieces of the `note` family that read input beyond the words: the
// numeric values of `note read` and note content piped on standard input.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output.h"

/// The value of `word` when it is the plain decimal notation of an unsigned
/// 64-bit integer: one optional leading "+", then ASCII digits only (leading
/// zeros allowed), at most 18446744073709551615. Anything else is nullopt.
std::optional<std::uint64_t> parse_usize(std::string_view word);

/// The whole of standard input as text, or nullopt when it is a terminal
/// (not read at all, so nobody waits for typing) or empty. A read error or
/// bytes that are not UTF-8 are a failure.
out::Outcome<std::optional<std::string>> read_stdin_content();
