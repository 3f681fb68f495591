// The exchange under faults: a client stopped and continued while it waits,
// replies that dribble in or are huge.

#include <gtest/gtest.h>
#include <signal.h>

#include "fake_app.h"
#include "os_error.h"

using namespace harness;
using namespace std::chrono_literals;

TEST(LinkFaults, StopAndContinueWhileWaitingDoNotEndTheExchange) {
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  o.on_started = [](int pid) {
    std::this_thread::sleep_for(100ms);
    ::kill(pid, SIGSTOP);
    std::this_thread::sleep_for(100ms);
    ::kill(pid, SIGCONT);
  };
  Script s{{"{\"ok\":true,", "\"result\":{\"output\":\"hi\"}}\n"}, 600ms, true};
  Exchange x = app.exchange({"check", "Dev"}, s, o);
  EXPECT_EQ(x.run.out, "hi\n");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);
}

TEST(LinkFaults, ReplyDribbledOneByteAtATime) {
  FakeApp app;
  std::string line = R"({"ok":true,"result":{"agents":[{"name":"Dev"}]}})"
                     "\n";
  Script s;
  s.gap = 1ms;
  for (char c : line) s.chunks.emplace_back(1, c);
  RunOptions o;
  o.env = app.env();
  Exchange x = app.exchange({"list"}, s, o);
  EXPECT_EQ(x.run.out, "Verbundene Agenten:\n  - Dev\n");
  EXPECT_EQ(x.run.status, 0);
}

TEST(LinkFaults, SixtyFourMebibyteReply) {
  FakeApp app;
  std::string output(64u << 20, 'x');
  for (std::size_t i = 4095; i + 1 < output.size(); i += 4096) output[i] = '\n';
  Exchange x = app.exchange(
      {"check", "Dev"}, R"({"ok":true,"result":{"output":")" + [&] {
        std::string escaped;
        escaped.reserve(output.size() + output.size() / 2048);
        for (char c : output) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
        return escaped;
      }() + "\"}}\n");
  EXPECT_EQ(x.run.status, 0);
  EXPECT_EQ(x.run.err, "");
  ASSERT_EQ(x.run.out.size(), output.size() + 1);
  EXPECT_TRUE(x.run.out.compare(0, output.size(), output) == 0);
}

TEST(LinkFaults, AppClosingBeforeReadingALargeRequest) {
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  o.in = Stdin::bytes(std::string(64u << 20, 'n'));
  Script s;
  s.read_request = false;
  Exchange x = app.exchange({"note", "write", "N"}, s, o);
  EXPECT_EQ(x.run.signal, 0) << "killed by a signal";
  EXPECT_EQ(x.run.status, 1);
  EXPECT_TRUE(x.run.err == "welkmora: connection failed: " + os::error_text(EPIPE) + "\n" ||
              x.run.err == "welkmora: connection failed: " + os::error_text(ECONNRESET) + "\n")
      << x.run.err;
  EXPECT_EQ(x.run.out, "");
}

TEST(LinkFaults, AnAnswerBeforeTheRequestWasReadIsShown) {
  // The app refuses a request too large to read, answers and closes: the
  // send fails, but the answer is there to read.
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  o.in = Stdin::bytes(std::string(64u << 20, 'n'));
  Script s{{R"({"error":"request too large","ok":false})"
            "\n"},
           {},
           false};
  Exchange x = app.exchange({"note", "write", "N"}, s, o);
  EXPECT_EQ(x.run.err, "welkmora: request too large\n");
  EXPECT_EQ(x.run.status, 1);
  EXPECT_EQ(x.run.out, "");
}
