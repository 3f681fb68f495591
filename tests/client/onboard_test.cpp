// `onboard`: the English summary, its peer block, and that it prints the
// whole text and status 0 whatever the environment or the app does.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "client_run.h"
#include "exchange_checks.h"
#include "fake_app.h"
#include "replies.h"

using namespace harness;

namespace {

constexpr const char* kNoneYet =
    "  (none yet — you are not roped to anyone. Ask the user to connect you, or 'welkmora recruit' a teammate.)";

/// The onboarding text for `identity` with `peers` as its peer block.
std::string onboarding(const std::string& identity, const std::string& peers) {
  return "You are \"" + identity +
         "\", an agent in WelkMora — a canvas where AI agents collaborate.\n"
         "Visibility is topology-gated: you only see and reach peers connected to you by a rope on the canvas.\n"
         "\n"
         "Connected peers:\n" +
         peers +
         "\n"
         "\n"
         "What you can do:\n"
         "  Talk    welkmora list                       — list your connected peers (names are exact; quote them)\n"
         "          welkmora check \"Name\"               — peek at a peer's recent screen without prompting it\n"
         "          welkmora ask \"Name\" \"prompt\"        — send a prompt and wait for the answer\n"
         "  Notes   welkmora note list | read | write   — shared sticky notes; read before you write\n"
         "  Team    welkmora recruit \"Codename\" --command claude   — spawn a new connected agent\n"
         "\n"
         "Start by running `welkmora list`. Run `welkmora help` for the full command list, or load the "
         "`welkmora` skill for the rules.\n";
}

/// Column (1-based, one per code point) at which `needle` starts in `line`.
std::size_t column_of(const std::string& line, const std::string& needle) {
  std::size_t at = line.find(needle);
  if (at == std::string::npos) return 0;
  std::size_t column = 1;
  for (std::size_t i = 0; i < at; ++i) column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
  return column;
}

/// Runs onboard against `app` with `env` and the reply `line`.
Exchange onboard_with(FakeApp& app, Env env, const std::string& line, std::vector<std::string> extra = {}) {
  RunOptions o;
  o.env = std::move(env);
  std::vector<std::string> args{"onboard"};
  args.insert(args.end(), extra.begin(), extra.end());
  return app.exchange(args, Script::reply(line), o);
}

}  // namespace

TEST(Onboard, TextLayout) {
  // The reference text itself: fourteen lines and the columns of the
  // command table, so a slip in either copy shows.
  std::string text = onboarding("T1", kNoneYet);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[12], "");
  for (std::size_t i = 7; i <= 11; ++i) {
    EXPECT_EQ(column_of(lines[i], "welkmora"), 11u) << lines[i];
    EXPECT_EQ(column_of(lines[i], "— "), i == 11 ? 58u : 47u) << lines[i];
  }
  EXPECT_EQ(column_of(lines[7], "Talk"), 3u);
  EXPECT_EQ(column_of(lines[10], "Notes"), 3u);
  EXPECT_EQ(column_of(lines[11], "Team"), 3u);
  EXPECT_NE(lines[11].find("claude   — spawn"), std::string::npos);
}

TEST(Onboard, PeerBlockFromTheListReply) {
  FakeApp app;
  struct Case {
    const char* result;
    std::string peers;
  } cases[] = {
      {R"({"agents":[{"name":"A"},{"name":"B"}],"notes":[{"name":"N1","connected":true},{"name":"N2","connected":false},{"name":"N3"}]})",
       "  - \"A\" (terminal)\n  - \"B\" (terminal)\n  - \"N1\" (note)"},
      {R"({"agents":[],"notes":[{"name":"N1","connected":false},{"name":"N2","connected":"true"}]})", kNoneYet},
      {R"({"notes":[{"name":"Plan","connected":true}]})", "  - \"Plan\" (note)"},
      {R"({"agents":[{"name":7},{},"x",{"name":"Sa\"m"}],"notes":[{"connected":true}]})",
       "  - \"?\" (terminal)\n  - \"?\" (terminal)\n  - \"?\" (terminal)\n  - \"Sa\"m\" (terminal)\n  - \"?\" (note)"},
      {R"({"agents":{"name":"A"},"notes":"N"})", kNoneYet},
      {"null", kNoneYet},
      {"[1]", kNoneYet},
  };
  for (const Case& c : cases) {
    Exchange x = onboard_with(app, app.env(), ok_result(c.result));
    EXPECT_EQ(x.request, R"({"command":"list","terminalId":"T1","token":"tok"})"
                         "\n");
    EXPECT_EQ(x.run.out, onboarding("T1", c.peers)) << c.result;
    EXPECT_EQ(x.run.err, "");
    EXPECT_EQ(x.run.status, 0);
  }
}

TEST(Onboard, IdentityFallsBackToThisTerminal) {
  FakeApp app;
  for (const char* id : {"", "\xc3"}) {
    Env env = app.env();
    env["WELKMORA_TERMINAL_ID"] = id;
    env.erase("WELKMORA_TOKEN");
    Exchange x = onboard_with(app, env, ok_result(R"({"agents":[{"name":"A"}]})"));
    EXPECT_EQ(x.request, R"({"command":"list","terminalId":"this terminal","token":""})"
                         "\n");
    EXPECT_EQ(x.run.out, onboarding("this terminal", "  - \"A\" (terminal)"));
    EXPECT_EQ(x.run.err, "");
    EXPECT_EQ(x.run.status, 0);
  }
}

TEST(Onboard, WithoutSocketNothingIsAttempted) {
  FakeApp app;
  const std::string peers_reply = ok_result(R"({"agents":[{"name":"A"}]})");
  for (Env env : {Env{}, Env{{"WELKMORA_TERMINAL_ID", "T9"}, {"WELKMORA_TOKEN", "tok"}},
                  Env{{"WELKMORA_SOCKET", ""}, {"WELKMORA_TERMINAL_ID", "T9"}},
                  Env{{"WELKMORA_SOCKET", "\xff"}, {"WELKMORA_TERMINAL_ID", "T9"}}}) {
    Exchange x = onboard_with(app, env, peers_reply);
    EXPECT_FALSE(x.connected);
    std::string identity = env.count("WELKMORA_TERMINAL_ID") ? "T9" : "this terminal";
    EXPECT_EQ(x.run.out, onboarding(identity, kNoneYet));
    EXPECT_EQ(x.run.err, "");
    EXPECT_EQ(x.run.status, 0);
  }
}

TEST(Onboard, EveryFailureIsSilent) {
  FakeApp app;
  const std::string expected = onboarding("T1", kNoneYet);
  for (const char* reply : {R"({"ok":false,"error":"Token ungültig"})"
                            "\n",
                            R"({"error":"kein ok"})"
                            "\n",
                            R"({"ok":"true","result":{"agents":[{"name":"A"}]}})"
                            "\n",
                            "nicht json\n", "", "\xff\n"}) {
    Exchange x = onboard_with(app, app.env(), reply);
    EXPECT_TRUE(x.connected);
    expect_printed(x, expected, reply);
  }

  // Paths where nothing listens: missing, a plain file, too long for a socket.
  std::string file = app.dir() + "/plain";
  std::ofstream(file) << "x";
  for (std::string path : {app.dir() + "/missing.sock", file, "/" + std::string(200, 'p')}) {
    Env env = app.env();
    env["WELKMORA_SOCKET"] = path;
    Exchange x = onboard_with(app, env, ok_result("null"));
    EXPECT_FALSE(x.connected);
    expect_printed(x, expected, path);
  }
}

TEST(Onboard, OperandsChangeNothing) {
  FakeApp app;
  const std::string reply = ok_result(R"({"agents":[{"name":"A"}]})");
  Exchange plain = onboard_with(app, app.env(), reply);
  Exchange extra = onboard_with(app, app.env(), reply, {"--help", "list", "\xff"});
  EXPECT_EQ(extra.request, plain.request);
  EXPECT_EQ(extra.run.out, plain.run.out);
  EXPECT_EQ(extra.run.err, "");
  EXPECT_EQ(extra.run.status, 0);
}
