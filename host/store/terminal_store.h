#pragma once
// The recruited terminals as they are kept over a restart, in a folder
// beside the state file (FILE.terminals/, mode 0700): "terminals.json", one
// record per terminal (how it was started, where, its size, role and ropes
// to other terminals), and one file per terminal with its last screen
// ("NAME-HASH.screen"). Every file is written whole to a temporary file,
// synced and renamed into place, with mode 0600, so a crash leaves the old
// or the new one, never a mix.
//
// Writes are queued and made by a thread of the store's own, so a large
// screen or a slow disk never holds up the event loop; a file queued again
// before it was written is written once, as last queued. A write that
// fails leaves the old file and is told to the next take_failures().
//
// A saved screen is the text its terminal showed, as lines with their
// colours (screen/redraw.h), under a header with its size, its length
// and a checksum: a screen cut short or damaged is refused, not shown.

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "outcome.h"
#include "status.h"

namespace host {

/// A terminal as it is kept over a restart.
struct SavedTerminal {
  std::string name;
  /// The command line it ran (empty: the user's shell), the preset it was
  /// started from (empty: none) and its working directory (empty: unknown).
  std::string command, preset, cwd;
  /// Its role; empty for none.
  std::string role;
  int rows = 24, cols = 80;
  /// The terminals it is roped to.
  std::vector<std::string> ropes;
  /// It was held, not running, when it was saved.
  bool held = false;
  /// It was the workspace's Lead shell.
  bool lead = false;
  /// Its program's exit code, when it had ended.
  std::optional<int> exit_code;
  bool operator==(const SavedTerminal&) const = default;
};

/// A terminal's screen as it is kept: its size when saved, and its text as
/// a terminal's output that shows it again.
struct SavedScreen {
  int rows = 24, cols = 80;
  std::string text;
};

class TerminalStore {
 public:
  /// The store beside the state file `state_path`; touches nothing yet.
  explicit TerminalStore(const std::string& state_path);
  /// Makes the queued writes first.
  ~TerminalStore();
  TerminalStore(const TerminalStore&) = delete;
  TerminalStore& operator=(const TerminalStore&) = delete;

  /// Removes the temporary files a host killed in the middle of a write
  /// left; returns how many.
  int remove_temporaries() const;

  /// The saved terminals; none when nothing was saved. Fails with a
  /// message for the user when the record file cannot be read or is
  /// corrupt (it is left as it is).
  wire::Fallible<std::vector<SavedTerminal>> load() const;
  /// The saved screen of terminal `name`; fails saying why when there is
  /// none or it is cut short or damaged.
  wire::Fallible<SavedScreen> load_screen(std::string_view name) const;

  /// Queues the record file with `terminals`.
  void save(const std::vector<SavedTerminal>& terminals);
  /// Queues the screen file of terminal `name`.
  void save_screen(std::string_view name, const SavedScreen& screen);
  /// Queues the removal of terminal `name`'s screen file.
  void drop_screen(std::string_view name);
  /// Waits until every queued write is made.
  void flush();
  /// What failed since the last call, one line each.
  std::vector<std::string> take_failures();

  /// The folder, and the file a terminal's screen is kept in.
  const std::string& dir() const { return dir_; }
  std::string screen_path(std::string_view name) const;

  /// Most bytes of one saved screen's text.
  static constexpr std::size_t kMaxScreenBytes = 4 << 20;

 private:
  /// The file's new text; nothing to remove it.
  using Job = std::optional<std::string>;
  void queue(std::string path, Job job);
  void run();

  std::string dir_;
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  /// Files to write, by path: the last text queued for each.
  std::map<std::string, Job> pending_;
  bool busy_ = false;
  bool quit_ = false;
  std::vector<std::string> failures_;
  std::thread writer_;
};

}  // namespace host
