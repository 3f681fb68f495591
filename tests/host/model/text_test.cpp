// The text helpers behind note reads and edits, and the host's timers.

#include <gtest/gtest.h>

#include "loop/timers.h"
#include "model/text_edit.h"

using namespace host;

TEST(HostText, ReplaceFirst) {
  EXPECT_EQ(replace_first("a-b-a", "a", "X"), "X-b-a");
  EXPECT_EQ(replace_first("a-b-a", "-b-", ""), "aa");
  EXPECT_EQ(replace_first("aaa", "aa", "b"), "ba");
  EXPECT_EQ(replace_first("abc", "abc", "abcabc"), "abcabc");
  EXPECT_EQ(replace_first("abc", "x", "y"), std::nullopt);
  EXPECT_EQ(replace_first("abc", "", "y"), std::nullopt);
  EXPECT_EQ(replace_first("", "a", "y"), std::nullopt);
}

TEST(HostText, SliceLines) {
  const std::string text = "l0\nl1\n\nl3";
  EXPECT_EQ(slice_lines(text, 0, std::nullopt), text);
  EXPECT_EQ(slice_lines(text, 1, 2), "l1\n\n");
  EXPECT_EQ(slice_lines(text, 2, 1), "\n");
  EXPECT_EQ(slice_lines(text, 3, 5), "l3");
  EXPECT_EQ(slice_lines(text, 4, std::nullopt), "");
  EXPECT_EQ(slice_lines(text, 0, 0), "");
  EXPECT_EQ(slice_lines("a\n", 1, std::nullopt), "");
  EXPECT_EQ(slice_lines("", 0, std::nullopt), "");
  EXPECT_EQ(slice_lines(text, UINT64_MAX, UINT64_MAX), "");
  EXPECT_EQ(count_lines(text), 4u);
  EXPECT_EQ(count_lines("a\n"), 1u);
  EXPECT_EQ(count_lines(""), 0u);
  EXPECT_EQ(count_lines("\n\n"), 2u);
}

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
