// The durations welkmora-host's options take (--settle, --max-wait).

#include "cli/duration.h"

#include <gtest/gtest.h>

using namespace host;
using namespace std::chrono_literals;

TEST(Duration, UnitsAndBounds) {
  EXPECT_EQ(parse_duration("500ms"), 500ms);
  EXPECT_EQ(parse_duration("2s"), 2000ms);
  EXPECT_EQ(parse_duration("2"), 2000ms);
  EXPECT_EQ(parse_duration("10m"), 600000ms);
  EXPECT_EQ(parse_duration("1440m"), 24h);
  EXPECT_EQ(parse_duration("86400000ms"), 24h);
  for (const char* bad : {"", "ms", "0", "0ms", "1441m", "86401s", "1.5s", "-1s", "+1s", " 1s", "1s ", "1 s", "1h",
                          "1S", "1sec", "99999999999999999999s"}) {
    EXPECT_EQ(parse_duration(bad), std::nullopt) << bad;
  }
}
