// The `role` family and `preset list`: requests built by
// request_for, the usage lines and the renderings of the reply.

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "exchange_checks.h"
#include "fake_app.h"
#include "replies.h"

using namespace harness;

namespace {

constexpr const char* kRoleUsage =
    "welkmora: usage: welkmora role list | create \"Name\" \"Prompt\" | show \"Name\" | edit \"Name\" \"old\" \"new\" "
    "| "
    "write \"Name\" \"prompt\" | delete \"Name\" | assign \"Recruit\" (\"Role\" | --none)\n";
constexpr const char* kAssignUsage =
    "welkmora: usage: welkmora role assign \"Recruit\" \"Role\"  |  welkmora role assign \"Recruit\" --none\n";
constexpr const char* kPresetUsage = "welkmora: usage: welkmora preset list\n";

/// One subcommand's words and the request it must produce with token "tok"
/// and terminal id "T1".
struct RoleCase {
  std::vector<std::string> args;
  const char* request;
};

const std::vector<RoleCase>& role_requests() {
  static const std::vector<RoleCase> cases = {
      {{"role", "list"}, R"({"command":"role","sub":"list","terminalId":"T1","token":"tok"})"},
      {{"role", "list", "extra", "words"}, R"({"command":"role","sub":"list","terminalId":"T1","token":"tok"})"},
      {{"role", "create", "Dev", "Du schreibst Code.\nSauber."},
       R"({"command":"role","name":"Dev","prompt":"Du schreibst Code.\nSauber.","sub":"create","terminalId":"T1","token":"tok"})"},
      {{"role", "create", "A", ""},
       R"({"command":"role","name":"A","prompt":"","sub":"create","terminalId":"T1","token":"tok"})"},
      {{"role", "show", "A", "B"}, R"({"command":"role","name":"A","sub":"show","terminalId":"T1","token":"tok"})"},
      {{"role", "show", ""}, R"({"command":"role","name":"","sub":"show","terminalId":"T1","token":"tok"})"},
      {{"role", "edit", "A", "alt", "neu", "x"},
       R"({"command":"role","name":"A","new":"neu","old":"alt","sub":"edit","terminalId":"T1","token":"tok"})"},
      {{"role", "edit", "A", "", ""},
       R"({"command":"role","name":"A","new":"","old":"","sub":"edit","terminalId":"T1","token":"tok"})"},
      {{"role", "write", "A", "ganz neu"},
       R"({"command":"role","name":"A","prompt":"ganz neu","sub":"write","terminalId":"T1","token":"tok"})"},
      {{"role", "delete", "A", "B"}, R"({"command":"role","name":"A","sub":"delete","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "R", "Dev"},
       R"({"command":"role","recruit":"R","role":"Dev","sub":"assign","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "R", "--none"},
       R"({"command":"role","none":true,"recruit":"R","sub":"assign","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "R", "--none", "Dev"},
       R"({"command":"role","none":true,"recruit":"R","sub":"assign","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "R", "--None"},
       R"({"command":"role","recruit":"R","role":"--None","sub":"assign","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "R", "--none "},
       R"({"command":"role","recruit":"R","role":"--none ","sub":"assign","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "R", ""},
       R"({"command":"role","recruit":"R","role":"","sub":"assign","terminalId":"T1","token":"tok"})"},
      {{"role", "assign", "--none", "Dev"},
       R"({"command":"role","recruit":"--none","role":"Dev","sub":"assign","terminalId":"T1","token":"tok"})"},
  };
  return cases;
}

}  // namespace

TEST(RoleRequest, BuiltDirectly) {
  for (const RoleCase& c : role_requests()) {
    std::vector<std::string_view> words(c.args.begin(), c.args.end());
    EXPECT_EQ(wire::to_wire(*request_for(words, "T1", "tok")), c.request) << describe(c.args);
  }
  std::vector<std::string_view> list = {"role", "list"};
  EXPECT_EQ(wire::to_wire(*request_for(list, "", "")), R"({"command":"role","sub":"list","terminalId":"","token":""})");
  EXPECT_EQ(wire::to_wire(*request_for(list, "ü", "a\"b")),
            R"({"command":"role","sub":"list","terminalId":"ü","token":"a\"b"})");
}

TEST(RoleRequest, SentOverTheSocket) {
  FakeApp app;
  for (const RoleCase& c : role_requests()) {
    expect_sent(app.exchange(c.args, ok_result("{}")), c.request, describe(c.args));
  }
}

TEST(RoleRequest, EnvironmentReachesTheRequest) {
  FakeApp app;
  RunOptions o;
  o.env = {{"WELKMORA_SOCKET", app.socket_path()}};
  Exchange x = app.exchange({"role", "show", "Dev"}, Script::reply(ok_result("{}")), o);
  EXPECT_EQ(x.request, R"({"command":"role","name":"Dev","sub":"show","terminalId":"","token":""})"
                       "\n");
}

TEST(RoleUsage, ErrorsSendNothing) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"role"}, kRoleUsage},
      {{"role", ""}, kRoleUsage},
      {{"role", "", "Dev"}, kRoleUsage},
      {{"role", "rename"}, std::string(kRoleUsage) + "welkmora: unknown role subcommand: rename\n"},
      {{"role", "List"}, std::string(kRoleUsage) + "welkmora: unknown role subcommand: List\n"},
      {{"role", "Show", "X"}, std::string(kRoleUsage) + "welkmora: unknown role subcommand: Show\n"},
      {{"role", "create"}, "welkmora: usage: welkmora role create \"Name\" \"Prompt\"\n"},
      {{"role", "create", "A"}, "welkmora: usage: welkmora role create \"Name\" \"Prompt\"\n"},
      {{"role", "show"}, "welkmora: usage: welkmora role show \"Name\"\n"},
      {{"role", "edit", "A"}, "welkmora: usage: welkmora role edit \"Name\" \"old\" \"new\"\n"},
      {{"role", "edit", "A", "x"}, "welkmora: usage: welkmora role edit \"Name\" \"old\" \"new\"\n"},
      {{"role", "write", "A"}, "welkmora: usage: welkmora role write \"Name\" \"new prompt\"\n"},
      {{"role", "delete"}, "welkmora: usage: welkmora role delete \"Name\"\n"},
      {{"role", "assign"}, kAssignUsage},
      {{"role", "assign", "R"}, kAssignUsage},
      {{"preset", "show"}, std::string(kPresetUsage) + "welkmora: unknown preset subcommand: show\n"},
      {{"preset", "List"}, std::string(kPresetUsage) + "welkmora: unknown preset subcommand: List\n"},
      {{"preset", ""}, kPresetUsage},
      {{"preset", "", "list"}, kPresetUsage},
  };
  for (const Case& c : cases) expect_refused(app.exchange(c.args, ok_result("{}")), c.err, describe(c.args));
}

TEST(RoleUsage, RequestForReturnsTheFailure) {
  std::vector<std::string_view> alone = {"role"};
  out::Outcome<Json> refused = request_for(alone, "T1", "tok");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().messages, std::vector<std::string>{std::string(catalogue::kRoleUsage)});
  std::vector<std::string_view> unknown = {"role", "rename"};
  refused = request_for(unknown, "T1", "tok");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().messages,
            (std::vector<std::string>{std::string(catalogue::kRoleUsage), "unknown role subcommand: rename"}));
  std::vector<std::string_view> show = {"role", "show"};
  refused = request_for(show, "T1", "tok");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().messages, std::vector<std::string>{"usage: welkmora role show \"Name\""});
}

TEST(Preset, ListRequests) {
  FakeApp app;
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"preset"}, {"preset", "list"}, {"preset", "list", "extra"}}) {
    Exchange x = app.exchange(args, ok_result("{}"));
    EXPECT_EQ(x.request, R"({"command":"preset","sub":"list","terminalId":"T1","token":"tok"})"
                         "\n")
        << describe(args);
    EXPECT_EQ(x.run.status, 0);
  }
}

TEST(RoleRender, LenientReadingOfTheResult) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* result;
    const char* out;
  } cases[] = {
      {{"role", "list"}, R"({"roles":[{"name":"Dev"},{"name":5}]})", "Verfügbare Rollen:\n  - Dev\n  - ?\n"},
      {{"role", "list"},
       R"({"roles":["Dev",{},{"name":"QA","prompt":"x"}]})",
       "Verfügbare Rollen:\n  - ?\n  - ?\n  - QA\n"},
      {{"role", "list"}, R"({"roles":[]})", "Keine Rollen definiert.\n"},
      {{"role", "list"}, R"({"roles":"Dev"})", "Keine Rollen definiert.\n"},
      {{"role", "list"}, "null", "Keine Rollen definiert.\n"},
      {{"role", "show", "Dev"}, R"({"name":"Dev","prompt":"Du schreibst Code."})", "Rolle Dev:\nDu schreibst Code.\n"},
      {{"role", "show", "Dev"}, R"({"name":"Dev","prompt":"Zeile\n"})", "Rolle Dev:\nZeile\n\n"},
      {{"role", "show", "Dev"}, R"({"prompt":"p"})", "Rolle ?:\np\n"},
      {{"role", "show", "Dev"}, R"({"name":"Dev","prompt":7})", "Rolle Dev:\n\n"},
      {{"role", "show", "Dev"}, "null", "Rolle ?:\n\n"},
      {{"role", "create", "A", "p"}, R"({"name":"A"})", "Rolle angelegt: A\n"},
      {{"role", "create", "A", "p"}, R"({})", "Rolle angelegt: ?\n"},
      {{"role", "edit", "A", "x", "y"}, R"({"name":"A"})", "Rolle aktualisiert: A\n"},
      {{"role", "write", "A", "p"}, R"({"name":"A"})", "Rolle aktualisiert: A\n"},
      {{"role", "write", "A", "p"}, R"({"name":false})", "Rolle aktualisiert: ?\n"},
      {{"role", "delete", "A"}, R"({"name":"A"})", "Rolle gelöscht: A\n"},
      {{"role", "delete", "A"}, "[]", "Rolle gelöscht: ?\n"},
      {{"role", "assign", "R", "Dev"}, R"({"recruit":"R-1","role":"Dev","name":"Dev"})", "Recruit umgerollt: R-1\n"},
      {{"role", "assign", "R", "--none"}, R"({"name":"R"})", "Recruit umgerollt: ?\n"},
      {{"preset", "list"},
       R"({"presets":[{"name":"Claude Code","command":"claude"},{"name":"Shell","command":""},{"name":"X"}]})",
       "Verfügbare Presets:\n  - Claude Code  (claude)\n  - Shell\n  - X\n"},
      {{"preset"},
       R"({"presets":["Shell",{"command":"bash -l"},{"name":"Y","command":5}]})",
       "Verfügbare Presets:\n  - ?\n  - ?  (bash -l)\n  - Y\n"},
      {{"preset"}, R"({"presets":[]})", "Keine Presets definiert.\n"},
      {{"preset"}, R"({"presets":{"name":"X"}})", "Keine Presets definiert.\n"},
      {{"preset", "list"}, "null", "Keine Presets definiert.\n"},
  };
  for (const Case& c : cases) {
    expect_printed(app.exchange(c.args, ok_result(c.result)), c.out, describe(c.args) + " " + c.result);
  }
}

TEST(RoleRender, APromptsControlsAreShownOnATerminal) {
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  o.stdout_mode = Stdout::kTerminal;
  std::string reply = ok_result(R"({"name":"Dev","prompt":"Code.\u001b]0;T\u0007\n\tTests."})");
  Exchange shown = app.exchange({"role", "show", "Dev"}, Script::reply(reply), o);
  EXPECT_EQ(shown.run.out, "Rolle Dev:\nCode.\\x1b]0;T\\x07\n\tTests.\n");
  o.stdout_mode = Stdout::kPipe;
  EXPECT_EQ(app.exchange({"role", "show", "Dev"}, Script::reply(reply), o).run.out,
            "Rolle Dev:\nCode.\x1b]0;T\x07\n\tTests.\n");
}
