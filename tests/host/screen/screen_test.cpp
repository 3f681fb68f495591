// The screen on its own: what the text shows, scrollback, the alternate
// screen, and answers to terminal queries.

#include "screen/screen.h"

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
  EXPECT_TRUE(utf8::is_valid_utf8(text));
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

TEST(HostScreen, DimIsKeptWhereTheProgramSetsIt) {
  Fixture f;
  // Row `row` with each cell marked D (dim) or . (not).
  auto dim = [&](int row) {
    std::string marks;
    for (const Span& span : f.screen.styled_row(row)) marks.append(span.text.size(), span.style.dim ? 'D' : '.');
    return marks;
  };
  // Plain runs and characters one by one; the 2s of colours are no dim; an
  // SGR cut by a read counts where it ends.
  f.screen.feed("\x1b[2mdimdimdim\x1b[22mn\x1b[38;5;2;48;2;2;2;2mc\x1b[2");
  f.screen.feed("mx\x1b[my\r\n");
  EXPECT_EQ(dim(0), "DDDDDDDDD..D.");
  // A soft or full reset ends it.
  f.screen.feed("\x1b[2;31mr\x1b[!pw\r\n");
  EXPECT_EQ(dim(1), "D.");
  f.screen.feed(
      "\x1b[2m\x1b"
      "cz");
  EXPECT_EQ(dim(0), ".");
  // A cursor restore brings back the pen as it was saved, dim with it
  // (DECSC and DECRC, and modes 1048 and 1049).
  f.screen.feed(
      "\r\n\x1b[2m\x1b"
      "7\x1b[22m\x1b"
      "8a\r\n\x1b[22m\x1b"
      "7\x1b[2m\x1b"
      "8b\r\n");
  f.screen.feed("\x1b[2m\x1b[?1048h\x1b[22m\x1b[?1048lc");
  EXPECT_EQ(dim(1) + dim(2) + dim(3), "D.D");
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

namespace {

std::vector<std::string> visible(const Screen& screen) {
  ScreenText shot = screen.snapshot(screen.lines_scrolled());
  return shot.rows;
}

std::string styled(const Screen& screen) {
  std::string out;
  for (int row = 0; row < screen.rows(); ++row) {
    for (const Span& span : screen.styled_row(row)) {
      out += "[" + span.text + "/" + std::to_string(span.columns) + "/" + std::to_string(span.style.fg.index) +
             (span.style.bold ? "b" : "") + (span.style.reverse ? "r" : "") + "]";
    }
    out += "\n";
  }
  return out;
}

}  // namespace

TEST(HostScreen, ScrollingRegionsMoveOnlyTheirRows) {
  Fixture f;
  f.screen.feed("top\r\n1\r\n2\r\n3\r\nbottom");
  f.screen.feed("\x1b[2;4r\x1b[4;1H\r\nnew");  // a line feed at the region's bottom
  EXPECT_EQ(visible(f.screen), (std::vector<std::string>{"top", "2", "3", "new", "bottom"}));
  EXPECT_EQ(f.screen.lines_scrolled(), 0u);
  f.screen.feed("\x1b[2;1H\x1b[L");  // insert a line in the region
  EXPECT_EQ(visible(f.screen), (std::vector<std::string>{"top", "", "2", "3", "bottom"}));
  f.screen.feed("\x1b[r\x1b[1;1Habcdef\r\x1b[2@\x1b[3G\x1b[P");  // insert, then delete, characters
  EXPECT_EQ(visible(f.screen)[0], "  bcdef");
  // A region from the top row keeps what leaves it, as xterm does.
  f.screen.feed("\x1b[1;3r\x1b[3;1H\r\n");
  EXPECT_EQ(f.screen.lines_scrolled(), 1u);
  EXPECT_EQ(f.screen.text(1).substr(0, 8), "  bcdef\n");
  EXPECT_EQ(visible(f.screen), (std::vector<std::string>{"", "2", "", "3", "bottom"}));  // the rows below stay
}

TEST(HostScreen, AlternateScreenSwitchesKeepTheScrollback) {
  Fixture f;
  for (int i = 0; i < 8; ++i) f.screen.feed("m" + std::to_string(i) + "\r\n");
  ASSERT_EQ(f.screen.lines_scrolled(), 4u);
  f.screen.feed("\x1b[?1049h\x1b[H\x1b[31malt\x1b[0m");
  EXPECT_TRUE(f.screen.alternate());
  EXPECT_EQ(f.screen.styled_row(0).at(0).style.fg.index, 1);
  for (int i = 0; i < 10; ++i) f.screen.feed("\r\n");
  f.screen.feed("\x1b[?1049l");
  EXPECT_FALSE(f.screen.alternate());
  EXPECT_EQ(f.screen.lines_scrolled(), 4u);
  EXPECT_EQ(f.screen.first_kept_row(), 0u);
  EXPECT_EQ(f.screen.history_row(3).at(0).text, "m3");
  EXPECT_TRUE(f.screen.history_row(4).empty());
  EXPECT_EQ(visible(f.screen), (std::vector<std::string>{"m4", "m5", "m6", "m7", ""}));
}

TEST(HostScreen, WideCharactersAtTheRightMargin) {
  Fixture f;
  f.screen.feed(std::string(19, 'x') + "日本");
  // The wide character does not fit in the last column: it starts the next row.
  ScreenText shot = f.screen.snapshot(0);
  EXPECT_EQ(shot.rows[0], std::string(19, 'x'));
  EXPECT_EQ(shot.rows[1], "日本");
  EXPECT_TRUE(shot.continued[1]);
  EXPECT_EQ(f.screen.styled_row(1).at(0).columns, 4);
  // Overwriting half of a wide character blanks the other half.
  f.screen.feed("\x1b[2;2Ha\x1b[2;4H");
  EXPECT_EQ(f.screen.snapshot(0).rows[1], " a本");
  f.screen.feed("\x1b[2;3Hb");
  EXPECT_EQ(f.screen.snapshot(0).rows[1], " ab");
}

TEST(HostScreen, WrappedRowsAreMarked) {
  Fixture f;
  f.screen.feed(std::string(45, 'w') + "\r\nshort\r\n" + std::string(20, 'e') + "\r\nx");
  ScreenText shot = f.screen.snapshot(0);
  // The first row has scrolled off already; it keeps its mark.
  EXPECT_EQ(shot.continued, (std::vector<bool>{false, true, true, false, false, false}));
  f.screen.feed("\r\n\r\n\r\n" + std::string(30, 'z'));
  shot = f.screen.snapshot(0);
  ASSERT_EQ(shot.rows.size(), 10u);
  EXPECT_EQ(shot.continued, (std::vector<bool>{false, true, true, false, false, false, false, false, false, true}));
  EXPECT_EQ(shot.rows[8], std::string(20, 'z'));
}

TEST(HostScreen, LongScrollKeepsTheNewestInOrder) {
  Fixture f;
  std::string lines;
  for (int i = 0; i < 10000; ++i) lines += "line " + std::to_string(i) + "\r\n";
  f.screen.feed(lines);
  EXPECT_EQ(f.screen.lines_scrolled(), 9996u);
  ASSERT_EQ(f.screen.first_kept_row(), 9996u - Screen::kScrollbackLimit);
  ScreenText shot = f.screen.snapshot(0);
  ASSERT_EQ(shot.rows.size(), Screen::kScrollbackLimit + 5);
  for (std::size_t i = 0; i + 1 < shot.rows.size(); ++i) {
    ASSERT_EQ(shot.rows[i], "line " + std::to_string(4996 + i)) << i;
  }
  EXPECT_EQ(f.screen.history_row(f.screen.first_kept_row()).at(0).text, "line 4996");
}

TEST(HostScreen, PlainTextDrawsAsTheEmulatorDraws) {
  // Fed at once, long runs of ASCII are written directly; fed a byte at a
  // time, every character goes through libvterm. Both must agree.
  const std::string output = std::string("\x1b[1;32m") + std::string(50, 'g') + "\x1b[0m tail\r\n" +
                             "\x1b(0qqqqqqqqqqqq\x1b(B plain again\r\n" +  // line drawing
                             "\x1b[4hinserted text here\x1b[4l\r\n" +      // insert mode
                             "combining accent after a run" + "\xcc\x81" + "\x1b[3b\r\n" + "\xc3" +
                             "after a broken sequence\r\n" +  // replacement char first
                             "\x1b[7mreverse video text\x1b[K\x1b[0m\r\n" + std::string(25, 'q');
  Fixture whole, bytes;
  whole.screen.feed(output);
  for (char c : output) bytes.screen.feed(std::string(1, c));
  EXPECT_EQ(styled(whole.screen), styled(bytes.screen));
  EXPECT_EQ(whole.screen.text(100), bytes.screen.text(100));
  EXPECT_EQ(whole.screen.snapshot(0).continued, bytes.screen.snapshot(0).continued);
  EXPECT_EQ(whole.screen.cursor().row, bytes.screen.cursor().row);
  EXPECT_EQ(whole.screen.cursor().col, bytes.screen.cursor().col);
  EXPECT_NE(whole.screen.text(100).find("\u2500\u2500\u2500"), std::string::npos);
  EXPECT_NE(whole.screen.text(100).find("n\u0301"), std::string::npos);
}
