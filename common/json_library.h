#pragma once
// The one place that reaches into nlohmann's internals (see json_library.cpp
// for why); json_text builds its parser on this and nothing else does.

#include <cstddef>
#include <string>
#include <string_view>

#include "json_text.h"

namespace wire::library {

/// What one run of the library's parser found.
struct Outcome {
  bool parsed = false;
  /// A container opened past kMaxDepth; the library says nothing of where.
  bool too_deep = false;
  /// Bytes the library had read when it found the problem.
  std::size_t position = 0;
  /// The problem in the short words of the error texts.
  std::string problem;
};

/// Parses `text` into `root` with the nesting limit, a repeated key keeping
/// its last value. As the library does, it skips a byte-order mark at the
/// start and takes a NUL byte outside a string for the end of the text.
Outcome parse(std::string_view text, Json& root);

}  // namespace wire::library
