// `connect`, `dismiss` and `recruit`: request bytes, the recruit flag scan,
// usage lines and the confirmation lines.

#include <gtest/gtest.h>

#include "exchange_checks.h"
#include "fake_app.h"
#include "replies.h"

using namespace harness;

namespace {

constexpr const char* kRecruitUsage =
    "welkmora: usage: welkmora recruit \"Codename\" [--role \"Role\"] [--command \"cmd\"]\n";

}  // namespace

TEST(Wiring, RequestsCarryTheWordsAsTyped) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* request;
  } cases[] = {
      {{"connect", "A", "B"}, R"({"command":"connect","from":"A","terminalId":"T1","to":"B","token":"tok"})"},
      {{"connect", "A", "B", "C"}, R"({"command":"connect","from":"A","terminalId":"T1","to":"B","token":"tok"})"},
      {{"connect", "A", "A"}, R"({"command":"connect","from":"A","terminalId":"T1","to":"A","token":"tok"})"},
      {{"connect", "Dev 1", "Notizen"},
       R"({"command":"connect","from":"Dev 1","terminalId":"T1","to":"Notizen","token":"tok"})"},
      {{"connect", "", ""}, R"({"command":"connect","from":"","terminalId":"T1","to":"","token":"tok"})"},
      {{"dismiss", "A"}, R"({"command":"dismiss","name":"A","terminalId":"T1","token":"tok"})"},
      {{"dismiss", "A", "B"}, R"({"command":"dismiss","name":"A","terminalId":"T1","token":"tok"})"},
      {{"dismiss", ""}, R"({"command":"dismiss","name":"","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout"}, R"({"command":"recruit","name":"Scout","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout", "--role", "Dev", "--preset", "Claude Code", "--command", "claude"},
       R"({"cmd":"claude","command":"recruit","name":"Scout","preset":"Claude Code","role":"Dev","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout", "--command", "claude", "--role", "Dev"},
       R"({"cmd":"claude","command":"recruit","name":"Scout","role":"Dev","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout", "--preset", "Shell"},
       R"({"command":"recruit","name":"Scout","preset":"Shell","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout", "--role", "A", "--role", "B"},
       R"({"command":"recruit","name":"Scout","role":"B","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout", "--role", "--command"},
       R"({"command":"recruit","name":"Scout","role":"--command","terminalId":"T1","token":"tok"})"},
      {{"recruit", "Scout", "--role", ""},
       R"({"command":"recruit","name":"Scout","role":"","terminalId":"T1","token":"tok"})"},
      {{"recruit", "--role", "--preset", "x"},
       R"({"command":"recruit","name":"--role","preset":"x","terminalId":"T1","token":"tok"})"},
      {{"recruit", ""}, R"({"command":"recruit","name":"","terminalId":"T1","token":"tok"})"},
  };
  for (const Case& c : cases) expect_sent(app.exchange(c.args, ok_result("{}")), c.request, describe(c.args));
}

TEST(Wiring, UsageAndFlagErrorsSendNothing) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"connect"}, "welkmora: usage: welkmora connect \"From\" \"To\"\n"},
      {{"connect", "A"}, "welkmora: usage: welkmora connect \"From\" \"To\"\n"},
      {{"dismiss"}, "welkmora: usage: welkmora dismiss \"Name\"\n"},
      {{"recruit"}, kRecruitUsage},
      {{"recruit", "Scout", "--role"}, "welkmora: --role requires a value\n"},
      {{"recruit", "Scout", "--preset"}, "welkmora: --preset requires a value\n"},
      {{"recruit", "Scout", "--command"}, "welkmora: --command requires a value\n"},
      {{"recruit", "Scout", "--role", "Dev", "--command"}, "welkmora: --command requires a value\n"},
      {{"recruit", "Scout", "Tester"}, "welkmora: unknown recruit flag: Tester\n"},
      {{"recruit", "Scout", "--Role", "Dev"}, "welkmora: unknown recruit flag: --Role\n"},
      {{"recruit", "Scout", "--role=Dev"}, "welkmora: unknown recruit flag: --role=Dev\n"},
      {{"recruit", "Scout", "--role", "Dev", "extra"}, "welkmora: unknown recruit flag: extra\n"},
      {{"recruit", "Scout", "--role", "Dev", "extra", "--command"}, "welkmora: unknown recruit flag: extra\n"},
      {{"recruit", "Scout", ""}, "welkmora: unknown recruit flag: \n"},
      {{"recruit", "--role", "Dev"}, "welkmora: unknown recruit flag: Dev\n"},
  };
  for (const Case& c : cases) expect_refused(app.exchange(c.args, ok_result("{}")), c.err, describe(c.args));
}

TEST(Wiring, ConfirmationLines) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* result;
    const char* out;
  } cases[] = {
      // connect shows its own words, whatever the reply says.
      {{"connect", "Dev 1", "Notizen"}, R"({"from":"X","to":"Y","name":"Z"})", "Verbunden: Dev 1 <-> Notizen\n"},
      {{"connect", "A", "B", "C"}, "null", "Verbunden: A <-> B\n"},
      {{"connect", "", ""}, "null", "Verbunden:  <-> \n"},
      {{"dismiss", "Dev"}, R"j({"name":"Dev (alt)"})j", "Entlassen: Dev (alt)\n"},
      {{"dismiss", "Dev"}, R"({"name":3})", "Entlassen: ?\n"},
      {{"dismiss", "Dev"}, "null", "Entlassen: ?\n"},
      {{"recruit", "Scout"}, R"({"name":"Scout-2"})", "Recruit gespawnt: Scout-2\n"},
      {{"recruit", "Scout"}, R"({"terminal":"Scout"})", "Recruit gespawnt: ?\n"},
      {{"recruit", "Scout"}, R"(["Scout"])", "Recruit gespawnt: ?\n"},
  };
  for (const Case& c : cases) {
    expect_printed(app.exchange(c.args, ok_result(c.result)), c.out, describe(c.args) + " " + c.result);
  }
}

TEST(Wiring, AnAppRefusalPrintsNoConfirmation) {
  FakeApp app;
  Exchange x = app.exchange({"recruit", "Scout", "--preset", "Nope"}, R"({"ok":false,"error":"unknown preset"})"
                                                                      "\n");
  EXPECT_EQ(x.request, R"({"command":"recruit","name":"Scout","preset":"Nope","terminalId":"T1","token":"tok"})"
                       "\n");
  EXPECT_EQ(x.run.out, "");
  EXPECT_EQ(x.run.err, "welkmora: unknown preset\n");
  EXPECT_EQ(x.run.status, 1);
}

TEST(Wiring, OutsideTheAppEvenMalformedCommandsGetTheSocketLine) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"connect"},
                                                                             {"dismiss"},
                                                                             {"recruit"},
                                                                             {"recruit", "A", "x"},
                                                                             {"note"},
                                                                             {"note", "read", "N", "--offset"},
                                                                             {"role"},
                                                                             {"role", "bogus"},
                                                                             {"preset", "show"}}) {
    RunOptions o;
    RunResult r = run_client(args, o);
    EXPECT_EQ(r.err, "welkmora: only available inside Welkmora terminals (WELKMORA_SOCKET not set).\n")
        << describe(args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 1);
  }
}
