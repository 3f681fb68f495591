#pragma once
// The one place that reaches into nlohmann's internals (see json_library.cpp
// for why); json_text builds its parser on this and nothing else does.

#include <cstddef>
#include <string>
#include <string_view>

#include "json_text.h"

namespace wire::library {

/// What one run of the library's parser found.
struct Run {
  bool parsed = false;
  /// A container opened past kMaxDepth; the library says nothing of where.
  bool too_deep = false;
  /// More values than the caller allows.
  bool too_many = false;
  /// Bytes the library had read when it found the problem.
  std::size_t position = 0;
  /// The problem in the short words of the error texts.
  std::string problem;
};

/// Parses `text` into `root` with the nesting limit, a repeated key keeping
/// its last value, and stops at the value or member name past
/// `max_values`. As the library does, it skips a byte-order mark at the
/// start and takes a NUL byte outside a string for the end of the text.
Run parse(std::string_view text, Json& root, std::size_t max_values);

}  // namespace wire::library
