#pragma once
// UTF-8 shared by the client and the host: checks, repair, and one decoder
// and encoder of code points.

#include <string>
#include <string_view>

namespace utf8 {

/// True when `text` is well-formed UTF-8: no overlong forms, no surrogates,
/// nothing above U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view text);

/// Length of the well-formed sequence that starts at text[i], or 0 when
/// none does. `i` must be below text.size().
std::size_t utf8_sequence_length(std::string_view text, std::size_t i);

/// `text` with every byte that does not start a well-formed sequence replaced
/// by U+FFFD, so it can go into a JSON string.
std::string sanitize_utf8(std::string_view text);

/// The length of the control character that starts at text[i]: 1 for a C0
/// control, DEL, or a byte that starts no well-formed sequence (some
/// terminals read one as a C1 control), 2 for a C1 control (U+0080 to
/// U+009F); 0 for anything else. `i` must be below text.size().
std::size_t control_length(std::string_view text, std::size_t i);

/// `text` with each control character (see control_length) written as
/// "\xNN" byte by byte, but for the ASCII controls in `kept`, which stay.
std::string escape_controls(std::string_view text, std::string_view kept = {});

/// Decodes the code point that starts at text[i] and moves `i` past it. A
/// byte that does not start a well-formed sequence decodes as U+FFFD and
/// moves `i` by one. `i` must be below text.size().
char32_t next_code_point(std::string_view text, std::size_t& i);

/// Decodes the code point that ends just before text[end] and moves `end`
/// back to its start; a byte that does not end a well-formed sequence
/// decodes as U+FFFD and moves `end` back by one. `end` must be above 0.
char32_t previous_code_point(std::string_view text, std::size_t& end);

/// Writes the UTF-8 form of `cp` to `out`, which has room for four bytes,
/// and returns its length; U+FFFD for what is no Unicode scalar value
/// (surrogates, values above U+10FFFF).
std::size_t encode_utf8(char32_t cp, char* out);

/// Appends the UTF-8 form of `cp`, as encode_utf8() writes it.
void append_utf8(std::string& out, char32_t cp);

}  // namespace utf8
