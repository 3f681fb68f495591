// The end-of-turn rule of `ask`, the cursor-line heuristic, the output of a
// turn and the answer built from it.

#include "terminals/turn.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace host;
using namespace std::chrono_literals;

namespace {

const Clock::time_point t0 = Clock::time_point{} + 1000s;

TurnRule rule(std::chrono::milliseconds settle = 2000ms, std::chrono::milliseconds max_wait = 60000ms,
              std::chrono::milliseconds enter_delay = 200ms) {
  return {settle, max_wait, enter_delay};
}

/// A tracker whose Enter went out on time.
TurnTracker entered(const TurnRule& r = rule()) {
  TurnTracker t(r, t0);
  t.enter_written(t.enter_due());
  return t;
}

const Clock::time_point entered_at = t0 + 200ms;

}  // namespace

TEST(TurnTracker, EnterComesAfterItsPause) {
  TurnTracker t(rule(), t0);
  EXPECT_TRUE(t.enter_pending());
  EXPECT_EQ(t.enter_due(), t0 + 200ms);
  EXPECT_EQ(t.next_deadline(), t0 + 200ms);
  // Silence before the Enter ends nothing, however long.
  EXPECT_EQ(t.judge(t0 + 10s, ""), TurnState::kRunning);
  t.enter_written(t0 + 250ms);
  EXPECT_FALSE(t.enter_pending());
  EXPECT_EQ(t.next_deadline(), t0 + 250ms + 2s);
}

TEST(TurnTracker, QuietForTheSettleTimeEndsTheTurn) {
  TurnTracker t = entered();
  EXPECT_EQ(t.judge(entered_at + 1999ms, "demo> "), TurnState::kRunning);
  EXPECT_EQ(t.judge(entered_at + 2000ms, "demo> "), TurnState::kEnded);

  // Each output starts the settle time again.
  t.output_seen(entered_at + 1500ms);
  EXPECT_EQ(t.judge(entered_at + 2000ms, "demo> "), TurnState::kRunning);
  EXPECT_EQ(t.next_deadline(), entered_at + 3500ms);
  EXPECT_EQ(t.judge(entered_at + 3499ms, "demo> "), TurnState::kRunning);
  EXPECT_EQ(t.judge(entered_at + 3500ms, "demo> "), TurnState::kEnded);

  // A late report of older output does not move the quiet time back.
  t.output_seen(entered_at + 100ms);
  EXPECT_EQ(t.next_deadline(), entered_at + 3500ms);
}

TEST(TurnTracker, EchoBeforeTheEnterDoesNotShortenTheSettleTime) {
  TurnTracker t(rule(), t0);
  t.output_seen(t0 + 10ms);  // the echo of the typed prompt
  t.enter_written(t0 + 200ms);
  EXPECT_EQ(t.judge(t0 + 2100ms, "demo> hi"), TurnState::kRunning);
  EXPECT_EQ(t.judge(t0 + 2200ms, "demo> hi"), TurnState::kEnded);
}

TEST(TurnTracker, QuietQuestionMeansAwaitingInput) {
  TurnTracker t = entered();
  t.output_seen(entered_at + 1s);
  EXPECT_EQ(t.judge(entered_at + 2s, "Proceed? [y/n] "), TurnState::kRunning);
  EXPECT_EQ(t.judge(entered_at + 3s, "Proceed? [y/n] "), TurnState::kAwaitingInput);
  EXPECT_EQ(t.judge(entered_at + 3s, "demo> "), TurnState::kEnded);
}

TEST(TurnTracker, ExitEndsTheTurnAtOnce) {
  TurnTracker before_enter(rule(), t0);
  before_enter.peer_exited();
  EXPECT_EQ(before_enter.judge(t0, ""), TurnState::kExited);
  EXPECT_LE(before_enter.next_deadline(), t0);

  TurnTracker t = entered();
  t.output_seen(entered_at + 1s);
  t.peer_exited();
  EXPECT_EQ(t.judge(entered_at + 1s, "Proceed?"), TurnState::kExited);
  EXPECT_EQ(t.judge(t0 + 1h, "demo> "), TurnState::kExited);
}

TEST(TurnTracker, UpperBoundWhenTheOutputNeverStops) {
  TurnTracker t = entered(rule(2000ms, 10000ms));
  for (auto at = entered_at; at < t0 + 10s; at += 1s) t.output_seen(at);
  EXPECT_EQ(t.next_deadline(), t0 + 10s);
  EXPECT_EQ(t.judge(t0 + 9999ms, ""), TurnState::kRunning);
  EXPECT_EQ(t.judge(t0 + 10s, ""), TurnState::kTimedOut);
  // A turn that has gone quiet by then has ended instead.
  EXPECT_EQ(t.judge(t0 + 12s, ""), TurnState::kEnded);

  // The bound counts from the typed prompt, even while the Enter is pending.
  TurnTracker stuck(rule(2000ms, 10000ms), t0);
  EXPECT_EQ(stuck.judge(t0 + 10s, ""), TurnState::kTimedOut);
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
  TurnMark mark = mark_turn(screen_of({"Welcome.", "demo> "}));
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
  TurnMark mark = mark_turn(screen_of({"demo> "}));
  EXPECT_EQ(turn_output(mark, screen_of({"demo> please confirm", "Proceed? [y/n] "}), "please confirm"),
            "Proceed? [y/n]");

  // The answer to the question is the next turn; its echo follows the question.
  TurnMark asked = mark_turn(screen_of({"demo> please confirm", "Proceed? [y/n] "}));
  EXPECT_EQ(asked.text, "Proceed? [y/n]");
  // Only the mark's own text counts as the idle prompt, so the one that
  // follows the question's answer stays.
  EXPECT_EQ(turn_output(asked, screen_of({"demo> please confirm", "Proceed? [y/n] y", "Got: y", "demo> "}), "y"),
            "Got: y\ndemo>");
}

TEST(TurnOutput, EchoWrappedOverSeveralRows) {
  TurnMark mark = mark_turn(screen_of({"demo> "}));
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
  TurnMark mark = mark_turn(screen_of({"demo> "}));
  // A program that does not echo: its answer repeats the prompt, and stays.
  EXPECT_EQ(turn_output(mark, screen_of({"demo>", "Answer: hello", "demo> "}), "hello"), "Answer: hello");
  // A program that answers on the prompt's row.
  EXPECT_EQ(turn_output(mark, screen_of({"demo> Answer: hello", "demo> "}), "hello"), "Answer: hello");
  // A partial echo is not an echo.
  EXPECT_EQ(turn_output(mark, screen_of({"demo> hel", "x", "demo> "}), "hello"), "hel\nx");
}

TEST(TurnOutput, EmptyPromptDropsTheMarkRow) {
  TurnMark mark = mark_turn(screen_of({"demo> "}));
  EXPECT_EQ(turn_output(mark, screen_of({"demo> ", "Answer: ", "demo> "}), ""), "Answer:");
}

TEST(TurnOutput, EmptyMarkRow) {
  TurnMark mark = mark_turn(screen_of({"old", ""}));
  EXPECT_EQ(mark.text, "");
  EXPECT_EQ(turn_output(mark, screen_of({"old", "hello", "reply", ""}), "hello"), "reply");
  // No echo on the mark row: nothing is left out.
  EXPECT_EQ(turn_output(mark, screen_of({"old", "", "hello there", ""}), "hello"), "hello there");
}

TEST(TurnOutput, AbsoluteRowsSurviveScrolling) {
  // The mark row 100 is still kept, though rows before it have scrolled off.
  ScreenText before = screen_of({"x", "demo> "}, 24, 99);
  TurnMark mark = mark_turn(before);
  EXPECT_EQ(mark.row, 100u);
  ScreenText now = screen_of({"demo> hi", "line 1", "line 2", "demo> "}, 2, 100);
  EXPECT_EQ(turn_output(mark, now, "hi"), "line 1\nline 2");
}

TEST(TurnOutput, MarkRowScrolledOutOfTheKeptScrollback) {
  TurnMark mark{100, "demo>"};
  ScreenText now = screen_of({"line 7", "line 8", "", "line 9", "demo> "}, 3, 150);
  EXPECT_EQ(turn_output(mark, now, "line"), "line 7\nline 8\n\nline 9");
}

TEST(TurnOutput, RedrawnScreenGivesTheVisibleScreen) {
  TurnMark mark = mark_turn(screen_of({"history", "\xE2\x94\x82 > \xE2\x94\x82"}));
  ScreenText now = screen_of({"history", "> hello", "", "Done, all good.", "\xE2\x94\x82 > \xE2\x94\x82", ""}, 4);
  EXPECT_EQ(turn_output(mark, now, "hello"), "Done, all good.\n\xE2\x94\x82 > \xE2\x94\x82");

  // A cleared screen: the mark row is beyond the rows that are left.
  TurnMark deep{40, "demo>"};
  EXPECT_EQ(turn_output(deep, screen_of({"", "fresh", "demo> "}, 3, 0), "x"), "fresh");

  // Fewer rows than the screen claims: all of them.
  EXPECT_EQ(turn_output(deep, screen_of({"a", "b"}, 24, 0), "x"), "a\nb");
}

TEST(TurnOutput, CursorElsewhereKeepsTheLastRow) {
  TurnMark mark = mark_turn(screen_of({"demo> "}));
  ScreenText now = screen_of({"demo> hi", "answer", "demo> "});
  now.cursor_row = 1;  // the last row repeats the prompt, but the cursor is not there
  EXPECT_EQ(turn_output(mark, now, "hi"), "answer\ndemo>");
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
