// What an attachment passes from a program's output to the person's own
// terminal, and what it keeps from outliving the attach.

#include "server/attach_filter.h"

#include <gtest/gtest.h>

TEST(HostAttachFilter, PassesDrawingAndDropsWhatOutlivesTheAttach) {
  host::AttachFilter filter;
  std::string drawing = "a\x1b[1;31mb\x1b[2J\x1b[5;1H\x1b[?25l\x1b[?1000h\x1b[?5h\x1b(0q\x1b(B\x1b[0 q\r\n\xc3\xa9";
  EXPECT_EQ(filter.pass(drawing), drawing);
  // Clipboard writes, titles, DCS and APC strings (split across chunks),
  // C1 controls as UTF-8, queries, window operations, unknown modes, a
  // full reset, key modes and ENQ's answerback.
  std::string text = filter.pass(
      "1\x1b]52;c;ZXZpbA==\x07"
      "2\x1b]0;title\x1b\\"
      "3\x1bP+q544e\x1b");
  text += filter.pass("\\4\x1b_apc\x1b\\5\xc2");
  text += filter.pass(
      "\x9b"
      "31m6\x1b[6n\x1b[>c\x1b[8;1;1t");
  text += filter.pass(
      "\x1b[?1001h\x1b[?3h\x1b"
      "c\x1b[>4;2m\x05"
      "7");
  EXPECT_EQ(text,
            "12345"
            "31m67");
  EXPECT_FALSE(filter.switched_screen());
  // A switch of screens is not passed; the attachment redraws instead.
  EXPECT_EQ(filter.pass("\x1b[?1049h"), "");
  EXPECT_TRUE(filter.switched_screen());
}
