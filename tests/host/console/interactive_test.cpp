// welkmora-host without a command, as a person runs it: the test is the
// user's terminal (the master of a pty), which shows the workspace's Lead,
// the user's shell that the host runs in a pty of its own.

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "host_process.h"
#include "pty_process.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool gone(pid_t pid) {
  auto deadline = Clock::now() + 10s;
  while (::kill(pid, 0) == 0 || errno != ESRCH) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

/// Waits until some process runs with exactly `cmdline` (arguments joined
/// by NUL bytes); false after thirty seconds.
bool running(const std::string& cmdline) {
  auto deadline = Clock::now() + 30s;
  while (Clock::now() < deadline) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream in(entry.path() / "cmdline", std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text == cmdline) return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

}  // namespace

TEST(HostInteractive, TheShellIsLeadUntilItEnds) {
  harness::HostProcess place;  // only for its private directory
  const std::string dir = place.dir();
  const std::string bin = std::filesystem::path(WELKMORA_BIN).parent_path().string();
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  harness::PtyProcess user({harness::host_path()},
                           {{"PATH", bin + ":/usr/bin:/bin"},
                            {"HOME", dir},
                            {"XDG_RUNTIME_DIR", dir + "/run"},
                            {"XDG_STATE_HOME", dir + "/state"},
                            {"SHELL", "/bin/sh"},
                            {"PS1", "lead> "},
                            {"LANG", "C.UTF-8"},
                            {"WELKMORA_DEMO_DELAY", "0.2"}},
                           size);
  ASSERT_TRUE(user.expect("lead>")) << user.transcript();

  // The shell is the terminal Lead, with the host's variables, at the size
  // of the user's terminal.
  user.send("echo id=$WELKMORA_TERMINAL_ID size=$(stty size)\r");
  ASSERT_TRUE(user.expect("id=Lead size=30 100")) << user.transcript();

  // It recruits and asks like any terminal.
  user.send("welkmora recruit Dev --command 'echo $$ > " + dir + "/dev.pid; exec welkmora-demo-agent'\r");
  ASSERT_TRUE(user.expect("Recruit gespawnt: Dev")) << user.transcript();
  user.send("until welkmora check Dev | grep -q demo; do sleep 0.1; done; welkmora ask Dev hello\r");
  ASSERT_TRUE(user.expect("Answer: hello")) << user.transcript();

  // Window-size changes reach the shell.
  user.resize(50, 132);
  user.send("stty size\r");
  ASSERT_TRUE(user.expect("50 132")) << user.transcript();

  // Ctrl-C goes to the shell's program, not to the host.
  // Wait for the program itself: a Ctrl-C that reaches the shell first would
  // flush the typed-ahead line below.
  user.send("sleep 61\r");
  ASSERT_TRUE(
      running(std::string("sleep\0"
                          "61\0",
                          9)))
      << user.transcript();
  user.send("\x03");
  user.send("echo still; echo here\r");
  ASSERT_TRUE(user.expect("still\r\nhere")) << user.transcript();

  // Lead is the person's shell: its recruits cannot dismiss it.
  user.send("welkmora recruit Rogue --command 'welkmora dismiss Lead >" + dir + "/rogue.tmp 2>&1; mv " + dir +
            "/rogue.tmp " + dir + "/rogue.txt; sleep 60'\r");
  auto until = Clock::now() + 30s;
  while (!std::filesystem::exists(dir + "/rogue.txt") && Clock::now() < until) std::this_thread::sleep_for(20ms);
  std::ifstream rogue(dir + "/rogue.txt");
  std::string refusal((std::istreambuf_iterator<char>(rogue)), std::istreambuf_iterator<char>());
  EXPECT_EQ(refusal, "welkmora: cannot dismiss Lead: it is the person's shell\n");

  // Leaving the shell stops the host and everything it started.
  pid_t dev = 0;
  std::ifstream(dir + "/dev.pid") >> dev;
  ASSERT_GT(dev, 0);
  user.send("exit 7\r");
  EXPECT_EQ(user.wait(), 7) << user.transcript();
  EXPECT_TRUE(gone(dev));
  EXPECT_FALSE(std::filesystem::exists(dir + "/run/welkmora/host.sock"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/state/welkmora"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/state/welkmora/host-state.json.lock"));
}
