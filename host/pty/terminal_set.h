#pragma once
// The host's running programs, by terminal name, and the dismissed ones
// that have not been reaped yet. Owns every child process the host starts.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loop/timers.h"
#include "pty/cgroups.h"
#include "pty/shell_watch.h"
#include "pty/terminal.h"

namespace host {

/// The terminal a process belongs to.
struct Holder {
  /// The listed terminal; empty when the process is one the terminals
  /// started but which one cannot be told: one the host adopted (it left
  /// its parents with a double fork), one in a group of the host's that no
  /// listed terminal owns (a remote destination's ssh connection), or a
  /// dismissed terminal's.
  std::string name;
};

class TerminalSet {
 public:
  /// Terminals are served by `reactor`; `grace` is how long a hung-up
  /// program has to end before it is killed.
  TerminalSet(Reactor& reactor, std::chrono::milliseconds grace) : reactor_(reactor), grace_(grace), shells_(reactor) {}

  /// Starts `launch` as terminal `name`, which must not be taken; refuses
  /// when it cannot be started.
  OrRefusal<Terminal*> start(const std::string& name, const Launch& launch);
  /// Lists a held terminal `name` (see Terminal::hold), which must not be
  /// taken.
  Terminal* hold(const std::string& name, int rows, int cols, std::string_view screen, std::optional<int> exit_code);
  /// Starts `launch` in place of held terminal `name`: those who follow the
  /// held one hear its end when the started one is listed already. Refuses
  /// when `name` is no held terminal or the program cannot be started.
  OrRefusal<Terminal*> resume(const std::string& name, const Launch& launch);
  Terminal* find(std::string_view name);
  /// The terminal that the process whose `ancestry` this is (the process
  /// first) belongs to, if any: by its line of processes (see
  /// Terminal::holds), by its control group, or as one the host adopted.
  std::optional<Holder> holder_of(const std::vector<ProcessInfo>& ancestry) const;
  /// The event loop, which the set and those serving its terminals use.
  Reactor& reactor() const { return reactor_; }
  /// The processes of joined shells.
  ShellWatch& shells() { return shells_; }

  /// Makes the host the subreaper of everything its terminals start: what
  /// a program leaves behind comes to the host when its parent ends, so the
  /// loop reaps it, and every process that descends from the host is one
  /// its terminals started, for dismiss() and stop() to end. Where the host
  /// may create control groups, each terminal's program also runs in one
  /// of its own (see cgroups.h), which ends all it started at once.
  void adopt_orphans();
  /// The host's control group directory, empty when it has none.
  std::string cgroup() const { return cgroups_ ? cgroups_->path() : std::string(); }

  /// Hangs terminal `name` up and forgets it: its process group and every
  /// process of its session get SIGHUP, and what is left of them SIGKILL
  /// after the grace; all are reaped. (A process that started a session of
  /// its own is no longer the terminal's; stop() ends it.)
  void dismiss(std::string_view name);
  /// The host is stopping: dismisses every terminal, and sends SIGHUP to
  /// every other process they started (the host is their subreaper, so
  /// they all descend from it) and SIGKILL after the grace.
  void stop();
  /// Kills every process the terminals started that has not ended yet.
  void kill_all();

  /// Kills the terminals' process groups (what the host started, as far as
  /// it is still there to kill when the set ends).
  ~TerminalSet();
  /// Reaps every child process that has ended (after a SIGCHLD) and records
  /// the ends of the terminals' programs.
  void reap(Clock::time_point now);
  /// Records the end of child `pid` (a waitpid status).
  void child_exited(pid_t pid, int wait_status, Clock::time_point now);
  /// True while a started process, or anything it started, has not been
  /// reaped. Reads /proc: for the host's stop, not for every round.
  bool has_processes() const;
  /// Descriptors the terminals hold open.
  std::size_t descriptors() const;

 private:
  void kill_leaving(pid_t pid);
  /// Sends `sig` to every process of session `session` that descends from
  /// the host, unless a listed terminal leads that session now; returns
  /// how many there were.
  int signal_session(pid_t session, int sig) const;
  /// Sends `sig` to every process that descends from the host and has not
  /// ended; returns how many there were.
  int signal_descendants(int sig) const;
  /// Kills terminal `pid`'s control group, if it has one, and removes it
  /// once it is empty.
  void kill_group(pid_t pid);
  /// The holder that the control group of process `pid` tells, if it is
  /// one of the host's groups.
  std::optional<Holder> group_holder(pid_t pid) const;
  /// True when the host started process `pid` itself: a terminal's program.
  bool started(pid_t pid) const;

  Reactor& reactor_;
  std::chrono::milliseconds grace_;
  std::map<std::string, std::unique_ptr<Terminal>, std::less<>> listed_;
  std::vector<std::unique_ptr<Terminal>> leaving_;
  ShellWatch shells_;
  /// Set by adopt_orphans(): every descendant of the host is the set's.
  bool owns_descendants_ = false;
  std::unique_ptr<Cgroups> cgroups_;
  /// The control group of each terminal's program, by its pid.
  std::map<pid_t, std::string> groups_;
  /// Killed groups not removed yet (their processes were still leaving).
  std::vector<std::string> emptying_;
};

}  // namespace host
