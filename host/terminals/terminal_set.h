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
#include "terminals/terminal.h"

namespace host {

class TerminalSet {
 public:
  /// Terminals are served by `reactor`; `grace` is how long a hung-up
  /// program has to end before it is killed.
  TerminalSet(Reactor& reactor, std::chrono::milliseconds grace) : reactor_(reactor), grace_(grace) {}
  ~TerminalSet();

  /// Starts `launch` as terminal `name`, which must not be taken. Throws
  /// host::Refusal when it cannot be started.
  Terminal& start(const std::string& name, const Launch& launch);
  Terminal* find(std::string_view name);
  /// The name of a listed terminal that process `pid` belongs to (see
  /// Terminal::holds), if any.
  std::optional<std::string> holder_of(pid_t pid) const;
  /// The event loop, which the set and those serving its terminals use.
  Reactor& reactor() const { return reactor_; }

  /// Hangs terminal `name` up and forgets it; its process is killed after
  /// the grace unless it ends before, and reaped either way.
  void dismiss(std::string_view name);
  /// Dismisses every terminal (the host is stopping).
  void dismiss_all();
  /// Kills every process that has not ended yet.
  void kill_all();
  /// Reaps every child process that has ended (after a SIGCHLD) and records
  /// the ends of the terminals' programs.
  void reap(Clock::time_point now);
  /// Records the end of child `pid` (a waitpid status).
  void child_exited(pid_t pid, int wait_status, Clock::time_point now);
  /// True while a started process has not been reaped.
  bool has_processes() const;

 private:
  void kill_leaving(pid_t pid);

  Reactor& reactor_;
  std::chrono::milliseconds grace_;
  std::map<std::string, std::unique_ptr<Terminal>, std::less<>> listed_;
  std::vector<std::unique_ptr<Terminal>> leaving_;
};

}  // namespace host
