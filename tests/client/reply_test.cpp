// The client's reply reader: the values it takes are the shared parser's,
// what it refuses carries the parser's error text, and looking values up
// follows the parser's rules (a repeated key keeps its last value).

#include "reply.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

reply::Reading read(std::string_view line) { return reply::read(wire::Buffer(line)); }

}  // namespace

TEST(ReplyReader, TakesWhatTheParserTakesWithTheSameValue) {
  const std::string cases[] = {
      R"({"ok":true,"result":{"output":"a\tb \"q\" \\ \/ \b\f\n\r \u00fc\u20AC \ud83d\ude00 \u0000 end"}})",
      " \t\r\n[ 1 , -0 , 0.5e-3 , 1E+2 , 18446744073709551616 , -9223372036854775809 , 1e-400 ] \r\n",
      R"({"a":1,"b":[],"a":{"c":{}},"\u0061":"last","":null,"t":[true,false]})",
      "\"grüß — ✓ \xF0\x9F\x98\x80\"",
      std::string(127, '[') + std::string(127, ']'),
      "12345678901234567890",
  };
  for (const std::string& text : cases) {
    std::optional<reply::Document> doc = reply::Document::index(text);
    wire::Parsed reference = wire::parse_json(text);
    ASSERT_TRUE(doc.has_value()) << text;
    ASSERT_TRUE(reference.ok()) << text;
    EXPECT_EQ(reply::to_json(doc->root()), *reference) << text;
  }
}

TEST(ReplyReader, RefusalsCarryTheReferenceErrorText) {
  const std::string bad = "bad response: ";
  struct Case {
    std::string line;
    std::string error;
  } cases[] = {
      {"", bad + "EOF while parsing a value at line 1 column 0"},
      {"{\"ok\":true} x", bad + "trailing characters at line 1 column 13"},
      {"{\"ok\":true}\0x"s, bad + "trailing characters at line 1 column 12"},
      {"\xEF\xBB\xBF{}", bad + "unexpected byte order mark at line 1 column 1"},
      {"[1e400]", bad + "number out of range at line 1 column 6"},
      {std::string(128, '[') + std::string(128, ']'), bad + "recursion limit exceeded at line 1 column 128"},
      {"[\"\xff\"] x", "stream did not contain valid UTF-8"},
  };
  for (const Case& c : cases) {
    reply::Reading r = read(c.line);
    EXPECT_FALSE(r.ok()) << c.line;
    EXPECT_EQ(r.failure(), c.error) << c.line;
  }
  // Whatever the index refuses, the parser refuses too.
  for (std::string_view line : {"[01]", "[1.]", "[-]", "\"\\ud800\"", "\"\\udc00\"", "\"\\x\"", "[\"\t\"]", "{\"a\" 1}",
                                "tru", "[1,]", "{,}", "\"\\u12G4\""}) {
    EXPECT_FALSE(reply::Document::index(line).has_value()) << line;
    EXPECT_FALSE(wire::parse_json(line).ok()) << line;
  }
}

TEST(ReplyReader, LooksUpMembersLeniently) {
  reply::Reading r = read(R"({"ok":true,"ok":"no","list":[1,{"name":"A"},"x"],"s":"t\u00e4xt"})");
  ASSERT_TRUE(r.ok());
  reply::Value root = r->root();
  EXPECT_TRUE(root.find("ok")->is_string());
  EXPECT_FALSE(root.find("missing").has_value());
  EXPECT_EQ(root.find("s")->text(), "täxt");
  EXPECT_EQ(root.find("list")->text(), "");
  EXPECT_FALSE(root.find("s")->find("s").has_value());
  EXPECT_TRUE(root.find("s")->elements().empty());
  std::string seen;
  for (reply::Value element : root.find("list")->elements()) {
    seen += element.is_object() ? std::string(element.find("name")->text()) : element.is_string() ? "s" : "n";
  }
  EXPECT_EQ(seen, "nAs");
  EXPECT_TRUE(reply::Value().is_null());
}

TEST(ReplyReader, DecodesLongEscapedTextInPlace) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\t\"ü\" \\ ✓\n";
  std::string line = wire::to_wire({{"output", text}});
  reply::Reading r = read(line);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->root().find("output")->text(), text);
}
