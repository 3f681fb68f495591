// The screen on its own: what the text shows, scrollback, the alternate
// screen, and answers to terminal queries.

#include "terminals/screen.h"

#include <gtest/gtest.h>

#include "utf8.h"

using namespace host;

namespace {

struct Fixture {
  std::string replies;
  Screen screen{5, 20, [this](std::string_view bytes) { replies.append(bytes); }};
};

}  // namespace

TEST(HostScreen, TextIsTrimmed) {
  Fixture f;
  EXPECT_EQ(f.screen.text(100), "");
  f.screen.feed("  a  \r\n\r\nb\r\n\r\n");
  EXPECT_EQ(f.screen.text(100), "  a\n\nb");
  f.screen.feed("\x1b[2J\x1b[H");
  EXPECT_EQ(f.screen.text(100), "");
}

TEST(HostScreen, WideAndCombiningCharacters) {
  Fixture f;
  f.screen.feed("日本語|e\xcc\x81|\xf0\x9f\x98\x80!");
  EXPECT_EQ(f.screen.text(0), "日本語|e\xcc\x81|\xf0\x9f\x98\x80!");
}

TEST(HostScreen, InvalidInputGivesValidText) {
  Fixture f;
  f.screen.feed(
      "a\xff\xfe"
      "b\xc3");
  std::string text = f.screen.text(0);
  EXPECT_TRUE(wire::is_valid_utf8(text));
  EXPECT_EQ(text.front(), 'a');
  EXPECT_NE(text.find('b'), std::string::npos);
}

TEST(HostScreen, ScrollbackKeepsWhatScrolledOff) {
  Fixture f;
  for (int i = 1; i <= 9; ++i) f.screen.feed(std::to_string(i) + "\r\n");
  // Five rows: 6..9 and the cursor's empty row; 1..5 scrolled off.
  EXPECT_EQ(f.screen.lines_scrolled(), 5u);
  EXPECT_EQ(f.screen.text(0), "6\n7\n8\n9");
  EXPECT_EQ(f.screen.text(2), "4\n5\n6\n7\n8\n9");
  EXPECT_EQ(f.screen.text(100), "1\n2\n3\n4\n5\n6\n7\n8\n9");
}

TEST(HostScreen, ScrollbackIsBounded) {
  Fixture f;
  std::string lines;
  for (std::size_t i = 0; i < Screen::kScrollbackLimit + 100; ++i) lines += "x" + std::to_string(i) + "\r\n";
  f.screen.feed(lines);
  std::string all = f.screen.text(Screen::kScrollbackLimit * 2);
  // x0..x5095 scrolled off (four rows and the cursor's stay on screen);
  // the oldest 96 of them are gone.
  EXPECT_EQ(f.screen.lines_scrolled(), Screen::kScrollbackLimit + 96);
  EXPECT_EQ(all.substr(0, all.find('\n')), "x96");
}

TEST(HostScreen, AlternateScreenLeavesScrollbackAlone) {
  Fixture f;
  f.screen.feed("main\r\n");
  f.screen.feed("\x1b[?1049h\x1b[H");
  for (int i = 0; i < 10; ++i) f.screen.feed("alt" + std::to_string(i) + "\r\n");
  EXPECT_EQ(f.screen.lines_scrolled(), 0u);
  EXPECT_EQ(f.screen.text(100), "alt6\nalt7\nalt8\nalt9");
  f.screen.feed("\x1b[?1049l");
  EXPECT_EQ(f.screen.text(100), "main");
}

TEST(HostScreen, QueriesAreAnswered) {
  Fixture f;
  f.screen.feed("ab\r\ncd");
  f.screen.feed("\x1b[6n");
  EXPECT_EQ(f.replies, "\x1b[2;3R");
  f.replies.clear();
  f.screen.feed("\x1b[c");
  EXPECT_EQ(f.replies.rfind("\x1b[?", 0), 0u) << f.replies;
  EXPECT_EQ(f.replies.back(), 'c');
}

TEST(HostScreen, StyledRowsAndTheirChanges) {
  Fixture f;
  f.screen.feed("ab\x1b[31;1mc\x1b[0m  \r\n\x1b[44m \x1b[0m");
  std::vector<Span> row = f.screen.styled_row(0);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_EQ(row[0].text, "ab");
  EXPECT_EQ(row[0].style, Style{});
  EXPECT_EQ(row[1].text, "c");  // the blanks after it are dropped
  EXPECT_TRUE(row[1].style.bold);
  EXPECT_EQ(row[1].style.fg.kind, Color::Kind::kIndexed);
  EXPECT_EQ(row[1].style.fg.index, 1);
  // A coloured blank shows.
  ASSERT_EQ(f.screen.styled_row(1).size(), 1u);
  EXPECT_EQ(f.screen.styled_row(1)[0].style.bg.index, 4);
  EXPECT_EQ(f.screen.styled_row(2).size(), 0u);
  EXPECT_EQ(f.screen.cursor().row, 1);
  EXPECT_EQ(f.screen.cursor().col, 1);

  // Only the rows written to change; a resize changes them all.
  std::uint64_t seen = f.screen.change();
  f.screen.feed("\x1b[3;1Hx");
  EXPECT_LE(f.screen.row_change(0), seen);
  EXPECT_GT(f.screen.row_change(2), seen);
  EXPECT_GT(f.screen.cursor_change(), seen);
  seen = f.screen.change();
  f.screen.resize(6, 30);
  EXPECT_GT(f.screen.size_change(), seen);
  EXPECT_GT(f.screen.row_change(5), seen);
}

TEST(HostScreen, PastesAsTheProgramAsked) {
  Fixture f;
  f.screen.paste("a\nb");
  EXPECT_EQ(f.replies, "a\rb");
  f.replies.clear();
  f.screen.feed("\x1b[?2004h");
  f.screen.paste("a\r\nb");
  EXPECT_EQ(f.replies, "\x1b[200~a\rb\x1b[201~");
}
