#pragma once
// What the foreground of a terminal is doing, as the kernel tells it. The
// host is the parent of every program it starts, so it may read /proc of
// their processes: which system call each process of the foreground group
// is blocked in, and on what. That tells a program that waits for its next
// input (blocked reading the terminal, or polling it with no timeout) from
// one still at work (running, or sleeping on a timer), which no quiet time
// on the screen can tell: a program may think for a minute in silence.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace host {

/// What one foreground process group is doing, strongest first.
enum class Activity {
  /// The kernel says nothing useful: the group is gone or cannot be read,
  /// or a process of it relays a terminal from elsewhere (ssh, su), so
  /// that whether the program behind it waits is not known here.
  kUnknown,
  /// A process runs (or is runnable, or in an uninterruptible wait).
  kRunning,
  /// A process sleeps on a timer, or waits for something other than the
  /// terminal (a child, a pipe, a socket), and none reads the terminal.
  kBusy,
  /// Every process is blocked; one polls its input with a timeout pending:
  /// it waits for input or for its clock (a REPL's idle timer, a monitor
  /// that redraws every second, an event loop with a timer set).
  kTicking,
  /// Every process is blocked and one waits for the terminal with nothing
  /// pending: it has done what it was asked and waits for input.
  kWaiting,
};

std::string_view activity_name(Activity activity);

/// How one process is blocked, as far as the turn rule cares.
enum class Blocked {
  kRunning,       ///< runs, or is about to
  kTimer,         ///< sleeps on a timer alone (sleep, nanosleep)
  kInput,         ///< reads, or polls with no timeout (on the terminal, for a read)
  kInputOrTimer,  ///< polls with a timeout pending
  kElsewhere,     ///< blocked on something else: a child, a pipe, a lock
};

/// One process's system call: how it is blocked and, for a read, from
/// which descriptor (-1 otherwise); for a wait on several descriptors, the
/// call's number and its first two arguments (where they are listed).
struct BlockedCall {
  Blocked blocked = Blocked::kRunning;
  long read_fd = -1;
  long nr = -1;
  unsigned long long arg0 = 0, arg1 = 0;
};

/// Reads the text of /proc/PID/syscall ("running", or the call's number
/// and its arguments in hex) with the state letter of /proc/PID/stat.
BlockedCall classify_syscall(std::string_view syscall_text, char state);

/// The activity of process group `group`, whose controlling terminal is the
/// pty named `tty_path` (as /proc/PID/fd links name it). The group's
/// processes are found by scanning /proc.
Activity foreground_activity(pid_t group, const std::string& tty_path);

/// Combines the states of a group's processes (see foreground_activity).
struct ActivityTally {
  int running = 0, timer = 0, input = 0, ticking = 0, elsewhere = 0;
  /// Processes that relay a terminal, or whose state cannot be read.
  int unknown = 0;
  void add(Blocked blocked);
  Activity verdict() const;
};

}  // namespace host
