#pragma once
// The state file: notes, roles and the ropes with a note end, as JSON. It is
// rewritten whole after every change, atomically (temporary file, fsync,
// rename, fsync of the directory), so a crash leaves the old or the new
// state, never a mix. A file the host cannot understand stops the start and
// is left as it is.

#include <string>

#include "model/canvas.h"
#include "status.h"

namespace host {

class StateFile {
 public:
  explicit StateFile(std::string path) : path_(std::move(path)) {}

  /// The saved state; an absent file is the empty state. Throws
  /// std::runtime_error with a message for the user when the file cannot be
  /// read or is corrupt.
  Snapshot load() const;

  /// Replaces the file with `state`.
  wire::Status save(const Snapshot& state) const;

 private:
  std::string path_;
};

}  // namespace host
