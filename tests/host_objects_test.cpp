// Notes, roles and presets on a real host: every operation round trip, and
// which notes a terminal may touch.

#include <gtest/gtest.h>

#include "host_process.h"

using namespace harness;
using wire::Json;

namespace {

class HostObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    host.start();
    lead = host.join("Lead");
    other = host.join("Other");
  }
  void TearDown() override { EXPECT_EQ(host.stop(), 0) << host.error_output(); }

  Json note(const Env& env, Json members) {
    members["command"] = "note";
    return host.request(env, std::move(members));
  }
  Json role(Json members) {
    members["command"] = "role";
    return host.request(lead, std::move(members));
  }
  static Json ok(Json result) { return {{"ok", true}, {"result", std::move(result)}}; }
  static Json refused(const std::string& error) { return {{"ok", false}, {"error", error}}; }

  HostProcess host;
  Env lead, other;
};

}  // namespace

TEST_F(HostObjects, NoteRoundTrip) {
  EXPECT_EQ(note(lead, {{"sub", "create"}, {"name", "Plan"}, {"content", "one\ntwo\nthree\n"}}), ok({{"name", "Plan"}}));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "Plan"}}),
            ok({{"name", "Plan"}, {"content", "one\ntwo\nthree\n"}, {"lines", 3}}));

  EXPECT_EQ(note(lead, {{"sub", "write"}, {"name", "Plan"}, {"content", "alpha beta alpha"}}), ok({{"name", "Plan"}}));
  EXPECT_EQ(note(lead, {{"sub", "edit"}, {"name", "Plan"}, {"old", "alpha"}, {"new", "gamma"}}), ok({{"name", "Plan"}}));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "Plan"}})["result"]["content"], "gamma beta alpha");
  EXPECT_EQ(note(lead, {{"sub", "edit"}, {"name", "Plan"}, {"old", "delta"}, {"new", "x"}}),
            refused("text not found in note: Plan"));
  EXPECT_EQ(note(lead, {{"sub", "edit"}, {"name", "Plan"}, {"old", ""}, {"new", "x"}}), refused("old text must not be empty"));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "Plan"}})["result"]["content"], "gamma beta alpha");

  EXPECT_EQ(note(lead, {{"sub", "create"}, {"name", "Plan"}}), refused("note already exists: Plan"));
  EXPECT_EQ(note(lead, {{"sub", "delete"}, {"name", "Plan"}}), ok({{"name", "Plan"}}));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "Plan"}}), refused("no such note: Plan"));
  EXPECT_EQ(note(lead, {{"sub", "write"}, {"name", "Plan"}, {"content", "x"}}), refused("no such note: Plan"));
  EXPECT_EQ(note(lead, {{"sub", "list"}}), ok({{"notes", Json::array()}}));
}

TEST_F(HostObjects, NoteReadCountsLines) {
  note(lead, {{"sub", "create"}, {"name", "N"}, {"content", "l0\nl1\nl2\nl3"}});
  auto read = [&](Json flags) {
    flags["sub"] = "read";
    flags["name"] = "N";
    return note(lead, flags)["result"]["content"];
  };
  EXPECT_EQ(read({{"offset", 1}, {"limit", 2}}), "l1\nl2\n");
  EXPECT_EQ(read({{"offset", 3}}), "l3");
  EXPECT_EQ(read({{"limit", 1}}), "l0\n");
  EXPECT_EQ(read({{"limit", 0}}), "");
  EXPECT_EQ(read({{"offset", 4}}), "");
  EXPECT_EQ(read({{"offset", 18446744073709551615ull}, {"limit", 18446744073709551615ull}}), "");
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "N"}, {"offset", -1}}), refused("member offset must be an unsigned integer"));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "N"}, {"limit", 1.5}}), refused("member limit must be an unsigned integer"));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "N"}, {"limit", "2"}}), refused("member limit must be an unsigned integer"));
}

TEST_F(HostObjects, NotesWithoutNameOrContent) {
  EXPECT_EQ(note(lead, {{"sub", "create"}}), ok({{"name", "note-1"}}));
  EXPECT_EQ(note(lead, {{"sub", "create"}, {"content", "x"}}), ok({{"name", "note-2"}}));
  note(lead, {{"sub", "delete"}, {"name", "note-1"}});
  EXPECT_EQ(note(lead, {{"sub", "create"}}), ok({{"name", "note-1"}}));
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "note-1"}})["result"]["content"], "");
  EXPECT_EQ(note(lead, {{"sub", "create"}, {"name", ""}}), refused("note name must not be empty"));
  EXPECT_EQ(note(lead, {{"sub", "write"}, {"name", "note-1"}}), refused("missing member: content"));
}

TEST_F(HostObjects, NotesReachOnlyTheirRopes) {
  note(lead, {{"sub", "create"}, {"name", "Mine"}, {"content", "secret"}});
  note(other, {{"sub", "create"}, {"name", "Theirs"}});

  // Everyone sees every note's name, marked when it is roped to them.
  EXPECT_EQ(note(other, {{"sub", "list"}}),
            ok({{"notes", {{{"name", "Mine"}, {"connected", false}}, {{"name", "Theirs"}, {"connected", true}}}}}));
  RunResult listed = host.client(lead, {"list"});
  EXPECT_EQ(listed.out, "Keine anderen Agenten verbunden.\nNotizen:\n  - Mine (verbunden)\n  - Theirs\n");

  for (const char* sub : {"read", "write", "edit", "delete"}) {
    Json r = note(other, {{"sub", sub}, {"name", "Mine"}, {"content", "x"}, {"old", "s"}, {"new", "t"}});
    EXPECT_EQ(r, refused("note not roped to you: Mine")) << sub;
  }
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "Mine"}})["result"]["content"], "secret");
  // A note out of reach cannot be roped to oneself either.
  EXPECT_EQ(host.request(other, {{"command", "connect"}, {"from", "Other"}, {"to", "Mine"}})["error"],
            "note not roped to you: Mine");

  // Lead ropes its note to a recruit, which may then read it; dismissing
  // the recruit cuts that rope, so a new recruit of that name may not.
  Env dev = host.recruit(lead, "Dev");
  EXPECT_EQ(note(dev, {{"sub", "read"}, {"name", "Mine"}}), refused("note not roped to you: Mine"));
  host.result(lead, {{"command", "connect"}, {"from", "Mine"}, {"to", "Dev"}});
  EXPECT_EQ(note(dev, {{"sub", "read"}, {"name", "Mine"}})["result"]["content"], "secret");
  EXPECT_EQ(host.client(dev, {"list"}).out, "Verbundene Agenten:\n  - Lead\nNotizen:\n  - Mine (verbunden)\n  - Theirs\n");
  host.result(lead, {{"command", "dismiss"}, {"name", "Dev"}});
  Env again = host.recruit(lead, "Dev");
  EXPECT_EQ(again.at("WELKMORA_TERMINAL_ID"), "Dev");
  EXPECT_EQ(note(again, {{"sub", "read"}, {"name", "Mine"}}), refused("note not roped to you: Mine"));

  // Deleting a note takes its ropes along; a new note of that name starts unroped.
  note(lead, {{"sub", "delete"}, {"name", "Mine"}});
  note(other, {{"sub", "create"}, {"name", "Mine"}});
  EXPECT_EQ(note(lead, {{"sub", "read"}, {"name", "Mine"}}), refused("note not roped to you: Mine"));
}

TEST_F(HostObjects, RoleRoundTrip) {
  EXPECT_EQ(role({{"sub", "list"}}), ok({{"roles", Json::array()}}));
  EXPECT_EQ(role({{"sub", "create"}, {"name", "Dev"}, {"prompt", "Write code. Write tests."}}), ok({{"name", "Dev"}}));
  EXPECT_EQ(role({{"sub", "create"}, {"name", "Dev"}, {"prompt", "again"}}), refused("role already exists: Dev"));
  EXPECT_EQ(role({{"sub", "create"}, {"name", "Arch"}, {"prompt", ""}}), ok({{"name", "Arch"}}));
  EXPECT_EQ(role({{"sub", "list"}}), ok({{"roles", {{{"name", "Arch"}}, {{"name", "Dev"}}}}}));
  EXPECT_EQ(role({{"sub", "show"}, {"name", "Dev"}}), ok({{"name", "Dev"}, {"prompt", "Write code. Write tests."}}));

  EXPECT_EQ(role({{"sub", "edit"}, {"name", "Dev"}, {"old", "Write"}, {"new", "Read"}}), ok({{"name", "Dev"}}));
  EXPECT_EQ(role({{"sub", "show"}, {"name", "Dev"}})["result"]["prompt"], "Read code. Write tests.");
  EXPECT_EQ(role({{"sub", "edit"}, {"name", "Dev"}, {"old", "nothing"}, {"new", "x"}}), refused("text not found in role: Dev"));
  EXPECT_EQ(role({{"sub", "write"}, {"name", "Dev"}, {"prompt", "New."}}), ok({{"name", "Dev"}}));
  EXPECT_EQ(role({{"sub", "show"}, {"name", "Dev"}})["result"]["prompt"], "New.");
  EXPECT_EQ(role({{"sub", "write"}, {"name", "Nope"}, {"prompt", "x"}}), refused("no such role: Nope"));

  EXPECT_EQ(role({{"sub", "delete"}, {"name", "Arch"}}), ok({{"name", "Arch"}}));
  EXPECT_EQ(role({{"sub", "delete"}, {"name", "Arch"}}), refused("no such role: Arch"));
  EXPECT_EQ(role({{"sub", "show"}, {"name", "Arch"}}), refused("no such role: Arch"));
  EXPECT_EQ(role({{"sub", "list"}}), ok({{"roles", {{{"name", "Dev"}}}}}));
}

TEST_F(HostObjects, RoleAssign) {
  role({{"sub", "create"}, {"name", "Dev"}, {"prompt", "p"}});
  host.result(lead, {{"command", "recruit"}, {"name", "R"}, {"cmd", "sleep 600"}});
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}, {"role", "Dev"}}), ok({{"recruit", "R"}, {"role", "Dev"}}));
  EXPECT_EQ(host.result(lead, {{"command", "list"}})["agents"][0]["role"], "Dev");
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}, {"none", true}}), ok({{"recruit", "R"}, {"role", nullptr}}));
  EXPECT_FALSE(host.result(lead, {{"command", "list"}})["agents"][0].contains("role"));

  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}, {"role", ""}}), refused("no such role: "));
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}, {"role", "Nope"}}), refused("no such role: Nope"));
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}}), refused("missing member: role"));
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}, {"role", "Dev"}, {"none", true}}),
            refused("give either role or none, not both"));
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "R"}, {"none", "yes"}}), refused("member none must be a boolean"));
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "Nobody"}, {"role", "Dev"}}), refused("no such peer: Nobody"));
  // A terminal may re-role itself.
  EXPECT_EQ(role({{"sub", "assign"}, {"recruit", "Lead"}, {"role", "Dev"}}), ok({{"recruit", "Lead"}, {"role", "Dev"}}));
}

TEST_F(HostObjects, PresetsOffersTheShell) {
  EXPECT_EQ(host.request(lead, {{"command", "preset"}, {"sub", "list"}}),
            ok({{"presets", {{{"name", "Shell"}, {"command", ""}}}}}));
  EXPECT_EQ(host.request(lead, {{"command", "preset"}, {"sub", "show"}}), refused("unknown preset subcommand: show"));
}
