// The parts `ask` is built from, without processes: how a prompt is typed,
// the duration options, and the screen with absolute rows that a turn's
// output is cut from.

#include <gtest/gtest.h>

#include "cli/duration.h"
#include "terminals/asks.h"
#include "terminals/screen.h"

using namespace host;
using namespace std::chrono_literals;

TEST(TypedPrompt, LineBreaksAndControlsBecomeSpaces) {
  EXPECT_EQ(typed_prompt(""), "");
  EXPECT_EQ(typed_prompt("plain text, ümlauts and 日本"), "plain text, ümlauts and 日本");
  EXPECT_EQ(typed_prompt("a\nb"), "a b");
  EXPECT_EQ(typed_prompt("a\r\nb"), "a b");  // one break, one space
  EXPECT_EQ(typed_prompt("a\rb\n\nc"), "a b  c");
  EXPECT_EQ(typed_prompt("x\r"), "x ");
  EXPECT_EQ(typed_prompt("\x03\x04\x1a\x1c\x1b[A\t\x7f"), "     [A  ");
  EXPECT_EQ(typed_prompt(std::string("nul\0byte", 8)), "nul byte");
  // The C1 controls too (U+009B is an escape sequence's start, as ESC [
  // is); what follows them is text.
  EXPECT_EQ(typed_prompt("\xc2\x9b"
                         "2J \xc2\x80\xc2\x9f\xc2\xa0\xc2\xbf"),
            " 2J   \xc2\xa0\xc2\xbf");
}

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

TEST(ScreenSnapshot, AbsoluteRowsAndTheCursor) {
  Screen screen(3, 10, nullptr);
  ScreenText empty = screen.snapshot(0);
  EXPECT_EQ(empty.first_row, 0u);
  EXPECT_EQ(empty.rows, (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(empty.screen_rows, 3u);
  EXPECT_EQ(empty.cursor_row, 0u);

  screen.feed("one  \r\ntwo\r\nthree\r\nfour\r\nfi");  // two rows scroll off
  ScreenText all = screen.snapshot(0);
  EXPECT_EQ(all.first_row, 0u);
  EXPECT_EQ(all.rows, (std::vector<std::string>{"one", "two", "three", "four", "fi"}));
  EXPECT_EQ(all.screen_rows, 3u);
  EXPECT_EQ(all.cursor_row, 4u);
  EXPECT_EQ(cursor_line(all), "fi");

  // Rows before `from_row` are left out, the visible screen never is.
  EXPECT_EQ(screen.snapshot(1).rows, (std::vector<std::string>{"two", "three", "four", "fi"}));
  EXPECT_EQ(screen.snapshot(1).first_row, 1u);
  ScreenText visible = screen.snapshot(UINT64_MAX);
  EXPECT_EQ(visible.first_row, 2u);
  EXPECT_EQ(visible.rows, (std::vector<std::string>{"three", "four", "fi"}));
}

TEST(ScreenSnapshot, OnlyKeptRowsAndResizes) {
  Screen screen(2, 8, nullptr);
  for (std::size_t i = 0; i < Screen::kScrollbackLimit + 10; ++i) screen.feed("row\r\n");
  ScreenText shot = screen.snapshot(0);
  EXPECT_EQ(shot.first_row, 9u);  // 5009 rows scrolled off, the oldest 9 are gone
  EXPECT_EQ(shot.rows.size(), Screen::kScrollbackLimit + 2);
  EXPECT_EQ(shot.cursor_row, Screen::kScrollbackLimit + 10);

  Screen small(2, 4, nullptr);
  small.resize(3, 6);
  small.feed("abcdef\r\nx");
  ScreenText resized = small.snapshot(0);
  EXPECT_EQ(resized.screen_rows, 3u);
  EXPECT_EQ(resized.rows, (std::vector<std::string>{"abcdef", "x", ""}));
  EXPECT_EQ(resized.cursor_row, 1u);
}

TEST(ScreenSnapshot, TheAlternateScreen) {
  Screen screen(2, 8, nullptr);
  EXPECT_FALSE(screen.snapshot(0).alternate);
  screen.feed("\033[?1049hone\r\ntwo\r\nthree");  // scrolls nothing into the scrollback
  ScreenText full = screen.snapshot(0);
  EXPECT_TRUE(full.alternate);
  EXPECT_EQ(full.rows, (std::vector<std::string>{"two", "three"}));
  EXPECT_EQ(screen.lines_scrolled(), 0u);
  screen.feed("\033[?1049l");
  EXPECT_FALSE(screen.snapshot(0).alternate);
}
