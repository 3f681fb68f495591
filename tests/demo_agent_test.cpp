// The demo agent, run in a pseudo-terminal as the host runs it: answers,
// asking back, crashing and quitting, and the "Thinking" it shows meanwhile.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

#include "unique_fd.h"

using wire::UniqueFd;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kBanner =
    "Welkmora demo agent. Type a prompt; \"confirm\" asks back, \"crash\" fails, \"exit\" quits.\r\n";

/// The demo agent on the other side of a pseudo-terminal.
class DemoAgent {
 public:
  explicit DemoAgent(const char* delay) {
    int master = -1;
    pid_ = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) {
      ::setenv("WELKMORA_DEMO_DELAY", delay, 1);
      ::execl(WELKMORA_DEMO_AGENT, WELKMORA_DEMO_AGENT, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    master_.reset(master);
  }

  ~DemoAgent() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }

  /// Reads until the transcript ends with `tail`; false after a minute.
  bool read_until(const std::string& tail) {
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!transcript_.ends_with(tail)) {
      if (!read_some(deadline)) return false;
    }
    return true;
  }

  /// Reads until the agent closes its side; false after a minute.
  bool read_to_end() {
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (read_some(deadline)) {
    }
    return closed_;
  }

  void type(const std::string& text) {
    ASSERT_EQ(::write(master_.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  /// Types `prompt`, then the Enter as a write of its own, as the host does.
  void submit(const std::string& prompt) {
    type(prompt);
    type("\r");
  }

  int wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

  const std::string& transcript() const { return transcript_; }

 private:
  bool read_some(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || closed_) return false;
    pollfd p{master_.get(), POLLIN, 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    char buf[4096];
    ssize_t got = ::read(master_.get(), buf, sizeof buf);
    if (got < 0 && errno == EINTR) return true;
    if (got <= 0) {  // EIO once the agent's side is closed
      closed_ = true;
      return false;
    }
    transcript_.append(buf, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  UniqueFd master_;
  std::string transcript_;
  bool closed_ = false;
};

}  // namespace

TEST(DemoAgent, AnswersAfterTheDelayAndQuits) {
  DemoAgent agent("0.5");
  ASSERT_TRUE(agent.read_until("demo> ")) << agent.transcript();
  agent.submit("hello there");
  auto sent = Clock::now();
  ASSERT_TRUE(agent.read_until("Answer: hello there\r\ndemo> ")) << agent.transcript();
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(450));

  agent.submit("exit");
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_EQ(agent.transcript(), std::string(kBanner) +
                                    // thinking: a dot per tenth of the delay, then erased
                                    "demo> hello there\r\nThinking.....\r\033[KAnswer: hello there\r\n"
                                    "demo> exit\r\nBye.\r\n");
  int status = agent.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DemoAgent, ConfirmAsksBack) {
  DemoAgent agent("0.1");
  ASSERT_TRUE(agent.read_until("demo> "));
  agent.submit("Please CONFIRM the plan");
  ASSERT_TRUE(agent.read_until("Thinking.\r\033[KProceed? [y/n] ")) << agent.transcript();
  agent.submit("y");
  ASSERT_TRUE(agent.read_until("Got: y\r\ndemo> ")) << agent.transcript();

  // Only the whole word asks back.
  agent.submit("unconfirmed");
  ASSERT_TRUE(agent.read_until("Answer: unconfirmed\r\ndemo> ")) << agent.transcript();

  agent.submit("quit");
  EXPECT_TRUE(agent.read_to_end());
  int status = agent.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DemoAgent, CrashEndsTheTurnWithStatus3) {
  DemoAgent agent("0.1");
  ASSERT_TRUE(agent.read_until("demo> "));
  agent.submit("crash");
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_TRUE(agent.transcript().ends_with("demo> crash\r\nThinking.\r\033[KCrashing.\r\n")) << agent.transcript();
  int status = agent.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(DemoAgent, EndOfInputQuits) {
  DemoAgent agent("0.1");
  ASSERT_TRUE(agent.read_until("demo> "));
  agent.type("\x04");  // end of file at the start of a line
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_TRUE(agent.transcript().ends_with("Bye.\r\n")) << agent.transcript();
  int status = agent.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
