#pragma once
// What the kernel says about a process in /proc/PID/stat: its parent, its
// process group and session, and its controlling terminal. The host uses it
// to tell which terminal a connecting process belongs to.

#include <sys/types.h>

#include <optional>
#include <vector>

namespace host {

struct ProcessInfo {
  pid_t pid = 0;
  pid_t parent = 0;
  pid_t group = 0;
  pid_t session = 0;
  /// The controlling terminal's device number, 0 for none.
  dev_t tty = 0;
  /// When the process started, in clock ticks after boot: with the pid, it
  /// names one process, as a pid alone does not once the pid is reused.
  unsigned long long start = 0;
  /// A zombie: ended, not reaped yet.
  bool ended = false;
};

/// The process `pid`, or nothing when it is gone (or /proc cannot be read).
std::optional<ProcessInfo> process_info(pid_t pid);

/// `pid` and its ancestors, nearest first, up to (not including) init (or
/// the first process whose parent is outside the host's pid namespace);
/// nothing when any of them cannot be read, so that a process that cannot
/// be examined is never taken for one whose whole line is known.
std::optional<std::vector<ProcessInfo>> ancestry(pid_t pid);

/// The shell that process `client` was run for: its parent, or, when the
/// parent is a forked copy of its own parent (the subshell a shell forks
/// for a command substitution or a pipeline, as in
/// `eval "$(welkmora-host join NAME)"`), the nearest ancestor that is not:
/// a forked copy runs the same program with the same command line in the
/// same process group. 0 when it cannot be told.
pid_t shell_of(pid_t client);

/// Every process /proc lists that can be read.
std::vector<ProcessInfo> all_processes();

/// The processes of `all` that descend from `root` (children, their
/// children, ...), `root` itself not included.
std::vector<ProcessInfo> descendants(pid_t root, const std::vector<ProcessInfo>& all);

}  // namespace host
