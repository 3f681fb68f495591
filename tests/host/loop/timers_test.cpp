// The host's timers: due work in deadline order, cancelled work never.

#include "loop/timers.h"

#include <gtest/gtest.h>

#include <vector>

using namespace host;

TEST(HostTimers, RunInDeadlineOrderAndCancel) {
  Timers timers;
  auto t0 = Clock::now();
  std::vector<int> ran;
  timers.at(t0 + std::chrono::seconds(2), [&] { ran.push_back(2); });
  Timers::Id one = timers.at(t0 + std::chrono::seconds(1), [&] { ran.push_back(1); });
  timers.at(t0 + std::chrono::seconds(3), [&] { ran.push_back(3); });
  timers.at(t0 + std::chrono::seconds(1), [&] {
    ran.push_back(11);
    timers.at(t0, [&] { ran.push_back(0); });  // already due: runs in the same pass
  });
  EXPECT_EQ(timers.next(), t0 + std::chrono::seconds(1));
  timers.cancel(one);
  timers.run_due(t0 + std::chrono::seconds(2));
  EXPECT_EQ(ran, (std::vector<int>{11, 0, 2}));
  EXPECT_EQ(timers.next(), t0 + std::chrono::seconds(3));
  timers.run_due(t0 + std::chrono::seconds(9));
  EXPECT_EQ(ran.back(), 3);
  EXPECT_EQ(timers.next(), std::nullopt);
}
