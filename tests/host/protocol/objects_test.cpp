// Notes, roles and presets on a real host through the real client: every
// operation round trip, and which notes a terminal may touch. Reply members
// the client does not show, and malformed requests it never sends, are
// checked on the socket directly.

#include <gtest/gtest.h>

#include "host_fixtures.h"
#include "host_process.h"
#include "run_checks.h"

using namespace harness;
using wire::Json;

namespace {

class HostObjects : public HostWithLead {
 protected:
  void SetUp() override {
    HostWithLead::SetUp();
    other = host.join("Other");
  }

  RunResult run(const Env& env, const std::vector<std::string>& args) { return host.client(env, args); }

  Json raw_note(const Env& env, Json members) {
    members["command"] = "note";
    return host.request(env, std::move(members));
  }
  Json raw_role(Json members) {
    members["command"] = "role";
    return host.request(lead, std::move(members));
  }
  static Json ok(Json result) { return {{"ok", true}, {"result", std::move(result)}}; }
  static Json refusal(const std::string& error) { return {{"ok", false}, {"error", error}}; }

  Env other;
};

}  // namespace

TEST_F(HostObjects, NoteRoundTrip) {
  EXPECT_TRUE(printed(run(lead, {"note", "create", "Plan", "one\ntwo\nthree\n"}), "Notiz angelegt: Plan\n"));
  EXPECT_TRUE(printed(run(lead, {"note", "read", "Plan"}), "one\ntwo\nthree\n"));
  // The reply also counts the lines, which the client does not show.
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "Plan"}}),
            ok({{"name", "Plan"}, {"content", "one\ntwo\nthree\n"}, {"lines", 3}}));

  EXPECT_TRUE(printed(run(lead, {"note", "write", "Plan", "alpha beta alpha\n"}), "Notiz aktualisiert: Plan\n"));
  EXPECT_TRUE(printed(run(lead, {"note", "edit", "Plan", "alpha", "gamma"}), "Notiz aktualisiert: Plan\n"));
  EXPECT_TRUE(printed(run(lead, {"note", "read", "Plan"}), "gamma beta alpha\n"));
  EXPECT_TRUE(refused(run(lead, {"note", "edit", "Plan", "delta", "x"}), "text not found in note: Plan"));
  EXPECT_TRUE(refused(run(lead, {"note", "edit", "Plan", "", "x"}), "old text must not be empty"));
  EXPECT_TRUE(printed(run(lead, {"note", "read", "Plan"}), "gamma beta alpha\n"));
  // Content from standard input is kept as it stands.
  EXPECT_TRUE(printed(host.client(lead, {"note", "write", "Plan"}, Stdin::bytes("piped, no line feed")),
                      "Notiz aktualisiert: Plan\n"));
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "Plan"}})["result"]["content"], "piped, no line feed");

  EXPECT_TRUE(refused(run(lead, {"note", "create", "Plan", "x"}), "note already exists: Plan"));
  EXPECT_TRUE(printed(run(lead, {"note", "delete", "Plan"}), "Notiz gelöscht: Plan\n"));
  EXPECT_TRUE(refused(run(lead, {"note", "read", "Plan"}), "no such note: Plan"));
  EXPECT_TRUE(refused(run(lead, {"note", "write", "Plan", "x"}), "no such note: Plan"));
  EXPECT_TRUE(refused(run(lead, {"note", "delete", "Plan"}), "no such note: Plan"));
  EXPECT_TRUE(printed(run(lead, {"note", "list"}), "Keine Notizen vorhanden.\n"));
  EXPECT_EQ(raw_note(lead, {{"sub", "list"}}), ok({{"notes", Json::array()}}));
}

TEST_F(HostObjects, NoteReadCountsLines) {
  run(lead, {"note", "create", "N", "l0\nl1\nl2\nl3\n"});
  auto read = [&](std::vector<std::string> flags) {
    std::vector<std::string> args = {"note", "read", "N"};
    args.insert(args.end(), flags.begin(), flags.end());
    return run(lead, args);
  };
  EXPECT_TRUE(printed(read({"--offset", "1", "--limit", "2"}), "l1\nl2\n"));
  EXPECT_TRUE(printed(read({"--offset", "3"}), "l3\n"));
  EXPECT_TRUE(printed(read({"--limit", "1"}), "l0\n"));
  EXPECT_TRUE(printed(read({"--limit", "0"}), "(leere Notiz)\n"));
  EXPECT_TRUE(printed(read({"--offset", "4"}), "(leere Notiz)\n"));
  EXPECT_TRUE(
      printed(read({"--offset", "18446744073709551615", "--limit", "18446744073709551615"}), "(leere Notiz)\n"));

  // A last line without its line feed comes back without one.
  auto raw_read = [&](Json flags) {
    flags["sub"] = "read";
    flags["name"] = "M";
    return raw_note(lead, flags)["result"]["content"];
  };
  run(lead, {"note", "create", "M", "l0\nl1\nl2\nl3"});
  EXPECT_EQ(raw_read({{"offset", 3}}), "l3");
  EXPECT_EQ(raw_read({{"offset", 1}, {"limit", 2}}), "l1\nl2\n");
  EXPECT_EQ(raw_read({{"limit", 0}}), "");
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "M"}})["result"]["lines"], 4);
  // Values the client would not send.
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "N"}, {"offset", -1}}),
            refusal("member offset must be an unsigned integer"));
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "N"}, {"limit", 1.5}}),
            refusal("member limit must be an unsigned integer"));
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "N"}, {"limit", "2"}}),
            refusal("member limit must be an unsigned integer"));
}

TEST_F(HostObjects, NotesWithoutNameOrContent) {
  EXPECT_TRUE(printed(run(lead, {"note", "create"}), "Notiz angelegt: note-1\n"));
  EXPECT_TRUE(printed(host.client(lead, {"note", "create"}, Stdin::bytes("x")), "Notiz angelegt: note-2\n"));
  EXPECT_TRUE(printed(run(lead, {"note", "delete", "note-1"}), "Notiz gelöscht: note-1\n"));
  EXPECT_TRUE(printed(run(lead, {"note", "create"}), "Notiz angelegt: note-1\n"));
  EXPECT_TRUE(printed(run(lead, {"note", "read", "note-1"}), "(leere Notiz)\n"));
  EXPECT_EQ(raw_note(lead, {{"sub", "read"}, {"name", "note-1"}})["result"]["content"], "");
  EXPECT_TRUE(printed(run(lead, {"note", "read", "note-2"}), "x\n"));
  EXPECT_TRUE(refused(run(lead, {"note", "create", ""}), "note name must not be empty"));
  EXPECT_EQ(raw_note(lead, {{"sub", "write"}, {"name", "note-1"}}), refusal("missing member: content"));
}

TEST_F(HostObjects, NotesReachOnlyTheirRopes) {
  run(lead, {"note", "create", "Mine", "secret"});
  run(other, {"note", "create", "Theirs"});

  // Everyone sees every note's name, marked when it is roped to them.
  EXPECT_EQ(raw_note(other, {{"sub", "list"}}),
            ok({{"notes", {{{"name", "Mine"}, {"connected", false}}, {{"name", "Theirs"}, {"connected", true}}}}}));
  EXPECT_TRUE(printed(run(other, {"note", "list"}), "Notizen:\n  - Mine\n  - Theirs\n"));
  EXPECT_TRUE(
      printed(run(lead, {"list"}), "Keine anderen Agenten verbunden.\nNotizen:\n  - Mine (verbunden)\n  - Theirs\n"));

  const std::vector<std::vector<std::string>> touches = {{"note", "read", "Mine"},
                                                         {"note", "write", "Mine", "x"},
                                                         {"note", "edit", "Mine", "s", "t"},
                                                         {"note", "delete", "Mine"}};
  for (const auto& touch : touches) EXPECT_TRUE(refused(run(other, touch), "note not roped to you: Mine")) << touch[1];
  EXPECT_TRUE(printed(run(lead, {"note", "read", "Mine"}), "secret\n"));
  // A note out of reach cannot be roped to oneself either.
  EXPECT_TRUE(refused(run(other, {"connect", "Other", "Mine"}), "note not roped to you: Mine"));

  // Lead ropes its note to a recruit, which may then read it; dismissing
  // the recruit cuts that rope, so a new recruit of that name may not.
  Env dev = host.recruit(lead, "Dev");
  EXPECT_TRUE(refused(run(dev, {"note", "read", "Mine"}), "note not roped to you: Mine"));
  EXPECT_TRUE(printed(run(lead, {"connect", "Mine", "Dev"}), "Verbunden: Mine <-> Dev\n"));
  EXPECT_TRUE(printed(run(dev, {"note", "read", "Mine"}), "secret\n"));
  EXPECT_TRUE(
      printed(run(dev, {"list"}), "Verbundene Agenten:\n  - Lead\nNotizen:\n  - Mine (verbunden)\n  - Theirs\n"));
  EXPECT_TRUE(printed(run(lead, {"dismiss", "Dev"}), "Entlassen: Dev\n"));
  Env again = host.recruit(lead, "Dev");
  EXPECT_EQ(again.at("WELKMORA_TERMINAL_ID"), "Dev");
  EXPECT_TRUE(refused(run(again, {"note", "read", "Mine"}), "note not roped to you: Mine"));

  // Deleting a note takes its ropes along; a new note of that name starts unroped.
  run(lead, {"note", "delete", "Mine"});
  run(other, {"note", "create", "Mine"});
  EXPECT_TRUE(refused(run(lead, {"note", "read", "Mine"}), "note not roped to you: Mine"));
}

TEST_F(HostObjects, RoleRoundTrip) {
  EXPECT_TRUE(printed(run(lead, {"role", "list"}), "Keine Rollen definiert.\n"));
  EXPECT_EQ(raw_role({{"sub", "list"}}), ok({{"roles", Json::array()}}));
  EXPECT_TRUE(printed(run(lead, {"role", "create", "Dev", "Write code. Write tests."}), "Rolle angelegt: Dev\n"));
  EXPECT_TRUE(refused(run(lead, {"role", "create", "Dev", "again"}), "role already exists: Dev"));
  EXPECT_TRUE(printed(run(other, {"role", "create", "Arch", ""}), "Rolle angelegt: Arch\n"));
  EXPECT_TRUE(printed(run(other, {"role", "list"}), "Verfügbare Rollen:\n  - Arch\n  - Dev\n"));
  EXPECT_EQ(raw_role({{"sub", "list"}}), ok({{"roles", {{{"name", "Arch"}}, {{"name", "Dev"}}}}}));
  EXPECT_TRUE(printed(run(lead, {"role", "show", "Dev"}), "Rolle Dev:\nWrite code. Write tests.\n"));
  EXPECT_EQ(raw_role({{"sub", "show"}, {"name", "Dev"}}),
            ok({{"name", "Dev"}, {"prompt", "Write code. Write tests."}}));

  EXPECT_TRUE(printed(run(lead, {"role", "edit", "Dev", "Write", "Read"}), "Rolle aktualisiert: Dev\n"));
  EXPECT_TRUE(printed(run(lead, {"role", "show", "Dev"}), "Rolle Dev:\nRead code. Write tests.\n"));
  EXPECT_TRUE(refused(run(lead, {"role", "edit", "Dev", "nothing", "x"}), "text not found in role: Dev"));
  EXPECT_TRUE(printed(run(lead, {"role", "write", "Dev", "New."}), "Rolle aktualisiert: Dev\n"));
  EXPECT_TRUE(printed(run(other, {"role", "show", "Dev"}), "Rolle Dev:\nNew.\n"));
  EXPECT_TRUE(refused(run(lead, {"role", "write", "Nope", "x"}), "no such role: Nope"));

  EXPECT_TRUE(printed(run(lead, {"role", "delete", "Arch"}), "Rolle gelöscht: Arch\n"));
  EXPECT_TRUE(refused(run(lead, {"role", "delete", "Arch"}), "no such role: Arch"));
  EXPECT_TRUE(refused(run(lead, {"role", "show", "Arch"}), "no such role: Arch"));
  EXPECT_TRUE(printed(run(lead, {"role", "list"}), "Verfügbare Rollen:\n  - Dev\n"));
}

TEST_F(HostObjects, RoleAssign) {
  run(lead, {"role", "create", "Dev", "p"});
  host.recruit(lead, "R");
  EXPECT_TRUE(printed(run(lead, {"role", "assign", "R", "Dev"}), "Recruit umgerollt: R\n"));
  EXPECT_EQ(host.result(lead, {{"command", "list"}})["agents"][0]["role"], "Dev");
  EXPECT_TRUE(printed(run(lead, {"role", "assign", "R", "--none"}), "Recruit umgerollt: R\n"));
  EXPECT_FALSE(host.result(lead, {{"command", "list"}})["agents"][0].contains("role"));
  // The reply names the role given, or null for none.
  EXPECT_EQ(raw_role({{"sub", "assign"}, {"recruit", "R"}, {"role", "Dev"}}), ok({{"recruit", "R"}, {"role", "Dev"}}));
  EXPECT_EQ(raw_role({{"sub", "assign"}, {"recruit", "R"}, {"none", true}}), ok({{"recruit", "R"}, {"role", nullptr}}));

  EXPECT_TRUE(refused(run(lead, {"role", "assign", "R", ""}), "no such role: "));
  EXPECT_TRUE(refused(run(lead, {"role", "assign", "R", "Nope"}), "no such role: Nope"));
  EXPECT_TRUE(refused(run(lead, {"role", "assign", "Nobody", "Dev"}), "no such peer: Nobody"));
  EXPECT_EQ(raw_role({{"sub", "assign"}, {"recruit", "R"}}), refusal("missing member: role"));
  EXPECT_EQ(raw_role({{"sub", "assign"}, {"recruit", "R"}, {"role", "Dev"}, {"none", true}}),
            refusal("give either role or none, not both"));
  EXPECT_EQ(raw_role({{"sub", "assign"}, {"recruit", "R"}, {"none", "yes"}}), refusal("member none must be a boolean"));
  // A terminal may re-role itself.
  EXPECT_TRUE(printed(run(lead, {"role", "assign", "Lead", "Dev"}), "Recruit umgerollt: Lead\n"));
}

TEST_F(HostObjects, PresetsOfferTheShell) {
  EXPECT_TRUE(printed(run(lead, {"preset", "list"}), "Verfügbare Presets:\n  - Shell\n"));
  EXPECT_EQ(host.request(lead, {{"command", "preset"}, {"sub", "list"}}),
            ok({{"presets", {{{"name", "Shell"}, {"command", ""}}}}}));
  EXPECT_EQ(host.request(lead, {{"command", "preset"}, {"sub", "show"}}), refusal("unknown preset subcommand: show"));
}
