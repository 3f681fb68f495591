// What the kernel says a terminal's foreground does: the system call each
// process is blocked in, and the verdict over the group.

#include "pty/foreground.h"

#include <gtest/gtest.h>

using namespace host;

TEST(Activity, SystemCallsAndStates) {
  EXPECT_EQ(classify_syscall("running", 'R').blocked, Blocked::kRunning);
  EXPECT_EQ(classify_syscall("0 0x0 0x5642 0x2000 0x0 0x7 0x5 0x7ffc 0x7fd0", 'R').blocked, Blocked::kRunning);
  BlockedCall read = classify_syscall("0 0xc 0x7ffe 0x1 0x8 0x7 0x56 0x7ffe 0x7f", 'S');  // zsh reads fd 12
  EXPECT_EQ(read.blocked, Blocked::kInput);
  EXPECT_EQ(read.read_fd, 12);
  EXPECT_EQ(classify_syscall("270 0x1 0x7ffd 0x0 0x0 0x0 0x7ffd 0x7ffd 0x7f", 'S').blocked, Blocked::kInput);
  EXPECT_EQ(classify_syscall("7 0x55b5 0x4 0xffffffff 0x0 0x0 0x0 0x7fff 0x7f", 'S').blocked, Blocked::kInput);
  EXPECT_EQ(classify_syscall("281 0x10 0x7ffc 0x400 0xb92 0x0 0x8 0x7ffc 0x7f", 'S').blocked, Blocked::kInputOrTimer);
  EXPECT_EQ(classify_syscall("230 0x0 0x0 0x7ffe 0x7ffe 0x0 0x0 0x7ffe 0x7f", 'S').blocked, Blocked::kTimer);
  EXPECT_EQ(classify_syscall("61 0xffffffff 0x7ffe 0x2 0x0 0x0 0x0 0x7ffe 0x7f", 'S').blocked, Blocked::kElsewhere);

  auto verdict = [](std::initializer_list<Blocked> blocked) {
    ActivityTally tally;
    for (Blocked b : blocked) tally.add(b);
    return tally.verdict();
  };
  EXPECT_EQ(verdict({Blocked::kInput, Blocked::kElsewhere}), Activity::kWaiting);  // cat | grep
  EXPECT_EQ(verdict({Blocked::kInput, Blocked::kRunning}), Activity::kRunning);
  EXPECT_EQ(verdict({Blocked::kInput, Blocked::kTimer}), Activity::kBusy);
  EXPECT_EQ(verdict({Blocked::kInput, Blocked::kInputOrTimer}), Activity::kTicking);
  EXPECT_EQ(verdict({Blocked::kElsewhere}), Activity::kBusy);
  EXPECT_EQ(verdict({}), Activity::kUnknown);
}
