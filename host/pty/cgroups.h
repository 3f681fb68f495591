#pragma once
// Control groups (cgroup v2) for what the terminals start, where the host
// may create them: each terminal's program joins a group of its own, below
// one group of the host's, before it runs. A group holds every process its
// program starts, whatever they do (a new session, nohup, a parent that
// exits under each child), and the kernel ends them all at once through
// cgroup.kill, so nothing escapes a dismissal or the host's stop.
//
// For the host ending without a stop (SIGKILL, a crash), a small guardian
// process outside the host's descendants waits on a pipe whose other end
// only the host holds; when it reads the end of it, it kills the host's
// group and removes the directories. Groups that a host left because even
// the guardian was killed are ended by the next host that starts there.
//
// Where the host may not create groups (no cgroup v2, no write access, a
// parent group with controllers enabled) none of this happens and the
// terminal set ends processes by their sessions and as their subreaper.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "unique_fd.h"

namespace host {

class Cgroups {
 public:
  /// A group of the host's below its own, with its guardian; nothing when
  /// the host may not create one. Must be called before the host becomes
  /// a subreaper (the guardian must not be one of its descendants).
  static std::unique_ptr<Cgroups> create();
  /// Kills what is left in the host's groups and removes them.
  ~Cgroups();
  Cgroups(const Cgroups&) = delete;
  Cgroups& operator=(const Cgroups&) = delete;

  /// The directory of the host's group.
  const std::string& path() const { return path_; }
  /// Creates the group for one more terminal; returns its directory, or
  /// nothing when it cannot be created.
  std::optional<std::string> add();
  /// The directory of process `pid`'s group; empty when it has none (no
  /// cgroup v2) or cannot be read.
  static std::string group_of(pid_t pid);
  /// Kills every process in group `dir` (and below) at once.
  static void kill(const std::string& dir);
  /// Removes group `dir` once it is empty; false while it is not.
  static bool remove(const std::string& dir);

 private:
  Cgroups(std::string path, os::UniqueFd guard) : path_(std::move(path)), guard_(std::move(guard)) {}

  std::string path_;
  /// The write end of the guardian's pipe.
  os::UniqueFd guard_;
  unsigned next_ = 0;
};

}  // namespace host
