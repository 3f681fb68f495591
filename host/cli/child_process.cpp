#include "cli/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "unique_fd.h"

namespace host::cli {
namespace {

struct Pipe {
  os::UniqueFd read, write;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  return {os::UniqueFd(fds[0]), os::UniqueFd(fds[1])};
}

/// How one child is started: which descriptors it gets, and the control
/// group it joins before it runs, if any.
class Spawn {
 public:
  void dup_to(int fd, int target) { moves_.push_back({fd, target}); }
  void null_to(int target) { moves_.push_back({-1, target}); }
  /// The child joins the control group whose directory this is, when it
  /// may; it runs all the same when it may not.
  void join_group(std::string group) { group_ = std::move(group); }

  /// The child's pid, or -1 with errno set.
  pid_t start(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::string procs = group_.empty() ? std::string() : group_ + "/cgroup.procs";
    pid_t pid = ::fork();
    if (pid == 0) run_child(args, procs);
    return pid;
  }

 private:
  /// In the child: only calls that are safe after a fork.
  [[noreturn]] void run_child(const std::vector<char*>& args, const std::string& procs) {
    if (!procs.empty()) {
      int fd = ::open(procs.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd >= 0) {
        (void)::write(fd, "0", 1);
        ::close(fd);
      }
    }
    for (const auto& [fd, target] : moves_) {
      int from = fd >= 0 ? fd : ::open("/dev/null", O_RDWR | O_CLOEXEC);
      if (from >= 0 && from != target) ::dup2(from, target);
    }
    // A handler of ours is reset by the exec anyway; ignored signals are
    // not, so every signal starts at its default.
    struct sigaction fresh {};
    fresh.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &fresh, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }

  std::vector<std::pair<int, int>> moves_;
  std::string group_;
};

int wait_for(pid_t pid) {
  if (pid < 0) return 127;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

/// Reads what is there into `into`; closes `fd` at its end.
void drain(os::UniqueFd& fd, std::string& into) {
  char buf[16384];
  ssize_t n = ::read(fd.get(), buf, sizeof buf);
  if (n > 0) into.append(buf, static_cast<std::size_t>(n));
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) fd.reset();
}

/// Feeds `input` to `in` and collects `out` and `err` until both end.
void exchange(os::UniqueFd& in, os::UniqueFd& out, os::UniqueFd& err, std::string_view input, Captured& got) {
  std::size_t sent = 0;
  if (input.empty()) in.reset();
  if (in) ::fcntl(in.get(), F_SETFL, O_NONBLOCK);
  while (out || err) {
    pollfd fds[3] = {{in.get(), POLLOUT, 0}, {out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) {
      ssize_t n = ::write(in.get(), input.data() + sent, input.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (sent == input.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) in.reset();
    }
    if (fds[1].revents != 0) drain(out, got.out);
    if (fds[2].revents != 0) drain(err, got.err);
  }
}

}  // namespace

Captured run_captured(const std::vector<std::string>& argv, std::string_view input, const std::string& group) {
  Pipe in = make_pipe(), out = make_pipe(), err = make_pipe();
  Captured got;
  if (!in.read || !out.read || !err.read) {
    got.status = 127;
    return got;
  }
  Spawn spawn;
  spawn.join_group(group);
  spawn.dup_to(in.read.get(), 0);
  spawn.dup_to(out.write.get(), 1);
  spawn.dup_to(err.write.get(), 2);
  pid_t pid = spawn.start(argv);
  in.read.reset();
  out.write.reset();
  err.write.reset();
  if (pid < 0) {
    got.status = 127;
    return got;
  }
  exchange(in.write, out.read, err.read, input, got);
  got.status = wait_for(pid);
  return got;
}

int run_attached(const std::vector<std::string>& argv) {
  struct sigaction pass {};
  pass.sa_handler = [](int) {};
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) ::sigaction(sig, &pass, nullptr);
  Spawn spawn;
  return wait_for(spawn.start(argv));
}

int run_detached(const std::vector<std::string>& argv) {
  Spawn spawn;
  for (int fd : {0, 1, 2}) spawn.null_to(fd);
  return wait_for(spawn.start(argv));
}

}  // namespace host::cli
