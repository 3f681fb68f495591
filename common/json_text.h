#pragma once
// The JSON text form shared by the client and the host: one parser with the
// nesting limit and error wording both sides use, and the compact writer.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "outcome.h"

namespace wire {

using Json = nlohmann::json;

/// Deepest nesting of arrays and objects a parsed text may have; the
/// outermost value is level 1. Bounds the recursion of the writer too.
inline constexpr std::size_t kMaxDepth = 127;

/// Why a text is not one JSON value.
struct ParseError {
  std::string text;
  /// The text held more values than the parse was allowed to build.
  bool too_many = false;
};

/// A JSON value, or the reason there is none.
using Parsed = outcome::Outcome<Json, ParseError>;

/// Parses `text` as exactly one JSON value; only space, tab, line feed and
/// carriage return may stand around it (a byte-order mark or a NUL byte is
/// an error like any other). A repeated key keeps its last value. On failure the error reads
/// "<problem> at line L column C" (1-based line; column counts the bytes of
/// the line up to and including the offending one, 0 at an empty line's end).
Parsed parse_json(std::string_view text);

/// As parse_json, but builds no more than `max_values` values and member
/// names (each counts one): a text with more fails at once, with
/// `too_many` set, having cost no more than that. What one value costs in
/// memory is many times the bytes of its text ("{}," makes an object of
/// about 80 bytes), so a length limit alone does not bound a parse.
Parsed parse_json(std::string_view text, std::size_t max_values);

/// Writes `value` as compact JSON: members in ascending byte order of their
/// keys, control characters escaped, everything else as raw UTF-8.
std::string to_wire(const Json& value);

}  // namespace wire
