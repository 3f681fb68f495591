// The decimal notation accepted for `note read --offset/--limit`, checked
// directly on the parser and on the flag wrapper that ends the run.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "commands/note_input.h"
#include "request.h"

using wire::Json;

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

}  // namespace

TEST(ParseUsize, AcceptsPlainDecimalNotation) {
  struct Case {
    const char* word;
    std::uint64_t value;
  } cases[] = {
      {"0", 0},
      {"00", 0},
      {"+0", 0},
      {"7", 7},
      {"+7", 7},
      {"007", 7},
      {"+007", 7},
      {"1234567890", 1234567890},
      {"18446744073709551615", kMax},
      {"+18446744073709551615", kMax},
      {"000000000000000000000000018446744073709551615", kMax},
      {"18446744073709551614", kMax - 1},
  };
  for (const Case& c : cases) {
    std::optional<std::uint64_t> got = parse_usize(c.word);
    ASSERT_TRUE(got.has_value()) << c.word;
    EXPECT_EQ(*got, c.value) << c.word;
  }
}

TEST(ParseUsize, RefusesEverythingElse) {
  for (std::string_view word : {"",
                                "+",
                                "-",
                                "-1",
                                "-0",
                                "++1",
                                "+-1",
                                "-+1",
                                " 1",
                                "1 ",
                                "\t1",
                                "1\n",
                                "1.5",
                                "1.",
                                ".5",
                                "1e3",
                                "1E3",
                                "0x10",
                                "0b1",
                                "1_000",
                                "1,000",
                                "1'000",
                                "abc",
                                "1a",
                                "a1",
                                "18446744073709551616",
                                "18446744073709551620",
                                "99999999999999999999",
                                "184467440737095516150",
                                "٣",
                                "５",
                                "+ 1"}) {
    EXPECT_EQ(parse_usize(word), std::nullopt) << "[" << word << "]";
  }
  // An embedded zero byte is a character like any other.
  EXPECT_EQ(parse_usize(std::string_view("1\0", 2)), std::nullopt);
}

TEST(ParseUsize, RoundTripsRandomValues) {
  std::mt19937_64 gen(20240611);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t v = gen() >> (gen() % 64);
    std::string text = std::to_string(v);
    EXPECT_EQ(parse_usize(text), v) << text;
    EXPECT_EQ(parse_usize("+" + text), v) << text;
    EXPECT_EQ(parse_usize("000" + text), v) << text;
    EXPECT_EQ(parse_usize("-" + text), std::nullopt) << text;
    EXPECT_EQ(parse_usize(text + "0"), v <= kMax / 10 ? std::optional<std::uint64_t>(v * 10) : std::nullopt) << text;
  }
}

namespace {

/// `note read N FLAG VALUE...` as a request, or its failure's one message.
std::string note_read(std::vector<std::string_view> flags) {
  std::vector<std::string_view> words = {"note", "read", "N"};
  words.insert(words.end(), flags.begin(), flags.end());
  out::Outcome<Json> request = request_for(words, "T1", "tok");
  if (!request.ok()) return request.failure().messages.at(0);
  return wire::to_wire(request->value("offset", Json())) + " " + wire::to_wire(request->value("limit", Json()));
}

}  // namespace

TEST(ParseUsizeFlag, ReturnsAcceptedValues) {
  EXPECT_EQ(note_read({"--offset", "0"}), "0 null");
  EXPECT_EQ(note_read({"--limit", "+7"}), "null 7");
  EXPECT_EQ(note_read({"--limit", "18446744073709551615"}), "null 18446744073709551615");
}

TEST(ParseUsizeFlag, MissingOrRefusedValueIsTheFailure) {
  EXPECT_EQ(note_read({"--offset"}), "--offset requires a positive integer");
  EXPECT_EQ(note_read({"--limit", "18446744073709551616"}), "--limit requires a positive integer");
  EXPECT_EQ(note_read({"--limit", ""}), "--limit requires a positive integer");
}
