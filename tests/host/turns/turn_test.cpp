// The end-of-turn rule of `ask`, the cursor-line heuristic, the output of a
// turn and the answer built from it.

#include "turns/turn.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace host;
using namespace std::chrono_literals;

namespace {

const Clock::time_point t0 = Clock::time_point{} + 1000s;

TurnRule rule(std::chrono::milliseconds settle = 2000ms, std::chrono::milliseconds max_wait = 60000ms) {
  TurnRule r;
  r.settle = settle;
  r.max_wait = max_wait;
  return r;  // the Enter within 200 ms, 30 ms after the echo; 50 ms once the prompt is back
}

/// A tracker whose Enter went out at its latest.
TurnTracker entered(const TurnRule& r = rule()) {
  TurnTracker t(r, t0);
  t.enter_written(t.enter_due());
  return t;
}

const Clock::time_point entered_at = t0 + 200ms;

/// Signals with only a cursor line: no sign of the end, none of a hold.
TurnSignals plain(std::string_view cursor_line = "") { return {cursor_line, false, false}; }
const TurnSignals prompt_back{"$", true, false};
const TurnSignals held{"", false, true};

TurnState state(TurnTracker& t, Clock::time_point now, const TurnSignals& signals = plain()) {
  return t.judge(now, signals).state;
}

}  // namespace

TEST(TurnTracker, EnterFollowsTheEchoOrComesAfterItsPause) {
  TurnTracker silent(rule(), t0);  // no echo: the whole pause
  EXPECT_TRUE(silent.enter_pending());
  EXPECT_EQ(silent.enter_due(), t0 + 200ms);
  EXPECT_EQ(silent.next_deadline(), t0 + 200ms);
  // Silence before the Enter ends nothing, however long.
  EXPECT_EQ(state(silent, t0 + 10s), TurnState::kRunning);
  silent.enter_written(t0 + 250ms);
  EXPECT_FALSE(silent.enter_pending());
  EXPECT_EQ(silent.next_deadline(), t0 + 250ms + 2s);

  TurnTracker echoed(rule(), t0);
  echoed.output_seen(t0 - 1s);  // older output is no echo
  EXPECT_EQ(echoed.enter_due(), t0 + 200ms);
  echoed.output_seen(t0 + 5ms);
  EXPECT_EQ(echoed.enter_due(), t0 + 35ms);
  EXPECT_EQ(echoed.recheck_after_output(t0 + 5ms), t0 + 35ms);
  echoed.output_seen(t0 + 190ms);  // a redraw that goes on: the pause bounds it
  EXPECT_EQ(echoed.enter_due(), t0 + 200ms);
  echoed.enter_written(t0 + 200ms);
  EXPECT_EQ(echoed.recheck_after_output(t0 + 300ms), t0 + 350ms);
}

TEST(TurnTracker, QuietForTheSettleTimeEndsTheTurn) {
  TurnTracker t = entered();
  EXPECT_EQ(state(t, entered_at + 1999ms, plain("demo> ")), TurnState::kRunning);
  TurnVerdict v = t.judge(entered_at + 2000ms, plain("demo> "));
  EXPECT_EQ(v.state, TurnState::kEnded);
  EXPECT_EQ(v.reason, "quiet");

  // Each output starts the settle time again.
  t.output_seen(entered_at + 1500ms);
  EXPECT_EQ(state(t, entered_at + 2000ms), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), entered_at + 3500ms);
  EXPECT_EQ(state(t, entered_at + 3499ms), TurnState::kRunning);
  EXPECT_EQ(state(t, entered_at + 3500ms), TurnState::kEnded);

  // A late report of older output does not move the quiet time back.
  t.output_seen(entered_at + 100ms);
  EXPECT_EQ(t.next_deadline(), entered_at + 3500ms);
}

TEST(TurnTracker, EchoBeforeTheEnterDoesNotShortenTheSettleTime) {
  TurnTracker t(rule(), t0);
  t.output_seen(t0 + 10ms);  // the echo of the typed prompt
  t.enter_written(t0 + 40ms);
  EXPECT_EQ(state(t, t0 + 2039ms, plain("demo> hi")), TurnState::kRunning);
  EXPECT_EQ(state(t, t0 + 2040ms, plain("demo> hi")), TurnState::kEnded);
}

TEST(TurnTracker, ThePromptBackEndsTheTurnAfterAShortQuiet) {
  TurnTracker t = entered();
  t.output_seen(entered_at + 10ms);
  EXPECT_EQ(state(t, entered_at + 59ms, prompt_back), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), entered_at + 60ms);
  TurnVerdict v = t.judge(entered_at + 60ms, prompt_back);
  EXPECT_EQ(v.state, TurnState::kEnded);
  EXPECT_EQ(v.reason, "prompt");

  // Output after the prompt starts the short quiet again.
  t.output_seen(entered_at + 70ms);
  EXPECT_EQ(state(t, entered_at + 100ms, prompt_back), TurnState::kRunning);
  // Without the prompt, the settle time counts.
  EXPECT_EQ(state(t, entered_at + 200ms), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), entered_at + 2070ms);
}

TEST(TurnTracker, AHeldTurnWaitsAndCountsItsQuietFromTheHold) {
  TurnTracker t = entered(rule(2000ms, 30000ms));
  // A child holds the foreground: no quiet ends the turn, however long.
  for (auto at = entered_at; at < entered_at + 10s; at += 100ms) {
    ASSERT_EQ(state(t, at, held), TurnState::kRunning);
    ASSERT_EQ(t.next_deadline(), at + 100ms);  // looked at again soon
  }
  // Let go without a sign of the end: the settle time counts from the hold.
  Clock::time_point last_held = entered_at + 9900ms;
  EXPECT_EQ(state(t, entered_at + 10s), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), last_held + 2s);
  EXPECT_EQ(state(t, last_held + 2s), TurnState::kEnded);

  // Held until the upper bound.
  TurnTracker stuck = entered(rule(2000ms, 30000ms));
  EXPECT_EQ(state(stuck, t0 + 29999ms, held), TurnState::kRunning);
  EXPECT_EQ(state(stuck, t0 + 30s, held), TurnState::kTimedOut);
}

TEST(TurnTracker, QuietQuestionMeansAwaitingInputHeldOrNot) {
  TurnTracker t = entered();
  t.output_seen(entered_at + 1s);
  EXPECT_EQ(state(t, entered_at + 2s, plain("Proceed? [y/n] ")), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), entered_at + 3s);
  TurnVerdict v = t.judge(entered_at + 3s, plain("Proceed? [y/n] "));
  EXPECT_EQ(v.state, TurnState::kAwaitingInput);
  EXPECT_EQ(v.reason, "input");
  EXPECT_EQ(state(t, entered_at + 3s, plain("demo> ")), TurnState::kEnded);

  // A child in the foreground asks (sudo, apt): held, it still waits.
  TurnTracker child = entered();
  child.output_seen(entered_at + 1s);
  for (auto at = entered_at; at < entered_at + 3s; at += 100ms) {
    ASSERT_EQ(state(child, at, {"[sudo] password for ann:", false, true}), TurnState::kRunning);
  }
  EXPECT_EQ(state(child, entered_at + 3s, {"[sudo] password for ann:", false, true}), TurnState::kAwaitingInput);
}

TEST(TurnTracker, ExitEndsTheTurnAtOnce) {
  TurnTracker before_enter(rule(), t0);
  before_enter.peer_exited();
  EXPECT_EQ(state(before_enter, t0), TurnState::kExited);
  EXPECT_LE(before_enter.next_deadline(), t0);

  TurnTracker t = entered();
  t.output_seen(entered_at + 1s);
  t.peer_exited();
  EXPECT_EQ(t.judge(entered_at + 1s, held).reason, "exited");
  EXPECT_EQ(state(t, t0 + 1h, prompt_back), TurnState::kExited);
}

TEST(TurnTracker, UpperBoundWhenTheOutputNeverStops) {
  TurnTracker t = entered(rule(2000ms, 10000ms));
  for (auto at = entered_at; at < t0 + 10s; at += 1s) t.output_seen(at);
  EXPECT_EQ(t.next_deadline(), t0 + 10s);
  EXPECT_EQ(state(t, t0 + 9999ms), TurnState::kRunning);
  TurnVerdict v = t.judge(t0 + 10s, plain());
  EXPECT_EQ(v.state, TurnState::kTimedOut);
  EXPECT_EQ(v.reason, "max-wait");
  // A turn that has gone quiet by then has ended instead.
  EXPECT_EQ(state(t, t0 + 12s), TurnState::kEnded);

  // The bound counts from the typed prompt, even while the Enter is pending.
  TurnTracker stuck(rule(2000ms, 10000ms), t0);
  EXPECT_EQ(state(stuck, t0 + 10s), TurnState::kTimedOut);
}

namespace {

TurnSignals kernel(Activity activity, std::string_view cursor_line = "", bool at_home = false, bool alternate = false) {
  return {cursor_line, false, false, activity, at_home, alternate};
}

}  // namespace

TEST(TurnTracker, TheKernelSaysWhetherThePeerStillWorks) {
  // Running or busy (a timer, a child): no end however long the quiet.
  TurnTracker t = entered();
  EXPECT_EQ(state(t, entered_at + 30s, kernel(Activity::kRunning)), TurnState::kRunning);
  EXPECT_EQ(state(t, entered_at + 30s, kernel(Activity::kBusy, "$")), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), entered_at + 30s + 100ms);  // looked at again soon
  // Waiting on the terminal: after the short quiet, at the idle prompt or not.
  EXPECT_EQ(state(t, entered_at + 30s, kernel(Activity::kWaiting, "$", true)), TurnState::kEnded);
  TurnTracker asked = entered();
  asked.output_seen(entered_at + 10ms);
  EXPECT_EQ(state(asked, entered_at + 40ms, kernel(Activity::kWaiting, "Select option [1-3]")), TurnState::kRunning);
  TurnVerdict v = asked.judge(entered_at + 60ms, kernel(Activity::kWaiting, "Select option [1-3]"));
  EXPECT_EQ(v.state, TurnState::kAwaitingInput);
  EXPECT_EQ(v.reason, "input");
  // The echo of the text that comes after the Enter was written, with the
  // program still waiting for the Enter, is no answer to it.
  TurnTracker late = entered();
  late.output_seen(entered_at + 10ms);
  TurnSignals echo = kernel(Activity::kWaiting, "$ i=0; while true; do :; done");
  echo.echo_pending = echo_pending(echo.cursor_line, "i=0; while true; do :; done");
  EXPECT_TRUE(echo.echo_pending);
  EXPECT_EQ(state(late, entered_at + 100ms, echo), TurnState::kRunning);
  EXPECT_EQ(state(late, entered_at + 100ms, kernel(Activity::kRunning)), TurnState::kRunning);
  late.output_seen(entered_at + 500ms);
  EXPECT_EQ(state(late, entered_at + 600ms, kernel(Activity::kWaiting, "$", true)), TurnState::kEnded);
  // A wrapped echo's last row; not a prompt that ends as the text did.
  EXPECT_TRUE(echo_pending("0123456789", "echo 0123456789"));
  EXPECT_FALSE(echo_pending("$", "echo $"));
  EXPECT_FALSE(echo_pending("hi", "echo hi"));
}

TEST(TurnTracker, TickingPeersByWhatTheyShow) {
  // A REPL that evaluates with a timer set shows a blank line: it goes on.
  TurnTracker node = entered();
  EXPECT_EQ(state(node, entered_at + 10s, kernel(Activity::kTicking, "")), TurnState::kRunning);
  EXPECT_EQ(state(node, entered_at + 10s, kernel(Activity::kTicking, ">", true)), TurnState::kEnded);
  // A monitor on the alternate screen keeps redrawing: the settle time after
  // the Enter ends it anyway.
  TurnTracker monitor = entered();
  monitor.output_seen(entered_at + 1900ms);
  TurnVerdict v = monitor.judge(entered_at + 2000ms, kernel(Activity::kTicking, "Load average", false, true));
  EXPECT_EQ(v.state, TurnState::kEnded);
  EXPECT_EQ(v.reason, "redraw");
  // Where the kernel sees the child tick at its prompt (node, an agent a
  // shell started), the settle time ends the turn.
  TurnTracker ticking = entered();
  TurnSignals child = kernel(Activity::kTicking, "> ");
  child.held = true;
  EXPECT_EQ(state(ticking, entered_at + 1s, child), TurnState::kRunning);
  EXPECT_EQ(state(ticking, entered_at + 2s, child), TurnState::kEnded);
  // The upper bound counts from the ask, also when the prompt went out later.
  TurnTracker late(rule(2000ms, 10000ms), t0 + 4s, t0);
  late.enter_written(t0 + 4s);
  EXPECT_EQ(state(late, t0 + 10s, kernel(Activity::kRunning)), TurnState::kTimedOut);
}

namespace {

/// An agent's screen, ticking between its frames: at work (a sign of work
/// shows), idle (its idle look is back), or another look.
TurnSignals agent(bool working, bool idle_look, bool choice = false, bool alternate = false) {
  TurnSignals s = kernel(Activity::kTicking, "│ >   │", true, alternate);
  s.working = working;
  s.framed = true;
  s.idle_look = idle_look;
  s.choice = choice;
  return s;
}

}  // namespace

TEST(TurnTracker, AnAgentAtWorkAndBackAtItsInputBox) {
  // Its input line is the idle prompt the whole time; the kernel sees a
  // timed wait the whole time. A sign of work holds the turn, also when it
  // stands still in a pause of the streamed answer.
  TurnTracker t = entered();
  EXPECT_EQ(state(t, entered_at + 10ms, agent(false, true)), TurnState::kRunning);  // not left yet
  EXPECT_EQ(state(t, entered_at + 1s, agent(true, true)), TurnState::kRunning);
  t.output_seen(entered_at + 2s);
  EXPECT_EQ(state(t, entered_at + 2s + 700ms, agent(true, false)), TurnState::kRunning);
  // Idle again: once it has been still for a moment.
  t.output_seen(entered_at + 3s);
  EXPECT_EQ(state(t, entered_at + 3s + 100ms, agent(false, true)), TurnState::kRunning);
  EXPECT_LE(t.next_deadline(), entered_at + 3s + 300ms);
  TurnVerdict v = t.judge(entered_at + 3s + 300ms, agent(false, true));
  EXPECT_EQ(v.state, TurnState::kEnded);
  EXPECT_EQ(v.reason, "prompt");

  // A permission: another look with a question or a menu, still.
  TurnTracker asks = entered();
  asks.output_seen(entered_at + 1s);
  EXPECT_EQ(state(asks, entered_at + 1s, agent(true, false)), TurnState::kRunning);
  EXPECT_EQ(state(asks, entered_at + 1s + 300ms, agent(false, false, true)), TurnState::kAwaitingInput);
  // Neither idle nor asking: the settle time.
  TurnTracker other = entered();
  EXPECT_EQ(state(other, entered_at + 1s, agent(false, false)), TurnState::kRunning);
  EXPECT_EQ(state(other, entered_at + 2s, agent(false, false)), TurnState::kEnded);

  // On the alternate screen the redraw rule does not cut an agent short
  // once it has shown a sign of work; a monitor it still ends.
  TurnTracker full = entered();
  EXPECT_EQ(state(full, entered_at + 1s, agent(true, false, false, true)), TurnState::kRunning);
  full.output_seen(entered_at + 2s);
  EXPECT_EQ(state(full, entered_at + 2s + 500ms, agent(false, false, false, true)), TurnState::kRunning);
  TurnTracker monitor = entered();
  monitor.output_seen(entered_at + 1900ms);
  EXPECT_EQ(state(monitor, entered_at + 2s, agent(false, false, false, true)), TurnState::kEnded);
}

TEST(IdlePrompt, LearnedPromptsAndTheirVariants) {
  EXPECT_TRUE(similar_prompt("root@h:/work#", "root@h:/#"));    // another directory
  EXPECT_TRUE(similar_prompt("root@h /w>", "root@h /w [1]>"));  // fish after a failure
  EXPECT_FALSE(similar_prompt(">>>", "..."));                   // continuation prompts
  EXPECT_FALSE(similar_prompt("sqlite>", "...>"));
  EXPECT_FALSE(similar_prompt("root@h:/work#", "root@h:/work# ls"));
  EXPECT_FALSE(similar_prompt("demo>", "do you agree?"));
  EXPECT_TRUE(similar_prompt("", ""));

  Home home;
  home.group = 101;
  home.mode = TtyMode{false, false, true};
  home.learn_prompt(">>>");
  ScreenText now = ScreenText{0, {">>> print(1)", "1", ">>> "}, 3, 2, false, {}};
  PtyState pty{101, 100, TtyMode{false, false, true}, Activity::kWaiting};
  EXPECT_TRUE(at_home_prompt(home, now, pty));
  EXPECT_FALSE(at_home_prompt(home, now, {102, 100, TtyMode{false, false, true}, Activity::kWaiting}));
  EXPECT_FALSE(at_home_prompt(home, now, {101, 100, TtyMode{true, true, true}, Activity::kWaiting}));

  // Ready for a prompt: waiting after a short quiet; never while it works.
  TurnRule r = rule();
  EXPECT_TRUE(ready_for_prompt(home, now, pty, 60ms, r));
  EXPECT_FALSE(ready_for_prompt(home, now, pty, 10ms, r));
  EXPECT_FALSE(ready_for_prompt(home, now, {101, 100, std::nullopt, Activity::kRunning}, 60s, r));
  EXPECT_FALSE(ready_for_prompt(Home{}, now, {101, 100, std::nullopt, Activity::kUnknown}, 1s, r));
  EXPECT_TRUE(ready_for_prompt(Home{}, now, {101, 100, std::nullopt, Activity::kUnknown}, 2s, r));
  // A program still starting may tick before its prompt is up.
  ScreenText starting = ScreenText{0, {"Welcome", ""}, 2, 1, false, {}};
  EXPECT_FALSE(ready_for_prompt(Home{}, starting, {101, 100, std::nullopt, Activity::kTicking}, 1s, r));
  EXPECT_TRUE(ready_for_prompt(Home{}, now, {101, 100, std::nullopt, Activity::kTicking}, 60ms, r));
  // An agent still at work on an earlier ask shows a sign of it; a sign
  // that stood still for the settle time, or a program that waits with no
  // timer, does not hold the prompt back.
  EXPECT_FALSE(ready_for_prompt(home, now, {101, 100, std::nullopt, Activity::kTicking}, 500ms, r, true));
  EXPECT_TRUE(ready_for_prompt(home, now, {101, 100, std::nullopt, Activity::kTicking}, 2s, r, true));
  EXPECT_TRUE(ready_for_prompt(home, now, pty, 60ms, r, true));
}

TEST(InputRequest, QuestionsAndPrompts) {
  for (const char* line : {
           "Proceed? [y/n] ",
           "Continue?",
           "Password:",
           "Name: ",
           "Overwrite file (y/N)",
           "Delete everything (yes/no)",
           "Apply [Y/n/q]",
           "Weiter [j/N]",
           "Wirklich (ja/nein)",
           "\xE2\x94\x82 Proceed? \xE2\x94\x82",    // │ Proceed? │
           "Proceed?\xE2\x96\x88",                  // a drawn block cursor
           "Proceed?\xC2\xA0",                      // no-break space
           "\xE5\x90\x8D\xE5\x89\x8D\xEF\xBC\x9A",  // full-width colon
           "\xE6\x9C\xAC\xE5\xBD\x93\xEF\xBC\x9F",  // full-width question mark
           "Press ENTER to continue",
           "press any key...",
           "  \tAre you sure?   ",
       }) {
    EXPECT_TRUE(looks_like_input_request(line)) << line;
  }
}

TEST(InputRequest, IdlePromptsAndOrdinaryText) {
  for (const char* line : {
           "",
           "   ",
           "demo> ",
           "$ ",
           "user@host:~/src$",
           "# ",
           "% ",
           ">>> ",
           "\xE2\x94\x82 > \xE2\x94\x82",  // │ > │
           "Answer: hello",
           "Done.",
           "Progress [1/3]",
           "Pick (a/b)",
           "Choose [y/n/somethinglong]",
           "Only one (y)",
           "Broken [y/n",
           "(y/n) was the question",
           "Empty alternative [y//n]",
           "\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80",  // ─── only
       }) {
    EXPECT_FALSE(looks_like_input_request(line)) << line;
  }
}

TEST(InputRequest, MalformedUtf8IsHandled) {
  EXPECT_FALSE(looks_like_input_request("\xFF"));
  EXPECT_FALSE(looks_like_input_request("?\xE2"));
  EXPECT_FALSE(looks_like_input_request("\x80\x80\x80\x80\x80"));
  EXPECT_TRUE(looks_like_input_request("\xFF ok?"));
  EXPECT_TRUE(looks_like_input_request("\xE2\x94 ok:"));
}

namespace {

/// A screen of `rows` whose visible part is the last `screen` rows and whose
/// first row has absolute number `first`; the cursor is on the last row.
ScreenText screen_of(std::vector<std::string> rows, std::size_t screen = 24, std::uint64_t first = 0) {
  ScreenText s;
  s.first_row = first;
  s.rows = std::move(rows);
  s.screen_rows = screen;
  s.cursor_row = first + s.rows.size() - 1;
  return s;
}

TurnMark mark_of(const ScreenText& before) { return mark_turn(before, {}); }

}  // namespace

TEST(CursorLine, TheCursorsRowOrNothing) {
  ScreenText s = screen_of({"one", "two", "three"}, 24, 10);
  EXPECT_EQ(cursor_line(s), "three");
  s.cursor_row = 10;
  EXPECT_EQ(cursor_line(s), "one");
  s.cursor_row = 9;
  EXPECT_EQ(cursor_line(s), "");
  s.cursor_row = 13;
  EXPECT_EQ(cursor_line(s), "");
}

TEST(TurnOutput, AppendedLinesWithoutEchoAndIdlePrompt) {
  TurnMark mark = mark_of(screen_of({"Welcome.", "demo> "}));
  EXPECT_EQ(mark.row, 1u);
  EXPECT_EQ(mark.text, "demo>");

  EXPECT_EQ(turn_output(mark, screen_of({"Welcome.", "demo> hello", "Answer: hello  ", "demo> "}), "hello"),
            "Answer: hello");
  // A longer answer keeps its inner blank rows; trailing blank rows go.
  ScreenText longer = screen_of({"Welcome.", "demo> hello", "", "a", "", "b", "demo> ", "", ""});
  longer.cursor_row = 6;
  EXPECT_EQ(turn_output(mark, longer, "hello"), "a\n\nb");
  // Nothing printed: the echo and the returned prompt leave nothing.
  EXPECT_EQ(turn_output(mark, screen_of({"Welcome.", "demo> hello", "demo> "}), "hello"), "");
  EXPECT_EQ(turn_output(mark, screen_of({"Welcome.", "demo> hello", ""}), "hello"), "");
}

TEST(TurnOutput, AQuestionStays) {
  TurnMark mark = mark_of(screen_of({"demo> "}));
  EXPECT_EQ(turn_output(mark, screen_of({"demo> please confirm", "Proceed? [y/n] "}), "please confirm"),
            "Proceed? [y/n]");

  // The answer to the question is the next turn; its echo follows the question.
  TurnMark asked = mark_of(screen_of({"demo> please confirm", "Proceed? [y/n] "}));
  EXPECT_EQ(asked.text, "Proceed? [y/n]");
  // Only the mark's own text counts as the idle prompt, so the one that
  // follows the question's answer stays.
  EXPECT_EQ(turn_output(asked, screen_of({"demo> please confirm", "Proceed? [y/n] y", "Got: y", "demo> "}), "y"),
            "Got: y\ndemo>");
}

TEST(TurnOutput, EchoWrappedOverSeveralRows) {
  TurnMark mark = mark_of(screen_of({"demo> "}));
  std::string prompt = std::string(74, 'a') + " lorem ipsum dolor";
  // The row breaks where the terminal's width runs out, spaces and all.
  ScreenText now = screen_of({"demo> " + std::string(74, 'a'), " lorem ipsum", "dolor", "Answer: done", "demo> "});
  EXPECT_EQ(turn_output(mark, now, prompt), "Answer: done");

  // A prompt with line breaks, echoed on two rows.
  EXPECT_EQ(
      turn_output(mark, screen_of({"demo> first line", "second line", "ok", "demo> "}), "first line\nsecond line"),
      "ok");
}

TEST(TurnOutput, OutputThatIsNotAnEchoStays) {
  TurnMark mark = mark_of(screen_of({"demo> "}));
  // A program that does not echo: its answer repeats the prompt, and stays.
  EXPECT_EQ(turn_output(mark, screen_of({"demo>", "Answer: hello", "demo> "}), "hello"), "Answer: hello");
  // A program that answers on the prompt's row.
  EXPECT_EQ(turn_output(mark, screen_of({"demo> Answer: hello", "demo> "}), "hello"), "Answer: hello");
  // A partial echo is not an echo.
  EXPECT_EQ(turn_output(mark, screen_of({"demo> hel", "x", "demo> "}), "hello"), "hel\nx");
}

TEST(TurnOutput, EmptyPromptDropsTheMarkRow) {
  TurnMark mark = mark_of(screen_of({"demo> "}));
  EXPECT_EQ(turn_output(mark, screen_of({"demo> ", "Answer: ", "demo> "}), ""), "Answer:");
}

TEST(TurnOutput, EmptyMarkRow) {
  TurnMark mark = mark_of(screen_of({"old", ""}));
  EXPECT_EQ(mark.text, "");
  EXPECT_EQ(turn_output(mark, screen_of({"old", "hello", "reply", ""}), "hello"), "reply");
  // No echo on the mark row: nothing is left out.
  EXPECT_EQ(turn_output(mark, screen_of({"old", "", "hello there", ""}), "hello"), "hello there");
}

TEST(TurnOutput, AbsoluteRowsSurviveScrolling) {
  // The mark row 100 is still kept, though rows before it have scrolled off.
  ScreenText before = screen_of({"x", "demo> "}, 24, 99);
  TurnMark mark = mark_of(before);
  EXPECT_EQ(mark.row, 100u);
  ScreenText now = screen_of({"demo> hi", "line 1", "line 2", "demo> "}, 2, 100);
  EXPECT_EQ(turn_output(mark, now, "hi"), "line 1\nline 2");
}

TEST(TurnOutput, MarkRowScrolledOutOfTheKeptScrollback) {
  TurnMark mark{.row = 100, .text = "demo>"};
  ScreenText now = screen_of({"line 7", "line 8", "", "line 9", "demo> "}, 3, 150);
  // Rows 101 to 149 are gone (row 100 held the echo): the answer says so.
  EXPECT_EQ(turn_output(mark, now, "line"), "[... 49 earlier lines not kept]\nline 7\nline 8\n\nline 9");
}

TEST(TurnOutput, ARedrawnScreenGivesWhatChanged) {
  // An inline UI redraws its input line: the rows that were there at the mark
  // are left out, and so is its transcript's quote of the prompt.
  TurnMark mark = mark_of(screen_of({"history", "\xE2\x94\x82 > \xE2\x94\x82"}));
  ScreenText now = screen_of({"history", "> hello", "", "Done, all good.", "\xE2\x94\x82 > \xE2\x94\x82", ""}, 4);
  EXPECT_EQ(turn_output(mark, now, "hello"), "Done, all good.");

  // Rows that scrolled into the scrollback since the mark count too.
  TurnMark top = mark_of(screen_of({"Ready", "> "}, 2, 10));
  ScreenText long_answer = screen_of({"> hi", "1", "2", "3", "Ready", "> "}, 2, 10);
  EXPECT_EQ(turn_output(top, long_answer, "hi"), "1\n2\n3");

  // A cleared screen: the mark row is beyond the rows that are left.
  TurnMark deep{.row = 40, .text = "demo>"};
  EXPECT_EQ(turn_output(deep, screen_of({"", "fresh", "demo> "}, 3, 0), "x"), "fresh");
}

TEST(TurnOutput, TheAlternateScreenGivesWhatChanged) {
  // A full-screen program keeps its input line and footer where they were,
  // and its earlier answers stay on screen: none of it is the answer.
  ScreenText before = screen_of({"> first", "Answer: first", "", "> ", "? for shortcuts"});
  before.alternate = true;
  before.cursor_row = 3;
  TurnMark mark = mark_of(before);
  ScreenText now = screen_of({"> first", "Answer: first", "> hello", "Answer: first", "> ", "? for shortcuts"});
  now.alternate = true;
  now.cursor_row = 4;
  EXPECT_EQ(turn_output(mark, now, "hello", {.at_prompt = true}), "Answer: first");

  // Back on the normal screen (a pager or an editor quit): the rows from
  // where the normal screen went on, not what it showed before.
  EXPECT_EQ(turn_output(mark, screen_of({"$ seq 100 | less", "$", "$ "}), "q", {.at_prompt = true, .normal_from = 1}),
            "");
  EXPECT_EQ(
      turn_output(mark, screen_of({"$ vim x", "E37: No write", "$ "}), ":q", {.at_prompt = true, .normal_from = 1}),
      "E37: No write");
}

TEST(TurnOutput, WrappedRowsAreJoined) {
  TurnMark mark = mark_of(screen_of({"$ "}));
  ScreenText now = screen_of({"$ cat f", std::string(10, 'a'), std::string(10, 'b'), "c", "$ "});
  now.continued = {false, false, true, false, false};
  EXPECT_EQ(turn_output(mark, now, "cat f"), std::string(10, 'a') + std::string(10, 'b') + "\nc");
}

TEST(TurnOutput, AChangedPromptIsLeftOutWhenTheTurnEndedThere) {
  TurnMark mark = mark_of(screen_of({"root@h:/work# "}));
  ScreenText now = screen_of({"root@h:/work# cd /", "root@h:/# "});
  EXPECT_EQ(turn_output(mark, now, "cd /"), "root@h:/#");
  EXPECT_EQ(turn_output(mark, now, "cd /", {.at_prompt = true}), "");
}

TEST(TurnOutput, OutputWithoutAFinalLineFeed) {
  Home home;
  home.learn_prompt("/tmp#");
  EXPECT_EQ(prompt_start(home, "/tmp#"), 0u);
  EXPECT_EQ(prompt_start(home, "/#"), 0u);          // another directory
  EXPECT_EQ(prompt_start(home, "hello/tmp#"), 5u);  // `printf hello` in bash
  EXPECT_EQ(prompt_start(home, "hello"), std::string_view::npos);
  Home bc;
  bc.learn_prompt("");  // bc and ed prompt with nothing
  EXPECT_EQ(prompt_start(bc, "x"), 1u);
  EXPECT_EQ(prompt_start(bc, "Password:"), std::string_view::npos);

  // bash, dash, python: the prompt follows on the output's row.
  TurnMark mark = mark_of(screen_of({"/tmp# "}));
  EXPECT_EQ(turn_output(mark, screen_of({"/tmp# printf hello", "hello/tmp# "}), "printf hello",
                        {.at_prompt = true, .prompt_from = 5}),
            "hello");
  // zsh and fish: a sign in reverse video or faint ends the row, the prompt
  // goes on the next; the same character in plain text is output.
  ScreenText zsh = screen_of({"/tmp# echo -n 100%", "100%%", "/tmp# "});
  zsh.emphasized_end = {false, true, false};
  EXPECT_EQ(turn_output(mark, zsh, "echo -n 100%", {.at_prompt = true}), "100%");
  zsh.emphasized_end = {false, false, false};
  EXPECT_EQ(turn_output(mark, zsh, "echo -n 100%", {.at_prompt = true}), "100%%");
  ScreenText fish = screen_of({"/tmp# echo -n abc", "abc\u23CE", "/tmp# "});
  fish.emphasized_end = {false, true, false};
  EXPECT_EQ(turn_output(mark, fish, "echo -n abc", {.at_prompt = true}), "abc");
}

TEST(TurnOutput, CursorElsewhereKeepsTheLastRow) {
  TurnMark mark = mark_of(screen_of({"demo> "}));
  ScreenText now = screen_of({"demo> hi", "answer", "demo> "});
  now.cursor_row = 1;  // the last row repeats the prompt, but the cursor is not there
  EXPECT_EQ(turn_output(mark, now, "hi"), "answer\ndemo>");
}

namespace {

constexpr TtyMode kLineEditor{false, false, true};  // readline: raw, Ctrl-C to the terminal
constexpr TtyMode kCanonical{true, true, true};
constexpr TtyMode kFullScreen{false, false, false};

/// A shell at its prompt: bash started by `sh -c`, so its group (101) is
/// not that of the terminal's process (100).
const PtyState kShellIdle{101, 100, kLineEditor};
const TurnMark kShellMark = mark_turn(screen_of({"old", "$ "}), kShellIdle);

}  // namespace

TEST(TurnSignals, AShellsPromptIsBack) {
  ScreenText now = screen_of({"old", "$ echo hi", "hi", "$ "});
  EXPECT_TRUE(prompt_is_back(kShellMark, now, kShellIdle));
  // Also when it is the terminal's own process at its prompt.
  EXPECT_TRUE(prompt_is_back(kShellMark, now, {100, 100, kLineEditor}));
  // A line-reading program in canonical mode, likewise.
  TurnMark canonical = mark_turn(screen_of({"demo> "}), {100, 100, kCanonical});
  EXPECT_TRUE(prompt_is_back(canonical, screen_of({"demo> hi", "Answer: hi", "demo> "}), {100, 100, kCanonical}));

  TurnSignals signals = read_signals(kShellMark, now, kShellIdle);
  EXPECT_EQ(signals.cursor_line, "$ ");
  EXPECT_TRUE(signals.prompt_back);
  EXPECT_FALSE(signals.held);
}

TEST(TurnSignals, WhatIsNoPromptBack) {
  ScreenText back = screen_of({"old", "$ echo hi", "hi", "$ "});
  auto not_back = [](const TurnMark& mark, const ScreenText& now, const PtyState& pty) {
    return !prompt_is_back(mark, now, pty);
  };
  // The cursor still on the mark's row (an empty prompt not yet taken), or
  // on another text.
  EXPECT_PRED3(not_back, kShellMark, screen_of({"old", "$ "}), kShellIdle);
  EXPECT_PRED3(not_back, kShellMark, screen_of({"old", "$ echo hi", "hi"}), kShellIdle);
  // A line below the cursor: a status line or footer of a terminal UI.
  ScreenText footer = screen_of({"old", "$ hi", "$ ", "? for shortcuts"});
  footer.cursor_row = 2;
  EXPECT_PRED3(not_back, kShellMark, footer, kShellIdle);
  // The alternate screen, now or at the mark.
  ScreenText alternate = back;
  alternate.alternate = true;
  EXPECT_PRED3(not_back, kShellMark, alternate, kShellIdle);
  TurnMark alternate_mark = kShellMark;
  alternate_mark.alternate = true;
  EXPECT_PRED3(not_back, alternate_mark, back, kShellIdle);
  // Another mode than at the mark, and a full-screen program's raw mode
  // (signals off) even when it is the same.
  EXPECT_PRED3(not_back, kShellMark, back, (PtyState{101, 100, kCanonical}));
  EXPECT_PRED3(not_back, kShellMark, back, (PtyState{101, 100, std::nullopt}));
  TurnMark full_screen = mark_turn(screen_of({"old", "$ "}), {100, 100, kFullScreen});
  EXPECT_PRED3(not_back, full_screen, back, (PtyState{100, 100, kFullScreen}));
  // A child in the foreground, or none known.
  EXPECT_PRED3(not_back, kShellMark, back, (PtyState{102, 100, kLineEditor}));
  EXPECT_PRED3(not_back, kShellMark, back, (PtyState{std::nullopt, 100, kLineEditor}));
  // An empty mark, and a question asked again.
  EXPECT_PRED3(not_back, mark_turn(screen_of({"old", ""}), kShellIdle), screen_of({"old", "x", ""}), kShellIdle);
  TurnMark question = mark_turn(screen_of({"Proceed? [y/n] "}), {100, 100, kCanonical});
  EXPECT_PRED3(not_back, question, screen_of({"Proceed? [y/n] y", "Proceed? [y/n] "}),
               (PtyState{100, 100, kCanonical}));
}

TEST(TurnSignals, ChildrenInTheForegroundAndCommandsOfALineEditorHold) {
  ScreenText running = screen_of({"old", "$ sleep 3", ""});
  EXPECT_TRUE(read_signals(kShellMark, running, {102, 100, kCanonical}).held);  // bash runs sleep
  EXPECT_TRUE(read_signals(kShellMark, running, {101, 100, kCanonical}).held);  // python runs a statement
  EXPECT_FALSE(read_signals(kShellMark, running, kShellIdle).held);
  EXPECT_FALSE(read_signals(kShellMark, running, {std::nullopt, 100, std::nullopt}).held);
  // A line-reading program that switches to raw mode holds nothing.
  TurnMark canonical = mark_turn(screen_of({"demo> "}), {100, 100, kCanonical});
  EXPECT_FALSE(read_signals(canonical, running, {100, 100, kFullScreen}).held);
}

namespace {

int status_of_child(void (*body)()) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(99);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

}  // namespace

TEST(TurnAnswer, NotesForExitAndTimeout) {
  int exited3 = status_of_child([] { ::_exit(3); });
  int killed = status_of_child([] {
    ::signal(SIGTERM, SIG_DFL);
    ::raise(SIGTERM);
  });

  TurnAnswer a = answer_turn(TurnState::kExited, "Crashing.", rule(), exited3);
  EXPECT_EQ(a.output, "Crashing.\n[exited with status 3]");
  EXPECT_FALSE(a.awaiting_input);
  EXPECT_EQ(answer_turn(TurnState::kExited, "", rule(), exited3).output, "[exited with status 3]");
  EXPECT_EQ(answer_turn(TurnState::kExited, "x", rule(), killed).output,
            "x\n[terminated by signal " + std::to_string(SIGTERM) + "]");

  EXPECT_EQ(answer_turn(TurnState::kTimedOut, "busy", rule(2s, 600s), 0).output, "busy\n[no end of turn after 600 s]");
  EXPECT_EQ(answer_turn(TurnState::kTimedOut, "", rule(2s, 1500ms), 0).output, "[no end of turn after 1500 ms]");
}

TEST(TurnAnswer, EndedAndAwaitingInput) {
  TurnAnswer ended = answer_turn(TurnState::kEnded, "Answer: hi", rule(), 0);
  EXPECT_EQ(ended.output, "Answer: hi");
  EXPECT_FALSE(ended.awaiting_input);
  TurnAnswer asking = answer_turn(TurnState::kAwaitingInput, "Proceed? [y/n]", rule(), 0);
  EXPECT_EQ(asking.output, "Proceed? [y/n]");
  EXPECT_TRUE(asking.awaiting_input);
}

TEST(TurnSignals, AShellsPromptMarksEndItsTurnWhereTheKernelSaysNothing) {
  Screen screen(5, 40, nullptr);
  screen.set_mark_key("k1");
  screen.feed("\x1b]133;A;welkmora=k1\x07$ \x1b]133;B;welkmora=k1\x07");
  PtyState relay;  // ssh in the foreground: activity unknown
  TurnMark mark = mark_turn(screen.snapshot(0), relay);
  EXPECT_TRUE(ready_for_prompt(Home{}, screen.snapshot(0), relay, 50ms, rule()));
  // The echo, the command's start and its output, in reads cut anywhere.
  screen.feed("false\r\n\x1b]133;C;welkmora=k1\x07oops\r\n\x1b]13");
  TurnTracker t = entered();
  // At work and silent: held, however long the quiet.
  TurnSignals working = read_signals(mark, screen.snapshot(0), relay);
  EXPECT_FALSE(working.marked_prompt);
  EXPECT_EQ(state(t, entered_at + 30s, working), TurnState::kRunning);
  screen.feed("3;D;1;welkmora=k1\x1b\\\x1b]133;A;welkmora=k1\x07$ \x1b]133;B;welkmora=k1\x07");
  ScreenText now = screen.snapshot(0);
  EXPECT_EQ(now.marks.status, 1);
  EXPECT_EQ(now.marks.prompt_row, 2u);
  TurnSignals signals = read_signals(mark, now, relay);
  EXPECT_TRUE(signals.marked_prompt);
  t.output_seen(entered_at + 31s);
  EXPECT_EQ(state(t, entered_at + 31s + 40ms, signals), TurnState::kRunning);
  TurnVerdict v = t.judge(entered_at + 31s + 50ms, signals);
  EXPECT_EQ(v.state, TurnState::kEnded);
  EXPECT_EQ(turn_output(mark, now, "false", {.at_prompt = true}), "oops");
  // A question the command asks after its start mark is no prompt.
  screen.feed("read x\r\n\x1b]133;C;welkmora=k1\x07name? ");
  EXPECT_FALSE(read_signals(mark_turn(now, relay), screen.snapshot(0), relay).marked_prompt);
}

TEST(TurnSignals, MarksWithoutTheKeyOrAgainstTheKernelCountForNothing) {
  Screen screen(5, 60, nullptr);
  screen.set_mark_key("k1");
  // A file that holds marks, shown by cat: no key, a wrong one, the key's
  // name alone.
  screen.feed("\x1b]133;D;0\x07\x1b]133;A\x07$ \x1b]133;B\x07All 120 tests passed\r\n");
  screen.feed("\x1b]133;D;0;welkmora=k2\x07\x1b]133;B;welkmora=\x07\x1b]133;B;welkmora=k1x\x07");
  EXPECT_EQ(screen.snapshot(0).marks.prompts, 0u);
  EXPECT_EQ(screen.snapshot(0).marks.status, -1);
  Screen unkeyed(5, 60, nullptr);  // a terminal whose shell was not set up by the host
  unkeyed.feed("\x1b]133;A;welkmora=\x07$ \x1b]133;B;welkmora=\x07");
  EXPECT_EQ(unkeyed.snapshot(0).marks.prompts, 0u);

  // The key's own marks, while the kernel shows the foreground at work:
  // no end, however long the quiet.
  screen.feed("\x1b]133;A;welkmora=k1\x07$ \x1b]133;B;welkmora=k1\x07");
  EXPECT_EQ(screen.snapshot(0).marks.prompts, 1u);
  TurnSignals signals = kernel(Activity::kBusy);
  signals.marked_prompt = true;
  TurnTracker t = entered();
  EXPECT_EQ(state(t, entered_at + 30s, signals), TurnState::kRunning);
  signals.activity = Activity::kWaiting;
  EXPECT_EQ(state(t, entered_at + 30s, signals), TurnState::kEnded);
}
