#include "pty_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

/// Pointers into `strings` with the terminating null, for exec.
std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

Env environment_with(const Env& overrides) {
  Env env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : overrides) env[name] = value;
  return env;
}

PtyProcess::PtyProcess(const std::vector<std::string>& argv, const Env& env, std::optional<winsize> size) {
  // Everything the child needs is built before the fork.
  std::vector<std::string> args = argv;
  std::vector<std::string> env_strings;
  for (const auto& [name, value] : env) env_strings.push_back(name + "=" + value);
  std::vector<char*> arg_ptrs = c_strings(args);
  std::vector<char*> env_ptrs = c_strings(env_strings);
  int master = -1;
  pid_ = ::forkpty(&master, nullptr, nullptr, size ? &*size : nullptr);
  if (pid_ < 0) throw std::runtime_error("forkpty failed");
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
    ::_exit(127);
  }
  master_.reset(master);
}

PtyProcess::~PtyProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

void PtyProcess::send(const std::string& bytes) {
  ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
  if (n != static_cast<ssize_t>(bytes.size())) {
    throw std::system_error(n < 0 ? errno : EIO, std::generic_category(), "writing to the terminal");
  }
}

void PtyProcess::resize(unsigned short rows, unsigned short cols) {
  winsize size{};
  size.ws_row = rows;
  size.ws_col = cols;
  if (::ioctl(master_.get(), TIOCSWINSZ, &size) != 0) {
    throw std::system_error(errno, std::generic_category(), "setting the window size");
  }
}

void PtyProcess::hang_up() {
  master_.reset();
  closed_ = true;
}

bool PtyProcess::read_until(const std::string& tail, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (!transcript_.ends_with(tail)) {
    if (!read_some(deadline)) return false;
  }
  return true;
}

bool PtyProcess::expect(const std::string& needle, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  for (;;) {
    std::size_t at = transcript_.find(needle, matched_);
    if (at != std::string::npos) {
      matched_ = at + needle.size();
      return true;
    }
    if (!read_some(deadline)) return false;
  }
}

bool PtyProcess::read_to_end(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (read_some(deadline)) {
  }
  return closed_;
}

int PtyProcess::wait(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() > deadline) return -1;
    if (closed_) {
      std::this_thread::sleep_for(20ms);
    } else {
      read_some(Clock::now() + 50ms);  // keep the terminal drained
    }
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PtyProcess::read_some(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0 || closed_) return false;
  pollfd p{master_.get(), POLLIN, 0};
  int n = ::poll(&p, 1, static_cast<int>(left));
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  char buf[4096];
  ssize_t got = ::read(master_.get(), buf, sizeof buf);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) {  // EIO once no one holds the program's side any more
    closed_ = true;
    return false;
  }
  transcript_.append(buf, static_cast<std::size_t>(got));
  return true;
}

}  // namespace harness
