// The real client against a real host: who may ask what. Credentials come
// from `welkmora-host join`, or from the environment a recruit was given;
// visibility follows the ropes.

#include <gtest/gtest.h>

#include "host_fixtures.h"
#include "host_process.h"
#include "run_checks.h"

using namespace harness;
using wire::Json;

namespace {

class HostAccess : public HostFixture {
 protected:
  Env recruit(const Env& env, const std::string& name) { return host.recruit(env, name); }

  RunResult connect(const Env& env, const std::string& from, const std::string& to) {
    return host.client(env, {"connect", from, to});
  }
};

}  // namespace

TEST_F(HostAccess, JoinPrintsTheThreeVariables) {
  Env lead = host.join("Lead");
  EXPECT_EQ(lead.size(), 3u);
  EXPECT_EQ(lead.at("WELKMORA_SOCKET"), host.socket_path());
  EXPECT_EQ(lead.at("WELKMORA_TERMINAL_ID"), "Lead");
  EXPECT_EQ(lead.at("WELKMORA_TOKEN").size(), 32u);
  EXPECT_EQ(lead.at("WELKMORA_TOKEN").find_first_not_of("0123456789abcdef"), std::string::npos);

  // A taken name gets a suffix, and a token of its own.
  Env second = host.join("Lead");
  EXPECT_EQ(second.at("WELKMORA_TERMINAL_ID"), "Lead-2");
  EXPECT_NE(second.at("WELKMORA_TOKEN"), lead.at("WELKMORA_TOKEN"));

  RunResult quoted = run_host({"join", "it's", "--socket", host.socket_path()});
  EXPECT_EQ(quoted.status, 0);
  EXPECT_NE(quoted.out.find("export WELKMORA_TERMINAL_ID='it'\\''s'\n"), std::string::npos) << quoted.out;
  EXPECT_EQ(quoted.err, "welkmora-host: joined as it's\n");

  RunResult bad = run_host({"join", "two\nlines", "--socket", host.socket_path()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "welkmora-host: name must not contain control characters\n");

  RunResult nobody = run_host({"join", "X", "--socket", host.dir() + "/none.sock"});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("cannot connect to " + host.dir() + "/none.sock"), std::string::npos) << nobody.err;
}

TEST_F(HostAccess, WrongCredentialsAreRefused) {
  Env lead = host.join("Lead");
  for (auto [id, token] : std::vector<std::pair<std::string, std::string>>{{"Lead", "0123456789abcdef0123456789abcdef"},
                                                                           {"Lead", ""},
                                                                           {"Nobody", lead.at("WELKMORA_TOKEN")},
                                                                           {"", ""},
                                                                           {"this terminal", ""}}) {
    Env env = lead;
    env["WELKMORA_TERMINAL_ID"] = id;
    env["WELKMORA_TOKEN"] = token;
    RunResult r = host.client(env, {"list"});
    EXPECT_EQ(r.err, "welkmora: unknown terminal or token\n") << id << " " << token;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 1);
  }
  RunResult ok = host.client(lead, {"list"});
  EXPECT_EQ(ok.out, "Keine anderen Agenten verbunden.\n");
  EXPECT_EQ(ok.status, 0);
}

TEST_F(HostAccess, RecruitsGetTheirOwnCredentials) {
  Env lead = host.join("Lead");
  Env dev = recruit(lead, "Dev");
  EXPECT_EQ(dev.at("WELKMORA_SOCKET"), host.socket_path());
  EXPECT_EQ(dev.at("WELKMORA_TERMINAL_ID"), "Dev");
  EXPECT_EQ(dev.at("WELKMORA_TOKEN").size(), 32u);
  EXPECT_NE(dev.at("WELKMORA_TOKEN"), lead.at("WELKMORA_TOKEN"));
  EXPECT_FALSE(dev.contains("WELKMORA_ROLE"));

  // The recruit is roped to its recruiter, both ways.
  EXPECT_EQ(host.client(dev, {"list"}).out, "Verbundene Agenten:\n  - Lead\n");
  EXPECT_EQ(host.client(lead, {"list"}).out, "Verbundene Agenten:\n  - Dev\n");

  // Once dismissed, its token opens nothing any more.
  EXPECT_TRUE(printed(host.client(lead, {"dismiss", "Dev"}), "Entlassen: Dev\n"));
  EXPECT_EQ(host.client(dev, {"list"}).err, "welkmora: unknown terminal or token\n");
  EXPECT_EQ(host.client(lead, {"list"}).out, "Keine anderen Agenten verbunden.\n");
}

TEST_F(HostAccess, VisibilityFollowsTheRopes) {
  Env lead = host.join("Lead");
  Env other = host.join("Other");
  recruit(lead, "Dev");

  // The unroped terminal sees nobody and may not look at Dev.
  EXPECT_EQ(host.client(other, {"list"}).out, "Keine anderen Agenten verbunden.\n");
  RunResult peek = host.client(other, {"check", "Dev"});
  EXPECT_EQ(peek.err, "welkmora: no such peer: Dev\n");
  EXPECT_EQ(peek.out, "");
  EXPECT_EQ(peek.status, 1);
  // An unknown name reads the same, so a stranger's existence is not given away.
  EXPECT_EQ(host.client(other, {"check", "Nobody"}).err, "welkmora: no such peer: Nobody\n");
  // Nobody is its own peer.
  EXPECT_EQ(host.client(lead, {"check", "Lead"}).err, "welkmora: no such peer: Lead\n");
  // Dismissing and re-roling reach only peers too.
  EXPECT_TRUE(refused(host.client(other, {"dismiss", "Dev"}), "no such peer: Dev"));
  EXPECT_TRUE(refused(host.client(other, {"role", "assign", "Dev", "--none"}), "no such peer: Dev"));
  EXPECT_TRUE(refused(host.client(lead, {"dismiss", "Lead"}), "cannot dismiss yourself: Lead"));
  EXPECT_EQ(host.result(lead, {{"command", "check"}, {"target", "Dev"}})["state"], "running");

  // A joined shell has no screen the host could show.
  Env dev = recruit(lead, "Dev2");
  RunResult joined = host.client(dev, {"check", "Lead"});
  EXPECT_EQ(joined.err, "welkmora: no screen of a joined shell: Lead\n");
}

TEST_F(HostAccess, ConnectOnlyWithinReach) {
  Env lead = host.join("Lead");
  Env other = host.join("Other");
  Env a = recruit(lead, "A");
  Env b = recruit(lead, "B");
  recruit(other, "X");

  // Two peers of the caller may be introduced to each other; again is no
  // error, and the reply says whether the rope is new.
  EXPECT_EQ(host.request(lead, {{"command", "connect"}, {"from", "A"}, {"to", "B"}}),
            Json({{"ok", true}, {"result", {{"from", "A"}, {"to", "B"}, {"created", true}}}}));
  EXPECT_TRUE(printed(connect(lead, "B", "A"), "Verbunden: B <-> A\n"));
  EXPECT_EQ(host.request(lead, {{"command", "connect"}, {"from", "B"}, {"to", "A"}}),
            Json({{"ok", true}, {"result", {{"from", "B"}, {"to", "A"}, {"created", false}}}}));
  EXPECT_EQ(host.result(lead, {{"command", "connect"}, {"from", "Lead"}, {"to", "A"}})["created"], false);
  EXPECT_TRUE(printed(host.client(a, {"list"}), "Verbundene Agenten:\n  - B\n  - Lead\n"));

  // A stranger may not be reached from either side, nor two strangers joined.
  EXPECT_TRUE(refused(connect(lead, "Lead", "X"), "no such item: X"));
  EXPECT_TRUE(refused(connect(lead, "X", "A"), "no such item: X"));
  EXPECT_TRUE(refused(connect(lead, "Other", "X"), "no such item: Other"));
  EXPECT_TRUE(refused(connect(lead, "Lead", "Nowhere"), "no such item: Nowhere"));
  EXPECT_TRUE(refused(connect(lead, "A", "A"), "cannot rope an item to itself: A"));
  // B knows Lead and A now, but still not Other's recruit.
  EXPECT_TRUE(refused(connect(b, "A", "X"), "no such item: X"));
  EXPECT_TRUE(printed(host.client(other, {"list"}), "Verbundene Agenten:\n  - X\n"));
  EXPECT_TRUE(printed(host.client(b, {"list"}), "Verbundene Agenten:\n  - A\n  - Lead\n"));
}

TEST_F(HostAccess, DebugAnswersForAnyone) {
  Env lead = host.join("Lead");
  EXPECT_EQ(host.request(lead, {{"command", "debug"}}),
            Json({{"ok", true}, {"result", {{"host", "welkmora-host"}, {"authenticated", true}}}}));
  Env stranger = lead;
  stranger["WELKMORA_TOKEN"] = "wrong";
  EXPECT_EQ(host.request(stranger, {{"command", "debug"}})["result"]["authenticated"], false);
  EXPECT_EQ(host.send_line(R"({"command":"debug"})"),
            R"({"ok":true,"result":{"authenticated":false,"host":"welkmora-host"}})");
}
