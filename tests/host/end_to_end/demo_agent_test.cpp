// The demo agent, run in a pseudo-terminal as the host runs it: answers,
// asking back, crashing and quitting, and the "Thinking" it shows meanwhile.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "pty_process.h"

using harness::PtyProcess;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kBanner =
    "Welkmora demo agent. Type a prompt; \"confirm\" asks back, \"crash\" fails, \"exit\" quits.\r\n";

/// The demo agent's command line.
std::vector<std::string> agent_argv() { return {WELKMORA_DEMO_AGENT}; }

/// The test's environment, with the agent answering after `delay` seconds.
harness::Env agent_env(const char* delay) { return harness::environment_with({{"WELKMORA_DEMO_DELAY", delay}}); }

/// Types `prompt`, then the Enter as a write of its own, as the host does.
void submit(PtyProcess& agent, const std::string& prompt) {
  agent.send(prompt);
  agent.send("\r");
}

}  // namespace

TEST(DemoAgent, AnswersAfterTheDelayAndQuits) {
  PtyProcess agent(agent_argv(), agent_env("0.5"));
  ASSERT_TRUE(agent.read_until("demo> ")) << agent.transcript();
  submit(agent, "hello there");
  auto sent = Clock::now();
  ASSERT_TRUE(agent.read_until("Answer: hello there\r\ndemo> ")) << agent.transcript();
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(450));

  submit(agent, "exit");
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_EQ(agent.transcript(), std::string(kBanner) +
                                    // thinking: a dot per tenth of the delay, then erased
                                    "demo> hello there\r\nThinking.....\r\033[KAnswer: hello there\r\n"
                                    "demo> exit\r\nBye.\r\n");
  EXPECT_EQ(agent.wait(), 0);  // an exit, not a signal
}

TEST(DemoAgent, ConfirmAsksBack) {
  PtyProcess agent(agent_argv(), agent_env("0.1"));
  ASSERT_TRUE(agent.read_until("demo> "));
  submit(agent, "Please CONFIRM the plan");
  ASSERT_TRUE(agent.read_until("Thinking.\r\033[KProceed? [y/n] ")) << agent.transcript();
  submit(agent, "y");
  ASSERT_TRUE(agent.read_until("Got: y\r\ndemo> ")) << agent.transcript();

  // Only the whole word asks back.
  submit(agent, "unconfirmed");
  ASSERT_TRUE(agent.read_until("Answer: unconfirmed\r\ndemo> ")) << agent.transcript();

  submit(agent, "quit");
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_EQ(agent.wait(), 0);  // an exit, not a signal
}

TEST(DemoAgent, CrashEndsTheTurnWithStatus3) {
  PtyProcess agent(agent_argv(), agent_env("0.1"));
  ASSERT_TRUE(agent.read_until("demo> "));
  submit(agent, "crash");
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_TRUE(agent.transcript().ends_with("demo> crash\r\nThinking.\r\033[KCrashing.\r\n")) << agent.transcript();
  EXPECT_EQ(agent.wait(), 3);  // an exit, not a signal
}

TEST(DemoAgent, EndOfInputQuits) {
  PtyProcess agent(agent_argv(), agent_env("0.1"));
  ASSERT_TRUE(agent.read_until("demo> "));
  agent.send("\x04");  // end of file at the start of a line
  EXPECT_TRUE(agent.read_to_end());
  EXPECT_TRUE(agent.transcript().ends_with("Bye.\r\n")) << agent.transcript();
  EXPECT_EQ(agent.wait(), 0);  // an exit, not a signal
}
