#pragma once
// The state file: notes, roles and the ropes with a note end, as JSON. It is
// rewritten whole after every change, atomically (temporary file, fsync,
// rename, fsync of the directory), so a crash leaves the old or the new
// state, never a mix. The texts of the notes are in files of their own
// beside it (note_files.h), which it names: a save writes the notes that
// changed and the state file, not every note again. The text is written
// entry by entry as it goes out, so a save costs the largest entry in
// memory, not the whole canvas again. A file of a host before the notes'
// own files, with the notes' texts in it, is loaded as it is, and the
// first save moves them out.
//
// One host uses a state file at a time: claim() takes a lock on FILE.lock
// beside it and removes the temporary files a killed host left; the lock
// file goes when the host stops (a killed host leaves it, and the next one
// takes it over). A file the host cannot understand, or anything that is
// not a regular file, stops the start and is left as it is. A symbolic link
// is followed: the host reads and rewrites its target, and the link stays a
// link.

#include <cstdint>
#include <map>
#include <string>

#include "model/canvas.h"
#include "outcome.h"
#include "status.h"
#include "store/note_files.h"
#include "unique_fd.h"

namespace host {

/// A note as the state file names it: its file, and its revision and size
/// when that was written.
struct SavedNote {
  std::string file;
  std::uint64_t revision = 0;
  std::size_t bytes = 0;
};

class StateFile {
 public:
  /// The state file at `path`, unclaimed: load() and save() work on the
  /// path as it stands.
  explicit StateFile(std::string path) : path_(std::move(path)) {}
  /// Removes FILE.lock when this host claimed it.
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  /// Makes this host the one that uses the file: follows a symbolic link to
  /// its target, refuses a path that names anything but a regular file (or
  /// nothing yet), takes the lock and removes stale temporary files. Returns
  /// how many it removed, or the failure with a message for the user, also
  /// when another host holds the lock.
  wire::Fallible<int> claim();

  /// The saved state; an absent file is the empty state. Fails with a
  /// message for the user when the file cannot be read, is not a regular
  /// file or is corrupt (a note's file among it). Once claimed, removes the
  /// notes' files the state file does not name (left by a crash).
  wire::Fallible<Snapshot> load();

  /// Replaces the file with what `canvas` keeps. The notes whose revision
  /// (Canvas::note_revision) is the one saved or loaded are not written
  /// again: a canvas restored from load() has the notes load() read.
  wire::Status save(const Canvas& canvas);

  /// The file read and written: the target of a followed link.
  const std::string& path() const { return path_; }

 private:
  /// Writes the state file itself, naming the notes' files.
  wire::Status replace_file(const Canvas& canvas, const std::map<std::string, SavedNote, std::less<>>& notes);

  std::string path_;
  /// Held open, and locked, from claim() on.
  os::UniqueFd lock_;
  NoteFiles notes_{path_ + ".notes"};
  /// The notes the state file names now, by name.
  std::map<std::string, SavedNote, std::less<>> saved_;
};

}  // namespace host
