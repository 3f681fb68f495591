#pragma once
// Notes' texts in files of their own, in a directory beside the state file
// (FILE.notes, mode 0700, its files 0600), so that a change to one note
// writes that note alone, not every note again.
//
// A text is never rewritten in place: each version goes to a new file,
// named by a number not used before in the directory, and is synced before
// anything names it. The state file names each note's file, and its
// rename is the moment a change takes effect: a crash before leaves the
// old state whole (and files nothing names, removed at the next start),
// a crash after the new one. The files a change replaced are removed once
// the state file no longer names them.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "outcome.h"
#include "status.h"

namespace host {

class NoteFiles {
 public:
  /// The files in directory `dir`, which is made when the first is written.
  explicit NoteFiles(std::string dir) : dir_(std::move(dir)) {}

  const std::string& dir() const { return dir_; }

  /// Writes `text` to a new file and syncs it; returns the file's name.
  wire::Fallible<std::string> write(std::string_view text);
  /// Syncs the directory, so that the files written so far are found after
  /// a crash; before the state file names them.
  wire::Status sync() const;
  /// The text of file `name`.
  wire::Fallible<std::string> read(const std::string& name) const;
  /// Removes file `name`, if it is there.
  void remove(const std::string& name) const;
  /// Removes the files of the directory that `kept` does not name (what
  /// saves a crash cut short left); new names follow the largest kept.
  void keep_only(const std::set<std::string>& kept);

 private:
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  /// The number the next file is tried under.
  std::uint64_t next_ = 1;
};

}  // namespace host
