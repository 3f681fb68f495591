#pragma once
// UTF-8 checks shared by the client and the host.

#include <string>
#include <string_view>

namespace wire {

/// True when `text` is well-formed UTF-8: no overlong forms, no surrogates,
/// nothing above U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view text);

/// `text` with every byte that does not start a well-formed sequence replaced
/// by U+FFFD, so it can go into a JSON string.
std::string sanitize_utf8(std::string_view text);

}  // namespace wire
