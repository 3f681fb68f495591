// What an agent's screen says of its work: spinners and timers against
// clocks, meters and streamed text; its idle look around the input; a
// permission menu.

#include "screen/live_region.h"

#include <gtest/gtest.h>

using namespace host;

namespace {

/// A screen of `rows` (all visible) with the cursor at (`row`, `col`).
ScreenText screen_of(std::vector<std::string> rows, std::uint64_t row, int col) {
  ScreenText s;
  s.screen_rows = rows.size();
  s.rows = std::move(rows);
  s.cursor_row = row;
  s.cursor_col = col;
  return s;
}

}  // namespace

TEST(WorkSigns, SpinnersAndTimersAreWorkClocksAndTextAreNot) {
  EXPECT_EQ(row_shape("⠋ Thinking… (12.5s · 3 tokens)  "), "* Thinking… (0.0s * 0 tokens)");
  EXPECT_TRUE(spinner_frames("⠋ Thinking… (1.2s)", "⠙ Thinking… (1.3s)"));
  EXPECT_TRUE(spinner_frames("✻ Pondering… (9s · esc to interrupt)", "✽ Pondering… (10s · esc to interrupt)"));
  EXPECT_TRUE(spinner_frames("Working |", "Working /"));
  EXPECT_FALSE(spinner_frames("Uptime: 00:01:09", "Uptime: 00:01:10"));  // a clock: digits alone
  EXPECT_FALSE(spinner_frames("CPU[|||   12.0%]", "CPU[||||  15.0%]"));  // a meter
  EXPECT_FALSE(spinner_frames("⣿⣷⣶⣤⣀⣀⣤⣶", "⣷⣶⣤⣀⣀⣤⣶⣿"));                  // a graph, no word
  EXPECT_FALSE(spinner_frames("Answer: the", "Answer: the quick"));      // streamed text
  EXPECT_FALSE(spinner_frames("⠋ Thinking", "⠋ Thinking"));
  EXPECT_TRUE(offers_interrupt("  Working (3s • Esc to interrupt)"));
  EXPECT_FALSE(offers_interrupt("  ? for shortcuts"));

  // Learned from two looks a frame apart, known again when it stands
  // still and when its timer has moved on; other rows are no sign.
  WorkSigns signs;
  signs.observe({"> hello", "", "⠋ Thinking… 0.1s", "│ > │"});
  EXPECT_FALSE(signs.shown({"> hello", "", "⠋ Thinking… 0.1s", "│ > │"}));
  signs.observe({"> hello", "", "⠙ Thinking… 0.2s", "│ > │"});
  EXPECT_TRUE(signs.is_sign("⠼ Thinking… 1.7s"));
  EXPECT_FALSE(signs.is_sign("⠼ Responding… 1.7s"));
  EXPECT_FALSE(signs.shown({"> hello", "Answer: hi", "│ > │"}));
  EXPECT_TRUE(signs.shown({"Working (5s • esc to interrupt)"}));  // said, not learned
}

TEST(InputChrome, TheRowsAroundTheInput) {
  // An input box with the cursor in it and a footer below: the rows from
  // the cursor's down, digits aside.
  std::vector<std::string> idle = {"Welcome", "", "╭────╮", "│ >  │", "╰────╯", "  ? for shortcuts   turn 1"};
  InputChrome boxed = input_chrome(screen_of(idle, 3, 4));
  EXPECT_TRUE(boxed.framed());
  EXPECT_EQ(boxed.rows, (std::vector<std::string>{"* > *", "******", " ? for shortcuts turn 0"}));
  std::vector<std::string> later = {"> hi",   "",       "Answer", "",
                                    "╭────╮", "│ >  │", "╰────╯", "  ? for shortcuts  turn 12"};
  EXPECT_EQ(input_chrome(screen_of(later, 5, 4)), boxed);
  EXPECT_NE(input_chrome(screen_of(later, 5, 6)), boxed);  // the cursor after typed text
  std::vector<std::string> working = later;
  working.back() = "  ● working   turn 2";
  EXPECT_NE(input_chrome(screen_of(working, 5, 4)), boxed);

  // A hidden cursor parked below everything: the block above it. Shown
  // there, it is a line program's at its empty prompt (bc, ed).
  std::vector<std::string> parked = {"⏺ Answer", "", "╭──╮", "│ >│", "╰──╯", "  ? for shortcuts", ""};
  ScreenText ink = screen_of(parked, 6, 0);
  ink.cursor_visible = false;
  EXPECT_TRUE(input_chrome(ink).framed());
  EXPECT_EQ(input_chrome(ink).rows.size(), 4u);
  RowRange range = input_chrome_rows(ink);
  EXPECT_EQ(range.first, 2u);
  EXPECT_EQ(range.last, 6u);
  EXPECT_FALSE(input_chrome(screen_of({"6*7", "42", ""}, 2, 0)).framed());

  // A shell's prompt is the last row with text.
  EXPECT_FALSE(input_chrome(screen_of({"$ echo hi", "hi", "$ "}, 2, 2)).framed());
}

TEST(InputChrome, PermissionMenus) {
  EXPECT_TRUE(shows_menu(screen_of({"Do you want to proceed?", "❯ 1. Yes", "  2. No (esc)"}, 2, 0)));
  EXPECT_TRUE(shows_menu(screen_of({"│ Allow?   │", "│   1. Yes │", "│ › 2. No  │", "╰──────────╯"}, 3, 0)));
  EXPECT_FALSE(shows_menu(screen_of({"Steps:", "1. Build", "2. Test"}, 2, 0)));  // a list, nothing picked
  EXPECT_FALSE(shows_menu(screen_of({"❯ 1. Yes"}, 0, 0)));
  EXPECT_FALSE(shows_menu(screen_of({"> 2. No", "> 3. Maybe"}, 1, 0)));
}
