// The filter between a program's output and the emulation: what it lets
// through, as cases of data, and that output the emulation cannot take
// (each case once crashed or froze the host) leaves the screen sound.

#include "screen/output_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "screen/screen.h"

using namespace host;

namespace {

struct Case {
  std::vector<std::string_view> reads;  ///< the output, as the program's reads cut it
  std::string_view expected;
};

const Case kCases[] = {
    {{"plain \x1b[1;31mred\x1b[0m\r\n"}, "plain \x1b[1;31mred\x1b[0m\r\n"},
    {{"\xc2\x9b"
      "1m\xc2\x80x"},
     "1mx"},  // C1 code points go
    {{"a\xff"
      "b\xed\xa0\x80"
      "c"},
     "a\xEF\xBF\xBD"
     "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
     "c"},
    {{"\xc3", "\xa9", "\xe6\x97", "\xa5"}, "\xc3\xa9\xe6\x97\xa5"},  // cut by reads: joined
    {{"\xc3\x1b[E\xa9x"}, "\xEF\xBF\xBD\x1b[E\xEF\xBF\xBDx"},        // cut by a sequence: U+FFFD
    {{"x\x1b[3b", "\x1b[b"}, "xxxxx"},                               // REP repeats the last character
    {{"\x1b[b\x1b[5;2b"}, ""},                                       // ... and nothing before any
    {{"\xe4\xb8\x80\x1b[2b"}, "\xe4\xb8\x80\xe4\xb8\x80\xe4\xb8\x80"},
    {{"x\x1b[99999b"}, "xxxxxxxxxx"},  // at most a screenful (3x3)
    {{"\x1b[123456789012345678901@\x1b[?25;1002h"}, "\x1b[9999@\x1b[?25;1002h"},
    {{"\x1b[1;2;3;4;5;6;7;8;9;1;2;3;4;5;6;7:8:9 q"}, "\x1b[1;2;3;4;5;6;7;8;9;1;2;3;4;5;6;7 q"},
    {{"\x1b[1", "2;", "4H"}, "\x1b[12;4H"},  // sequences cut by reads
    {{"\x1b[1\r2A"}, "\r\x1b[12A"},          // a control inside runs at once
    {{"\x1b[12\x1b[3A"}, "\x1b[3A"},         // ESC abandons a sequence
    {{"\x1b[1\x18"
      "a"},
     "\x18"
     "a"},  // so does CAN
    {{"\x1b]0;t\xc2\x9b\x07"
      "b"},
     "\x1b]0;t\xc2\x9b\x07"
     "b"},  // strings pass as they are
    {{"\x1b]0;t\x1b"
      "c"},
     "\x1b]0;t\x1b\\\x1b"
     "c"},  // ... and are closed when left
    {{"\x1bX\xc2\x80x\x1b\\y\x1b_a\x1b"
      "c"},
     "y\x1b"
     "c"},                         // APC, PM and SOS go whole
    {{"\x1b([1b\x1b#]x"}, "1bx"},  // nothing can start a sequence
    {{"\x1b(0q\x1b(B\x1b#8"}, "\x1b(0q\x1b(B\x1b#8"},
    // at most 16 marks after a character
    {{"e\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81",
      "\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81"
      "x\xcc\x81"},
     "e\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81\xcc\x81"
     "\xcc\x81\xcc\x81"
     "x\xcc\x81"},
    {{std::string_view("a\0\x7f"
                       "b",
                       4)},
     "ab"},
};

}  // namespace

TEST(HostOutputFilter, PassesWhatTheEmulationTakes) {
  for (const Case& c : kCases) {
    OutputFilter filter;
    std::string out;
    for (std::string_view read : c.reads) filter.pass(read, out, 9);
    EXPECT_EQ(out, c.expected) << "first read: " << testing::PrintToString(std::string(c.reads.front()));
  }
}

TEST(HostOutputFilter, OutputThatBrokeTheEmulationLeavesTheScreenSound) {
  const std::string_view kPayloads[] = {
      "\x1b[4h\xc2\x9bm",
      "\x1b[4h\xc2\x80x",
      "\xc2\x8b\x1b[X",
      "\x1b[4h\xc2\x1b[E\x95x",
      "x\xe4\xb8\x80\x1b[200b",
      "x\xf0\x9f\x98\x80\x1b[200b",
      "\x1b[b",
      "\xe4\xb8\x80\xe4\xb8\x80",
      "\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17m",
  };
  for (int cols : {1, 2, 80}) {
    for (std::string_view payload : kPayloads) {
      Screen screen(3, cols, nullptr);
      screen.feed(payload);
      screen.feed("ok");
      Cursor cursor = screen.cursor();
      EXPECT_GE(cursor.col, 0);
      EXPECT_LE(cursor.col, screen.cols());
      std::string text = screen.text(10);
      std::erase(text, '\n');
      EXPECT_NE(text.find("ok"), std::string::npos) << testing::PrintToString(std::string(payload));
    }
  }
}

TEST(HostOutputFilter, AShrinkLeavesNothingOutsideTheScreen) {
  // Margins set for the larger screen are reset, the cursor staying.
  Screen margins(10, 40, nullptr);
  margins.feed("\x1b[4;9r\x1b[?69h\x1b[5;30s\x1b[2;3H");
  margins.resize(2, 20);
  EXPECT_EQ(margins.cursor().row, 1);
  EXPECT_EQ(margins.cursor().col, 2);
  margins.feed("\x1b[L\x1b[M\x1b[S\n\nok");
  EXPECT_NE(margins.text(10).find("ok"), std::string::npos);
  // A cursor saved on the larger screen is restored onto the smaller.
  for (std::string_view restore : {"\x1b"
                                   "8",
                                   "\x1b[?1048l", "\x1b[?25;1049l"}) {
    Screen screen(10, 40, nullptr);
    screen.feed(restore ==
                        "\x1b"
                        "8"
                    ? "\x1b[9;30H\x1b"
                      "7"
                    : "\x1b[9;30H\x1b[?1049h\x1b[?1048h");
    screen.resize(2, 20);
    screen.feed(restore);
    Cursor cursor = screen.cursor();
    EXPECT_EQ(cursor.row, 1) << testing::PrintToString(std::string(restore));
    EXPECT_EQ(cursor.col, 19);
    screen.feed("ok");
    std::string text = screen.text(10);
    std::erase(text, '\n');
    EXPECT_NE(text.find("ok"), std::string::npos);
  }
}
