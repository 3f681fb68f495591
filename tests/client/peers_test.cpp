// `list`, `check` and the peer-output renderer.

#include <gtest/gtest.h>

#include "fake_app.h"
#include "replies.h"

using namespace harness;

namespace {}  // namespace

TEST(List, RendersAgentsThenNotes) {
  FakeApp app;
  Exchange x = app.exchange(
      {"list", "ignored", "words"},
      ok_result(
          R"({"agents":[{"name":"A"},{"name":"B"}],"notes":[{"name":"N1","connected":true},{"name":"N2","connected":false}]})"));
  EXPECT_EQ(x.request, R"({"command":"list","terminalId":"T1","token":"tok"})"
                       "\n");
  EXPECT_EQ(x.run.out, "Verbundene Agenten:\n  - A\n  - B\nNotizen:\n  - N1 (verbunden)\n  - N2\n");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);
}

TEST(List, LenientAboutShapes) {
  FakeApp app;
  struct Case {
    const char* result;
    const char* out;
  } cases[] = {
      {"null", "Keine anderen Agenten verbunden.\n"},
      {R"({"agents":[],"notes":[]})", "Keine anderen Agenten verbunden.\n"},
      {R"({"agents":{"name":"A"},"notes":"N"})", "Keine anderen Agenten verbunden.\n"},
      {R"({"notes":[{"name":"N","connected":"true"}]})", "Keine anderen Agenten verbunden.\nNotizen:\n  - N\n"},
      {R"({"agents":[{},{"name":5},"A",{"name":"ok"}]})", "Verbundene Agenten:\n  - ?\n  - ?\n  - ?\n  - ok\n"},
      {R"([1,2])", "Keine anderen Agenten verbunden.\n"},
  };
  for (const Case& c : cases) {
    Exchange x = app.exchange({"list"}, ok_result(c.result));
    EXPECT_EQ(x.run.out, c.out) << c.result;
    EXPECT_EQ(x.run.status, 0);
  }
}

TEST(Check, UsageAndTarget) {
  FakeApp app;
  Exchange none = app.exchange({"check"}, ok_result("null"));
  EXPECT_EQ(none.run.err, "welkmora: usage: welkmora check \"Name\"\n");
  EXPECT_EQ(none.run.status, 1);
  EXPECT_FALSE(none.connected);

  Exchange empty = app.exchange({"check", "", "more"}, ok_result("null"));
  EXPECT_EQ(empty.request, R"({"command":"check","target":"","terminalId":"T1","token":"tok"})"
                           "\n");
  EXPECT_EQ(empty.run.out, "(keine Ausgabe)\n");
}

TEST(Check, SingleOutputLineFeeds) {
  FakeApp app;
  struct Case {
    const char* result;
    const char* out;
  } cases[] = {
      {R"({"output":"abc"})", "abc\n"},
      {R"({"output":"abc\n"})", "abc\n"},
      {R"({"output":"\nabc  "})", "\nabc  \n"},
      {R"({"output":" \t\n\n"})", "(keine Ausgabe)\n"},
      {R"({"output":"\u00a0\u3000\u2028"})", "(keine Ausgabe)\n"},
      {R"({"output":""})", "(keine Ausgabe)\n"},
      {R"({"output":7})", "(keine Ausgabe)\n"},
      {R"({})", "(keine Ausgabe)\n"},
  };
  for (const Case& c : cases) {
    Exchange x = app.exchange({"check", "Dev"}, ok_result(c.result));
    EXPECT_EQ(x.run.out, c.out) << c.result;
    EXPECT_EQ(x.run.err, "");
    EXPECT_EQ(x.run.status, 0);
  }
}

TEST(Check, AwaitingInputWarnsOnStderr) {
  FakeApp app;
  Exchange x = app.exchange({"check", "Dev"}, ok_result(R"({"output":"Proceed? [y/N]","awaitingInput":true})"));
  EXPECT_EQ(x.run.out, "Proceed? [y/N]\n");
  EXPECT_EQ(x.run.err, "⚠ 'Dev' wartet auf Eingabe (Turn nicht beendet — ggf. erneut `ask`, um zu antworten)\n");
  EXPECT_EQ(x.run.status, 0);

  Exchange not_bool = app.exchange({"check", "Dev"}, ok_result(R"({"output":"x","awaitingInput":"true"})"));
  EXPECT_EQ(not_bool.run.err, "");
}

TEST(Check, ResultsArrayRendersBlocks) {
  FakeApp app;
  Exchange x = app.exchange(
      {"check", "Dev"},
      ok_result(
          R"({"output":"top","results":[{"name":"Dev","output":"hi"},{"name":"W","output":"q?\n","awaitingInput":true},{"name":"E","error":"weg","awaitingInput":true,"output":"x"},{"output":""}]})"));
  EXPECT_EQ(x.run.out,
            "=== Dev ===\nhi\n\n"
            "=== W (⚠ wartet auf Eingabe) ===\nq?\n\n\n"
            "=== E (Fehler) ===\nweg\n\n"
            "=== ? ===\n\n\n");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);

  Exchange empty = app.exchange({"check", "Dev"}, ok_result(R"({"results":[],"output":"top"})"));
  EXPECT_EQ(empty.run.out, "");
  EXPECT_EQ(empty.run.status, 0);
}
