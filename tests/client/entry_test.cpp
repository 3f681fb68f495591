// Command entry: help words, the socket check, unknown words, the request
// envelope and the unwrapping of the reply.

#include <gtest/gtest.h>

#include "client_run.h"
#include "fake_app.h"
#include "help_text.h"

using namespace harness;

namespace {

RunResult run_with(const std::vector<std::string>& args, Env env = {}) {
  RunOptions o;
  o.env = std::move(env);
  return run_client(args, o);
}

constexpr const char* kOnlyInside = "welkmora: only available inside Welkmora terminals (WELKMORA_SOCKET not set).\n";

}  // namespace

TEST(Help, WordsPrintTheHelpWithoutEnvironment) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{}, {"help"}, {"-h"}, {"--help"}, {"help", "list", "extra"}}) {
    RunResult r = run_with(args);
    EXPECT_EQ(r.out, kHelpText);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Help, NearMissesAreUnknownWords) {
  FakeApp app;
  for (std::string word : {"Help", "HELP", "-help", "---help", "", " help"}) {
    Exchange x = app.exchange({word}, "{\"ok\":true}\n");
    EXPECT_EQ(x.run.err, "welkmora: unknown command: " + word + "\n");
    EXPECT_EQ(x.run.out, kHelpText);
    EXPECT_EQ(x.run.status, 1);
    EXPECT_FALSE(x.connected);

    RunResult outside = run_with({word});
    EXPECT_EQ(outside.err, kOnlyInside);
    EXPECT_EQ(outside.out, "");
    EXPECT_EQ(outside.status, 1);
  }
}

TEST(Environment, MissingEmptyOrNonUtf8SocketIsRefused) {
  for (Env env : {Env{}, Env{{"WELKMORA_SOCKET", ""}}, Env{{"WELKMORA_SOCKET", "/tmp/\xff"}}}) {
    for (std::string word : {"list", "debug", "bogus", "check"}) {
      RunResult r = run_with({word}, env);
      EXPECT_EQ(r.err, kOnlyInside) << word;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.status, 1);
    }
  }
}

TEST(Environment, UnsetIdAndTokenAreSentAsEmptyStrings) {
  FakeApp app;
  RunOptions o;
  o.env = {{"WELKMORA_SOCKET", app.socket_path()}, {"WELKMORA_TOKEN", "\xfe"}};
  Exchange x = app.exchange({"list"}, Script::reply("{\"ok\":true}\n"), o);
  EXPECT_EQ(x.request, R"({"command":"list","terminalId":"","token":""})"
                       "\n");
  EXPECT_EQ(x.run.status, 0);
}

TEST(Environment, ValuesAreSentVerbatim) {
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  o.env["WELKMORA_TERMINAL_ID"] = " Dev \"1\"\n";
  o.env["WELKMORA_TOKEN"] = "ü\\";
  Exchange x = app.exchange({"list"}, Script::reply("{\"ok\":true}\n"), o);
  EXPECT_EQ(x.request, R"({"command":"list","terminalId":" Dev \"1\"\n","token":"ü\\"})"
                       "\n");
}

TEST(Arguments, NonUtf8IsRefusedBeforeSending) {
  FakeApp app;
  Exchange x = app.exchange({"check", "D\xffv"}, "{\"ok\":true}\n");
  EXPECT_EQ(x.run.err, "welkmora: argument 2 is not valid UTF-8\n");
  EXPECT_EQ(x.run.out, "");
  EXPECT_EQ(x.run.status, 1);
  EXPECT_FALSE(x.connected);
}

TEST(Unwrap, AcceptsOnlyTheLiteralTrue) {
  FakeApp app;
  // A bare ok hands null to the renderer.
  Exchange accepted = app.exchange({"list"}, "{\"ok\":true}\n");
  EXPECT_EQ(accepted.run.out, "Keine anderen Agenten verbunden.\n");
  EXPECT_EQ(accepted.run.status, 0);

  struct Case {
    const char* reply;
    const char* err;
  } cases[] = {
      {R"({"ok":false,"error":"Kein Peer: Dev"})", "welkmora: Kein Peer: Dev\n"},
      {R"({"ok":"true","result":{"agents":[{"name":"A"}]}})", "welkmora: unknown error\n"},
      {R"({"ok":1,"error":"eins"})", "welkmora: eins\n"},
      {R"({"ok":false,"error":42})", "welkmora: unknown error\n"},
      {R"({"ok":false,"error":{"text":"x"}})", "welkmora: unknown error\n"},
      {R"({"error":"no ok"})", "welkmora: no ok\n"},
      {R"([{"ok":true}])", "welkmora: unknown error\n"},
      {R"("ok")", "welkmora: unknown error\n"},
      {"null", "welkmora: unknown error\n"},
      {R"({"ok":false,"error":"zwei\nZeilen"})", "welkmora: zwei\nZeilen\n"},
  };
  for (const Case& c : cases) {
    Exchange x = app.exchange({"list"}, std::string(c.reply) + "\n");
    EXPECT_EQ(x.run.err, c.err) << c.reply;
    EXPECT_EQ(x.run.out, "") << c.reply;
    EXPECT_EQ(x.run.status, 1) << c.reply;
  }
}

TEST(Output, BrokenOrClosedStdoutEndsWithStatusOne) {
  FakeApp app;
  const std::string reply = R"({"ok":true,"result":{"agents":[{"name":"A"}]}})"
                            "\n";
  for (Stdout mode : {Stdout::kBrokenPipe, Stdout::kClosed}) {
    RunOptions o;
    o.env = app.env();
    o.stdout_mode = mode;
    Exchange x = app.exchange({"list"}, Script::reply(reply), o);
    EXPECT_EQ(x.run.signal, 0);
    EXPECT_EQ(x.run.status, 1);
  }
  RunOptions help;
  help.stdout_mode = Stdout::kBrokenPipe;
  RunResult r = run_client({"help"}, help);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
}
