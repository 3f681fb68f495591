#include "client_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "unique_fd.h"

namespace harness {
namespace {

using os::UniqueFd;

struct Pipe {
  UniqueFd read, write;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

/// Moves `fd` onto `target` in the child; -1 closes `target`.
void place(int fd, int target) {
  if (fd < 0) {
    ::close(target);
  } else if (fd == target) {
    ::fcntl(fd, F_SETFD, 0);
  } else {
    ::dup2(fd, target);
  }
}

/// Reads both pipes until each reports end of stream or the deadline passes.
bool drain(int out_fd, int err_fd, std::string& out, std::string& err, std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  char buf[65536];
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int n = ::poll(fds, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  return true;
}

}  // namespace

std::string client_path() { return WELKMORA_BIN; }

RunResult run_client(const std::vector<std::string>& args, const RunOptions& options) {
  std::string program = options.program.empty() ? client_path() : options.program;
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : options.env) env_strings.push_back(k + "=" + v);
  // A sanitizer build's settings reach the child too, so its findings fail
  // the test with their own exit status.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && options.env.count(name) == 0) env_strings.push_back(std::string(name) + "=" + value);
  }
  std::vector<char*> argv{program.data()};
  std::vector<std::string> arg_copies(args);
  for (auto& a : arg_copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  Pipe out = make_pipe(), err = make_pipe();
  Pipe in;
  UniqueFd tty_master, tty_slave;
  if (options.in.kind == Stdin::Kind::kData) in = make_pipe();
  if (options.in.kind == Stdin::Kind::kTerminal) {
    int m, s;
    if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    tty_master.reset(m);
    tty_slave.reset(s);
  }
  UniqueFd null_in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (options.stdout_mode == Stdout::kBrokenPipe) out.read.reset();
  if (options.stdout_mode == Stdout::kTerminal) {
    termios raw{};
    ::cfmakeraw(&raw);
    int m, s;
    if (::openpty(&m, &s, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    for (int fd : {m, s}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    out = {UniqueFd(m), UniqueFd(s)};
  }

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int stdin_fd = options.in.kind == Stdin::Kind::kData       ? in.read.get()
                   : options.in.kind == Stdin::Kind::kTerminal ? tty_slave.get()
                   : options.in.kind == Stdin::Kind::kClosed   ? -1
                                                               : null_in.get();
    place(stdin_fd, 0);
    place(options.stdout_mode == Stdout::kClosed ? -1 : out.write.get(), 1);
    place(err.write.get(), 2);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  out.write.reset();
  err.write.reset();
  in.read.reset();
  tty_slave.reset();

  // Feed standard input from a thread so that a child that never reads it
  // cannot block the capture. A child that exits without reading all of it
  // must fail the feeder's write with EPIPE, not kill the test process.
  ::signal(SIGPIPE, SIG_IGN);
  std::thread feeder;
  if (options.in.kind == Stdin::Kind::kData) {
    feeder = std::thread([fd = in.write.release(), data = options.in.data] {
      UniqueFd w(fd);
      std::string_view rest(data);
      while (!rest.empty()) {
        ssize_t n = ::write(w.get(), rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        rest.remove_prefix(static_cast<std::size_t>(n));
      }
    });
  }

  std::thread watcher;
  if (options.on_started) watcher = std::thread(options.on_started, static_cast<int>(pid));

  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool finished = drain(out.read.get(), err.read.get(), result.out, result.err, deadline);
  if (!finished) ::kill(pid, SIGKILL);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (feeder.joinable()) feeder.join();
  if (watcher.joinable()) watcher.join();
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  return result;
}

}  // namespace harness
