// `debug`: the five-line report around one exchange, for paths that exist,
// do not, or lead nowhere, and for replies that parse or do not.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "exchange_checks.h"
#include "fake_app.h"

using namespace harness;

namespace {

/// The first four lines and the label of the fifth.
std::string head(const std::string& id, const std::string& socket, bool exists) {
  return "=== Welkmora CLI Diagnostics ===\n\n"
         "Terminal ID:   " +
         id +
         "\n"
         "Socket:        " +
         socket +
         "\n"
         "Socket exists: " +
         (exists ? "yes (unix socket)" : "NO") +
         "\n"
         "Connection:    ";
}

std::string os_error(int err) { return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")"; }

/// Runs debug with `socket` as the socket path in app's environment.
Exchange debug_at(FakeApp& app, const std::string& socket, const std::string& reply = "{\"ok\":true}\n") {
  RunOptions o;
  o.env = app.env();
  o.env["WELKMORA_SOCKET"] = socket;
  return app.exchange({"debug"}, Script::reply(reply), o);
}

}  // namespace

TEST(Debug, ReachableAppIsOk) {
  FakeApp app;
  Exchange x = app.exchange({"debug", "ignored", "--help"}, "{\"ok\":true}\n");
  EXPECT_EQ(x.request, R"({"command":"debug","terminalId":"T1","token":"tok"})"
                       "\n");
  EXPECT_EQ(x.run.out, head("T1", app.socket_path(), true) + "OK\n\n");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);
}

TEST(Debug, AnyReplyThatParsesIsOk) {
  FakeApp app;
  for (const char* reply : {R"({"ok":false,"error":"Token ungültig"})", R"({"ok":"yes"})", "[]", "null", "42"}) {
    expect_printed(app.exchange({"debug"}, std::string(reply) + "\n"), head("T1", app.socket_path(), true) + "OK\n\n",
                   reply);
  }
}

TEST(Debug, BadReplyFailsOnStandardOutput) {
  FakeApp app;
  struct Case {
    const char* reply;
    const char* error;
  } cases[] = {
      {"kaputt\n",
       "bad response: syntax error while parsing value - invalid literal; last read: 'k' at line 1 column 1"},
      {"", "bad response: EOF while parsing a value at line 1 column 0"},
      {"{} {}\n", "bad response: trailing characters at line 1 column 4"},
      {"\"\xff\"\n", "stream did not contain valid UTF-8"},
  };
  for (const Case& c : cases) {
    Exchange x = app.exchange({"debug"}, c.reply);
    EXPECT_EQ(x.run.out, head("T1", app.socket_path(), true) + "FAILED (" + c.error + ")\n") << c.reply;
    EXPECT_EQ(x.run.err, "") << c.reply;
    EXPECT_EQ(x.run.status, 1) << c.reply;
  }
}

TEST(Debug, PathsThatLeadNowhere) {
  FakeApp app;
  const std::string missing = app.dir() + "/missing.sock";
  const std::string dangling = app.dir() + "/dangling.sock";
  const std::string file = app.dir() + "/plain";
  const std::string to_app = app.dir() + "/link.sock";
  ASSERT_EQ(::symlink(missing.c_str(), dangling.c_str()), 0);
  ASSERT_EQ(::symlink(app.socket_path().c_str(), to_app.c_str()), 0);
  std::ofstream(file) << "kein Socket";

  for (const std::string& path : {missing, dangling}) {
    Exchange x = debug_at(app, path);
    EXPECT_EQ(x.run.out, head("T1", path, false) + "FAILED (" + os_error(ENOENT) + ")\n") << path;
    EXPECT_EQ(x.run.err, "");
    EXPECT_EQ(x.run.status, 1);
  }

  Exchange plain = debug_at(app, file);
  EXPECT_EQ(plain.run.out, head("T1", file, true) + "FAILED (" + os_error(ECONNREFUSED) + ")\n");
  EXPECT_EQ(plain.run.err, "");
  EXPECT_EQ(plain.run.status, 1);

  // A link to the live socket is followed both for the check and the connect.
  Exchange linked = debug_at(app, to_app);
  EXPECT_EQ(linked.run.out, head("T1", to_app, true) + "OK\n\n");
  EXPECT_EQ(linked.run.status, 0);

  const std::string too_long = "/" + std::string(200, 'p');
  Exchange long_path = debug_at(app, too_long);
  EXPECT_EQ(long_path.run.out, head("T1", too_long, false) +
                                   "FAILED (local socket name length exceeds capacity of sun_path of sockaddr_un)\n");
  EXPECT_EQ(long_path.run.status, 1);
}

TEST(Debug, TerminalIdAndToken) {
  FakeApp app;
  for (const char* id : {"", "\xe2\x82"}) {
    RunOptions o;
    o.env = app.env();
    o.env["WELKMORA_TERMINAL_ID"] = id;
    o.env["WELKMORA_TOKEN"] = "geheim-123";
    Exchange x = app.exchange({"debug"}, Script::reply("{\"ok\":true}\n"), o);
    EXPECT_EQ(x.request, R"({"command":"debug","terminalId":"","token":"geheim-123"})"
                         "\n");
    EXPECT_EQ(x.run.out, head("<none>", app.socket_path(), true) + "OK\n\n");
    EXPECT_EQ(x.run.out.find("geheim"), std::string::npos);
    EXPECT_EQ(x.run.status, 0);
  }
}
