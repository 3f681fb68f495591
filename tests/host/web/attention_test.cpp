// What a terminal asks of the person (web/attention.h): the states a window's
// header shows, from the events the feed hears and the looks it takes, and
// when a look is due.

#include "web/attention.h"

#include <gtest/gtest.h>

using namespace host;
using namespace std::chrono_literals;

namespace {

AttentionLook waiting_at(std::string_view line, bool alternate = false) {
  return {.activity = Activity::kWaiting, .cursor_line = line, .alternate = alternate};
}

}  // namespace

TEST(HostAttention, AQuestionWaits) {
  EXPECT_TRUE(awaits_input(waiting_at("Your name? ")));
  EXPECT_TRUE(awaits_input(waiting_at("Proceed? [y/n]")));
  EXPECT_FALSE(awaits_input(waiting_at(">>> ")));
  EXPECT_FALSE(awaits_input(waiting_at("user@box:~$ ")));
  EXPECT_FALSE(awaits_input({.activity = Activity::kRunning, .cursor_line = "Password:"}));
  // A relay (ssh): the line alone tells.
  EXPECT_TRUE(awaits_input({.activity = Activity::kUnknown, .cursor_line = "Password:"}));
  // A pager's or an editor's command line is no question; words are.
  EXPECT_FALSE(awaits_input(waiting_at(":", true)));
  EXPECT_TRUE(awaits_input(waiting_at("Save changes? (y/n)", true)));
  // Away from the learned idle prompt, with nothing on the line: input() without a prompt, cat.
  AttentionLook away{.activity = Activity::kWaiting, .cursor_line = "", .at_home = false, .home_known = true};
  EXPECT_TRUE(awaits_input(away));
  away.at_home = true;
  EXPECT_FALSE(awaits_input(away));
}

TEST(HostAttention, WorkThenQuiet) {
  AttentionTracker a;
  Clock::time_point t{1h};
  EXPECT_EQ(a.state(), Attention::kIdle);
  EXPECT_TRUE(a.output(t, false));
  EXPECT_EQ(a.state(), Attention::kWorking);
  // Streaming output puts the look off; the look comes kQuiet after the last.
  for (int i = 1; i <= 30; ++i) a.output(t + i * 100ms, false);
  EXPECT_EQ(a.look_due(), t + 3000ms + AttentionTracker::kQuiet);
  // Three seconds of work, then the prompt: finished, until the person looks.
  EXPECT_TRUE(a.looked(t + 3400ms, waiting_at("$ ")));
  EXPECT_EQ(a.state(), Attention::kFinished);
  EXPECT_FALSE(a.look_due());
  EXPECT_TRUE(a.seen());
  EXPECT_EQ(a.state(), Attention::kIdle);
  // A short burst is not worth a look of the person's.
  a.output(t + 10s, false);
  a.looked(t + 10500ms, waiting_at("$ "));
  EXPECT_EQ(a.state(), Attention::kIdle);
}

TEST(HostAttention, EchoRedrawsAndSilentWork) {
  AttentionTracker a;
  Clock::time_point t{1h};
  // The echo of the person's keys and a monitor's redraws are no work.
  a.typed(t);
  EXPECT_FALSE(a.output(t + 50ms, false));
  EXPECT_FALSE(a.output(t + 2s, true));
  EXPECT_EQ(a.state(), Attention::kIdle);
  // A command at work in silence is looked at again, less and less often.
  EXPECT_TRUE(a.looked(t + 3s, {.activity = Activity::kBusy, .cursor_line = ""}));
  EXPECT_EQ(a.state(), Attention::kWorking);
  EXPECT_EQ(a.look_due(), t + 3s + AttentionTracker::kRecheckFirst);
  a.looked(t + 4s, {.activity = Activity::kRunning, .cursor_line = ""});
  EXPECT_EQ(a.look_due(), t + 4s + 2 * AttentionTracker::kRecheckFirst);
  // It ends in a question: awaiting input, until the person answers.
  EXPECT_TRUE(a.looked(t + 6s, waiting_at("Your name? ")));
  EXPECT_EQ(a.state(), Attention::kInput);
  a.typed(t + 7s);
  EXPECT_EQ(a.look_due(), t + 7s + AttentionTracker::kQuiet);
  EXPECT_TRUE(a.looked(t + 8s, waiting_at(">>> ")));
  EXPECT_EQ(a.state(), Attention::kIdle);
  // However often a program prints, it is looked at no more than once a second.
  a.output(t + 8100ms, true);
  EXPECT_EQ(a.look_due(), t + 8s + AttentionTracker::kLookEvery);
}

TEST(HostAttention, AskedTurnsAndTheEnd) {
  AttentionTracker a;
  Clock::time_point t{1h};
  EXPECT_TRUE(a.turn_started(t));
  EXPECT_FALSE(a.look_due()) << "the turn rule watches a turn";
  EXPECT_FALSE(a.looked(t + 1s, waiting_at("$ ")));
  EXPECT_EQ(a.state(), Attention::kWorking);
  EXPECT_TRUE(a.turn_ended(t + 2s));
  EXPECT_EQ(a.state(), Attention::kFinished);
  a.turn_reason("prompt");
  a.looked(t + 3s, waiting_at("$ "));
  EXPECT_EQ(a.state(), Attention::kFinished);
  // A turn that ended awaiting input stays so, whatever the screen shows, until something happens.
  a.turn_started(t + 4s);
  a.turn_ended(t + 5s);
  EXPECT_TRUE(a.turn_reason("input"));
  a.looked(t + 6s, waiting_at(":", true));
  EXPECT_EQ(a.state(), Attention::kInput);
  a.typed(t + 7s);
  a.looked(t + 8s, waiting_at(":", true));
  EXPECT_EQ(a.state(), Attention::kIdle);
  // The asker gave up: nothing finished for the person.
  a.turn_started(t + 9s);
  a.turn_ended(t + 10s);
  EXPECT_TRUE(a.turn_reason("cancelled"));
  EXPECT_EQ(a.state(), Attention::kIdle);
  EXPECT_TRUE(a.exited());
  EXPECT_FALSE(a.output(t + 11s, false));
  EXPECT_EQ(a.state(), Attention::kExited);
  EXPECT_FALSE(a.look_due());
}
