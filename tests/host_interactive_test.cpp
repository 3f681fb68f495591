// welkmora-host without a command, as a person runs it: the test is the
// user's terminal (the master of a pty), the host runs the user's shell as
// "Lead" inside it.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "host_process.h"
#include "unique_fd.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

/// A terminal of the test's own with welkmora-host running in it.
class UserTerminal {
 public:
  UserTerminal(const std::vector<std::string>& env, winsize size) {
    std::vector<std::string> env_copy = env;
    std::vector<char*> envp;
    for (std::string& e : env_copy) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = harness::host_path();
    int master = -1;
    pid_ = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) {
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      char* argv[] = {program.data(), nullptr};
      ::execve(argv[0], argv, envp.data());
      ::_exit(127);
    }
    master_.reset(master);
  }

  ~UserTerminal() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }

  /// Reads until `needle` appears after what earlier calls have matched;
  /// false after thirty seconds.
  bool expect(const std::string& needle) {
    auto deadline = Clock::now() + 30s;
    for (;;) {
      std::size_t at = transcript_.find(needle, matched_);
      if (at != std::string::npos) {
        matched_ = at + needle.size();
        return true;
      }
      if (!read_some(deadline)) return false;
    }
  }

  void type(const std::string& keys) {
    ASSERT_EQ(::write(master_.get(), keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  void resize(unsigned short rows, unsigned short cols) {
    winsize size{};
    size.ws_row = rows;
    size.ws_col = cols;
    ASSERT_EQ(::ioctl(master_.get(), TIOCSWINSZ, &size), 0);
  }

  /// The host's exit status, or -1 when it has not ended within 30 s.
  int wait() {
    auto deadline = Clock::now() + 30s;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) return -1;
      read_some(Clock::now() + 50ms);  // keep the pty drained
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& transcript() const { return transcript_; }

 private:
  bool read_some(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{master_.get(), POLLIN, 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    char buf[4096];
    ssize_t got = ::read(master_.get(), buf, sizeof buf);
    if (got < 0 && errno == EINTR) return true;
    if (got <= 0) {
      std::this_thread::sleep_for(10ms);  // EIO while no one holds the other side
      return Clock::now() < deadline;
    }
    transcript_.append(buf, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  wire::UniqueFd master_;
  std::string transcript_;
  std::size_t matched_ = 0;
};

bool gone(pid_t pid) {
  auto deadline = Clock::now() + 10s;
  while (::kill(pid, 0) == 0 || errno != ESRCH) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

}  // namespace

TEST(HostInteractive, TheShellIsLeadUntilItEnds) {
  harness::HostProcess place;  // only for its private directory
  const std::string dir = place.dir();
  const std::string bin = std::filesystem::path(WELKMORA_BIN).parent_path().string();
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  UserTerminal user({"PATH=" + bin + ":/usr/bin:/bin", "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir + "/run",
                     "XDG_STATE_HOME=" + dir + "/state", "SHELL=/bin/sh", "PS1=lead> ", "LANG=C.UTF-8",
                     "WELKMORA_DEMO_DELAY=0.2"},
                    size);
  ASSERT_TRUE(user.expect("lead> ")) << user.transcript();

  // The shell is the terminal Lead, with the host's variables, at the size
  // of the user's terminal.
  user.type("echo id=$WELKMORA_TERMINAL_ID size=$(stty size)\r");
  ASSERT_TRUE(user.expect("id=Lead size=30 100")) << user.transcript();

  // It recruits and asks like any terminal.
  user.type("welkmora recruit Dev --command 'echo $$ > " + dir + "/dev.pid; exec welkmora-demo-agent'\r");
  ASSERT_TRUE(user.expect("Recruit gespawnt: Dev")) << user.transcript();
  user.type("until welkmora check Dev | grep -q demo; do sleep 0.1; done; welkmora ask Dev hello\r");
  ASSERT_TRUE(user.expect("Answer: hello")) << user.transcript();

  // Window-size changes reach the shell.
  user.resize(50, 132);
  user.type("stty size\r");
  ASSERT_TRUE(user.expect("50 132")) << user.transcript();

  // Ctrl-C goes to the shell's program, not to the host.
  user.type("sleep 60\r");
  std::this_thread::sleep_for(300ms);
  user.type("\x03");
  user.type("echo still; echo here\r");
  ASSERT_TRUE(user.expect("still\r\nhere")) << user.transcript();

  // Leaving the shell stops the host and everything it started.
  pid_t dev = 0;
  std::ifstream(dir + "/dev.pid") >> dev;
  ASSERT_GT(dev, 0);
  user.type("exit 7\r");
  EXPECT_EQ(user.wait(), 7) << user.transcript();
  EXPECT_TRUE(gone(dev));
  EXPECT_FALSE(std::filesystem::exists(dir + "/run/welkmora/host.sock"));
}
