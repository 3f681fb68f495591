// The JSON text form both sides of the socket rely on.

#include "json_text.h"

#include <gtest/gtest.h>

#include <string>

#include "utf8.h"

using wire::Json;
using wire::parse_json;
using wire::to_wire;

namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string error_of(std::string_view text) {
  wire::Parsed r = parse_json(text);
  EXPECT_FALSE(r.ok()) << text;
  return r.failure().text;
}

}  // namespace

TEST(JsonWriter, EscapesControlCharactersOnly) {
  Json s = std::string("q\" b\\ \b\t\n\f\r \x01\x1b\x1f / \x7f ü —");
  EXPECT_EQ(to_wire(s), "\"q\\\" b\\\\ \\b\\t\\n\\f\\r \\u0001\\u001b\\u001f / \x7f ü —\"");
}

TEST(JsonWriter, OrdersKeysByBytesAtEveryDepth) {
  Json v = Json::parse(R"({"b":{"z":1,"a":[{"y":0,"x":0}]},"B":2,"a":3,"é":4,"z":5})");
  EXPECT_EQ(to_wire(v), R"({"B":2,"a":3,"b":{"a":[{"x":0,"y":0}],"z":1},"z":5,"é":4})");
}

TEST(JsonWriter, WritesNumbersPlainly) {
  EXPECT_EQ(to_wire(Json::parse("[0,-7,18446744073709551615,1.5,0.1,-0.25]")),
            "[0,-7,18446744073709551615,1.5,0.1,-0.25]");
  EXPECT_EQ(to_wire(Json::parse("[true,false,null,{},[]]")), "[true,false,null,{},[]]");
}

TEST(JsonParser, RepeatedKeyKeepsLastValue) {
  wire::Parsed r = parse_json(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(to_wire(*r), R"({"a":3,"b":2})");
}

TEST(JsonParser, AcceptsSurroundingWhiteSpaceAndCrLf) {
  wire::Parsed r = parse_json(" \t{\"ok\":true}\r\n");
  ASSERT_TRUE(r.ok()) << r.failure().text;
  EXPECT_EQ((*r)["ok"], true);
}

TEST(JsonParser, NestingLimitIs127Levels) {
  EXPECT_TRUE(parse_json(nested(127)).ok());
  EXPECT_EQ(error_of(nested(128)), "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(error_of("{\"a\":" + nested(127) + "}"), "recursion limit exceeded at line 1 column 132");
  // Far deeper input is refused without exhausting the stack.
  EXPECT_EQ(error_of(std::string(1000000, '[')), "recursion limit exceeded at line 1 column 128");
}

TEST(JsonParser, ALimitOfValuesCountsValuesAndMemberNames) {
  // {"a":[1,{}]}: the object, a, the list, 1 and the inner object.
  std::string text = R"({"a":[1,{}]})";
  EXPECT_TRUE(parse_json(text, 5).ok());
  wire::Parsed over = parse_json(text, 4);
  EXPECT_FALSE(over.ok());
  ASSERT_FALSE(over.ok());
  EXPECT_TRUE(over.failure().too_many);
  EXPECT_EQ(over.failure().text, "more than 4 values");
  // Bad text within the limit is still a syntax error.
  EXPECT_FALSE(parse_json("[1,", 5).failure().too_many);
}

TEST(JsonParser, ErrorsNameProblemLineAndColumn) {
  EXPECT_EQ(error_of(""), "EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(error_of("   "), "EOF while parsing a value at line 1 column 3");
  EXPECT_EQ(error_of("\n"), "EOF while parsing a value at line 2 column 0");
  EXPECT_EQ(error_of("{} x"), "trailing characters at line 1 column 4");
  EXPECT_EQ(error_of("{}\n{}"), "trailing characters at line 2 column 1");
  EXPECT_EQ(error_of("1 2"), "trailing characters at line 1 column 3");
  EXPECT_EQ(error_of("[1,"), "EOF while parsing a value at line 1 column 3");
  EXPECT_EQ(error_of("{\"a\":1"), "EOF while parsing an object at line 1 column 6");
  EXPECT_EQ(error_of("\"abc"), "EOF while parsing a string at line 1 column 4");
}

TEST(JsonParser, OtherFailuresKeepTheFixedForm) {
  for (std::string_view bad : {"1e400", "[-1e400]", "tru", "{\"a\" 1}", "[1 2]", "\"\\ud800\"", "01", "{a:1}"}) {
    std::string e = error_of(bad);
    EXPECT_NE(e.find(" at line 1 column "), std::string::npos) << bad << " -> " << e;
    EXPECT_EQ(e.find("json.exception"), std::string::npos) << e;
  }
  EXPECT_EQ(error_of("1e400").rfind("number out of range at line 1 column ", 0), 0u);
}

TEST(JsonParser, NulAndByteOrderMarkAreNoWhiteSpace) {
  using namespace std::string_literals;
  EXPECT_EQ(error_of("{}\0{}"s), "trailing characters at line 1 column 3");
  EXPECT_EQ(error_of("1 \n\0"s), "trailing characters at line 2 column 1");
  EXPECT_EQ(error_of("{\"a\":\0}"s), "unexpected NUL byte at line 1 column 6");
  EXPECT_EQ(error_of("\0"s), "unexpected NUL byte at line 1 column 1");
  EXPECT_EQ(error_of("\xEF\xBB\xBF{}"), "unexpected byte order mark at line 1 column 1");
  EXPECT_TRUE(error_of(" \xEF\xBB\xBF{}").ends_with(" at line 1 column 2"));
  // Escaped, a NUL is a character like any other.
  wire::Parsed r = parse_json(R"(["\u0000"])");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ((*r)[0], "\0"s);
}

TEST(Utf8, AcceptsWellFormedAndRefusesTheRest) {
  EXPECT_TRUE(utf8::is_valid_utf8("plain ü — ⚠ \xF0\x9F\x98\x80"));
  for (std::string_view bad :
       {"\xff", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ab\x80", "\xe2\x82"}) {
    EXPECT_FALSE(utf8::is_valid_utf8(bad)) << bad;
  }
}

TEST(Utf8, SanitizeReplacesEachBadByte) {
  EXPECT_EQ(utf8::sanitize_utf8("a\xff"
                                "b\xe2\x82"),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(utf8::sanitize_utf8("ü ok"), "ü ok");
}
