// The event loop's order: the socket's descriptors first in every round,
// the others in turns, however many of them stay ready.

#include "loop/reactor.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

using namespace host;

TEST(HostReactor, FirstInEveryRoundTheOthersInTurns) {
  Reactor reactor;
  std::vector<os::UniqueFd> fds;
  std::vector<Reactor::Watch> watches;
  std::vector<int> served(20, 0);
  int first = 0;
  auto readable_pipe = [&] {
    int p[2];
    EXPECT_EQ(::pipe(p), 0);
    EXPECT_EQ(::write(p[1], "x", 1), 1);  // never read: it stays ready
    fds.emplace_back(p[0]);
    fds.emplace_back(p[1]);
    return p[0];
  };
  for (int i = 0; i < 20; ++i)
    watches.emplace_back(reactor, readable_pipe(), POLLIN, [&, i](unsigned) { ++served[i]; });
  watches.emplace_back(
      reactor, readable_pipe(), POLLIN, [&](unsigned) { ++first; }, Reactor::Priority::kFirst);

  ASSERT_TRUE(reactor.run_once(Clock::now()));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(std::count(served.begin(), served.end(), 1), Reactor::kBatch);
  ASSERT_TRUE(reactor.run_once(Clock::now()));
  ASSERT_TRUE(reactor.run_once(Clock::now()));
  EXPECT_EQ(first, 3);
  EXPECT_EQ(*std::min_element(served.begin(), served.end()), 1) << "each had its turn";
}
