#include "cli/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "unique_fd.h"

extern char** environ;

namespace host::cli {
namespace {

struct Pipe {
  wire::UniqueFd read, write;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  return {wire::UniqueFd(fds[0]), wire::UniqueFd(fds[1])};
}

/// File actions and attributes of one spawn, released with it.
class Spawn {
 public:
  Spawn() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
    // A handler of ours is reset by the exec anyway; ignored signals are
    // not, so every signal starts at its default.
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attr_, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~Spawn() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  Spawn(const Spawn&) = delete;
  Spawn& operator=(const Spawn&) = delete;

  void dup_to(int fd, int target) { posix_spawn_file_actions_adddup2(&actions_, fd, target); }
  void null_to(int target) { posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", O_RDWR, 0); }

  /// The child's pid, or -1 with errno set.
  pid_t start(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int err = posix_spawnp(&pid, args[0], &actions_, &attr_, args.data(), environ);
    if (err == 0) return pid;
    errno = err;
    return -1;
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
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
void drain(wire::UniqueFd& fd, std::string& into) {
  char buf[16384];
  ssize_t n = ::read(fd.get(), buf, sizeof buf);
  if (n > 0) into.append(buf, static_cast<std::size_t>(n));
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) fd.reset();
}

/// Feeds `input` to `in` and collects `out` and `err` until both end.
void exchange(wire::UniqueFd& in, wire::UniqueFd& out, wire::UniqueFd& err, std::string_view input, Captured& got) {
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

Captured run_captured(const std::vector<std::string>& argv, std::string_view input) {
  Pipe in = make_pipe(), out = make_pipe(), err = make_pipe();
  Captured got;
  if (!in.read || !out.read || !err.read) {
    got.status = 127;
    return got;
  }
  Spawn spawn;
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
