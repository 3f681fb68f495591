// How an ask types its prompt into a terminal.

#include "turns/asks.h"

#include <gtest/gtest.h>

using namespace host;

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
