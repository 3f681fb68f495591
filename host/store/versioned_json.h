#pragma once
// What the host's own JSON files (the state file, the kept terminals) share:
// the refusal of a file that is corrupt, and the object with a "version"
// that each of them is.

#include <string>
#include <string_view>

#include "json_text.h"
#include "outcome.h"

namespace host {

/// Why a file is refused, in words for the person who has to repair it;
/// the caller gives it the file's name.
struct Corrupt {
  std::string why;
};

/// A value read from such a file, or why the file is refused.
template <class T>
using Read = outcome::Outcome<T, Corrupt>;

/// `text` as a JSON object whose "version" is `version`.
Read<wire::Json> read_versioned(std::string_view text, int version);

}  // namespace host
