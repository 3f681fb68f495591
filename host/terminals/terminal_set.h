#pragma once
// The host's running programs, by terminal name, and the dismissed ones
// that have not been reaped yet. Owns every child process the host starts.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "terminal.h"
#include "timers.h"

namespace host {

class TerminalSet {
 public:
  /// `grace` is how long a hung-up program has to end before it is killed.
  TerminalSet(Timers& timers, std::chrono::milliseconds grace) : timers_(timers), grace_(grace) {}
  ~TerminalSet();

  /// Starts `launch` as terminal `name`, which must not be taken. Throws
  /// host::Refusal when it cannot be started.
  Terminal& start(const std::string& name, const Launch& launch);
  Terminal* find(std::string_view name);
  /// The loop's timers, which the set and those serving its terminals use.
  Timers& timers() const { return timers_; }

  /// Hangs terminal `name` up and forgets it; its process is killed after
  /// the grace unless it ends before, and reaped either way.
  void dismiss(std::string_view name);
  /// Dismisses every terminal (the host is stopping).
  void dismiss_all();
  /// Kills every process that has not ended yet.
  void kill_all();
  /// Records the end of child `pid` (a waitpid status).
  void child_exited(pid_t pid, int wait_status, Clock::time_point now);
  /// True while a started process has not been reaped.
  bool has_processes() const;
  /// The names of the terminals whose pty is still open, for the loop.
  std::vector<std::string> open_names() const;

 private:
  void kill_leaving(pid_t pid);

  Timers& timers_;
  std::chrono::milliseconds grace_;
  std::map<std::string, std::unique_ptr<Terminal>, std::less<>> listed_;
  std::vector<std::unique_ptr<Terminal>> leaving_;
};

}  // namespace host
