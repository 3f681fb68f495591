#include "pty/shell_watch.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "base/refusal.h"
#include "os_error.h"

namespace host {

OrRefusal<void> ShellWatch::watch(pid_t pid, const std::string& name, std::function<void()> gone) {
  forget(name);
  auto it = processes_.find(pid);
  if (it == processes_.end()) {
    // Close-on-exec by the kernel's own rule for pidfds.
    os::UniqueFd fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!fd && errno == ESRCH) return refuse("the process that joined has ended: " + std::to_string(pid));
    if (!fd) return refuse("cannot watch the process that joined: " + os::error_text(errno));
    wire::Fallible<Reactor::Watch> watched = reactor_.watch(fd.get(), POLLIN, [this, pid](unsigned) { ended(pid); });
    if (!watched.ok()) return refuse("cannot watch the process that joined: " + watched.failure().text);
    Process process;
    process.watch = std::move(*watched);
    process.pidfd = std::move(fd);
    it = processes_.emplace(pid, std::move(process)).first;
  }
  it->second.waiting[name] = std::move(gone);
  by_name_[name] = pid;
  return {};
}

void ShellWatch::forget(const std::string& name) {
  auto named = by_name_.find(name);
  if (named == by_name_.end()) return;
  auto it = processes_.find(named->second);
  by_name_.erase(named);
  if (it == processes_.end()) return;
  it->second.waiting.erase(name);
  if (it->second.waiting.empty()) processes_.erase(it);
}

void ShellWatch::ended(pid_t pid) {
  auto it = processes_.find(pid);
  if (it == processes_.end()) return;
  std::map<std::string, std::function<void()>> waiting = std::move(it->second.waiting);
  processes_.erase(it);  // the loop lets a handler end its own watch
  for (auto& [name, gone] : waiting) {
    by_name_.erase(name);
    gone();
  }
}

}  // namespace host
