#pragma once
// The processes of joined shells, watched through pidfds on the event loop:
// a joined shell has no program of the host's, so its terminal leaves the
// canvas when the process that joined ends. Several names may wait on one
// process (a shell that joined twice); the process has one descriptor.

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>

#include "base/refusal.h"
#include "loop/reactor.h"
#include "unique_fd.h"

namespace host {

class ShellWatch {
 public:
  explicit ShellWatch(Reactor& reactor) : reactor_(reactor) {}
  ShellWatch(const ShellWatch&) = delete;
  ShellWatch& operator=(const ShellWatch&) = delete;

  /// Calls `gone` once process `pid` has ended, for the terminal `name`
  /// (which replaces an earlier watch of that name); refuses when the
  /// process has ended already or cannot be watched.
  OrRefusal<void> watch(pid_t pid, const std::string& name, std::function<void()> gone);
  /// Stops watching for `name`.
  void forget(const std::string& name);
  /// Descriptors held: one per process watched.
  std::size_t descriptors() const { return processes_.size(); }

 private:
  struct Process {
    os::UniqueFd pidfd;
    Reactor::Watch watch;
    /// Terminal names and what to call when the process ends.
    std::map<std::string, std::function<void()>> waiting;
  };

  void ended(pid_t pid);

  Reactor& reactor_;
  std::map<pid_t, Process> processes_;
  std::map<std::string, pid_t> by_name_;
};

}  // namespace host
