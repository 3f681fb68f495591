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
};

/// The process `pid`, or nothing when it is gone (or /proc cannot be read).
std::optional<ProcessInfo> process_info(pid_t pid);

/// `pid` and its ancestors, nearest first, up to (not including) init or
/// the first that cannot be read; at most 64.
std::vector<ProcessInfo> ancestry(pid_t pid);

}  // namespace host
