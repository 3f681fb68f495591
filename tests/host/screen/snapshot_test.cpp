// The screen as the turn rule reads it: absolute rows, the cursor, the kept
// scrollback and the alternate screen.

#include <gtest/gtest.h>

#include "screen/screen.h"

using namespace host;

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
