// The text helpers behind note reads and edits.

#include <gtest/gtest.h>

#include "model/text_edit.h"

using namespace host;

TEST(HostText, ReplaceFirst) {
  EXPECT_EQ(replace_first("a-b-a", "a", "X"), "X-b-a");
  EXPECT_EQ(replace_first("a-b-a", "-b-", ""), "aa");
  EXPECT_EQ(replace_first("aaa", "aa", "b"), "ba");
  EXPECT_EQ(replace_first("abc", "abc", "abcabc"), "abcabc");
  EXPECT_EQ(replace_first("abc", "x", "y"), std::nullopt);
  EXPECT_EQ(replace_first("abc", "", "y"), std::nullopt);
  EXPECT_EQ(replace_first("", "a", "y"), std::nullopt);
}

TEST(HostText, SliceLines) {
  const std::string text = "l0\nl1\n\nl3";
  EXPECT_EQ(slice_lines(text, 0, std::nullopt), text);
  EXPECT_EQ(slice_lines(text, 1, 2), "l1\n\n");
  EXPECT_EQ(slice_lines(text, 2, 1), "\n");
  EXPECT_EQ(slice_lines(text, 3, 5), "l3");
  EXPECT_EQ(slice_lines(text, 4, std::nullopt), "");
  EXPECT_EQ(slice_lines(text, 0, 0), "");
  EXPECT_EQ(slice_lines("a\n", 1, std::nullopt), "");
  EXPECT_EQ(slice_lines("", 0, std::nullopt), "");
  EXPECT_EQ(slice_lines(text, UINT64_MAX, UINT64_MAX), "");
  EXPECT_EQ(count_lines(text), 4u);
  EXPECT_EQ(count_lines("a\n"), 1u);
  EXPECT_EQ(count_lines(""), 0u);
  EXPECT_EQ(count_lines("\n\n"), 2u);
}
