#pragma once
// What the text of a state file says, read without touching a file: the
// notes (their texts, or the files beside it that hold them), the roles,
// the ropes with a note end and the places on the page. Every refusal says
// what is wrong in words for the person, who has to repair the file.

#include <map>
#include <string>
#include <string_view>

#include "model/canvas.h"
#include "store/versioned_json.h"

namespace host {

/// The version this host writes and reads.
inline constexpr int kStateVersion = 1;

/// What the state file says: the state, but for the texts of the notes it
/// keeps in files of their own, which it names here (note, file).
struct StateText {
  Snapshot state;
  std::map<std::string, std::string, std::less<>> note_files;
};

/// Reads a state file's text. A note's file is a name of digits only, so
/// that a file cannot name anything outside the notes' folder.
Read<StateText> parse_state(std::string_view text);

}  // namespace host
