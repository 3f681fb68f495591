// The exchange with the app: framing, reply assembly, parse failures and
// the system error texts, seen from both ends of the socket.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>

#include "client_run.h"
#include "fake_app.h"
#include "os_error.h"

using namespace harness;
using namespace std::chrono_literals;

namespace {

constexpr const char* kCheckDev = R"({"command":"check","target":"Dev","terminalId":"T1","token":"tok"})"
                                  "\n";

Exchange check_dev(FakeApp& app, Script script) {
  RunOptions o;
  o.env = app.env();
  return app.exchange({"check", "Dev"}, script, o);
}

RunResult run_at(const std::string& socket, const std::vector<std::string>& args) {
  RunOptions o;
  o.env = {{"WELKMORA_SOCKET", socket}};
  return run_client(args, o);
}

/// A listening socket at `path` (relative paths work from the test's cwd).
os::UniqueFd listen_at(const std::string& path) {
  os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), len), 0) << path;
  EXPECT_EQ(::listen(fd.get(), 4), 0);
  return fd;
}

}  // namespace

TEST(Framing, RequestIsOneCompactLineInKeyOrder) {
  FakeApp app;
  Exchange x = check_dev(app, Script::reply(R"({"ok":true,"result":{"output":"hi"}})"
                                            "\n"));
  EXPECT_EQ(x.request, kCheckDev);
  EXPECT_EQ(x.run.out, "hi\n");
  EXPECT_EQ(x.run.status, 0);
}

TEST(Framing, EscapedTextStaysOnOneLine) {
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  Exchange x = app.exchange({"check", "a\"b\\c\td\ne\x1b/\x7fü"}, Script::reply("{\"ok\":true}\n"), o);
  EXPECT_EQ(x.request,
            "{\"command\":\"check\",\"target\":\"a\\\"b\\\\c\\td\\ne\\u001b/"
            "\x7fü\",\"terminalId\":\"T1\",\"token\":\"tok\"}\n");
}

TEST(Framing, ReplyShapesThatParseNormally) {
  FakeApp app;
  const std::string body = R"({"ok":true,"result":{"output":"hi"}})";
  std::string big(100000, 'x');
  std::vector<Script> scripts = {
      Script::reply(body),                                                                 // no line feed, then close
      Script::reply(body + "\r\n"),                                                        // CRLF
      Script::reply(body + "\n{\"ok\":false}\ngarbage \xff"),                              // data after the line feed
      Script{{"{\"ok\":", "true,\"res", "ult\":{\"output\":\"hi\"}}", "\n"}, 30ms, true},  // in chunks
  };
  for (const Script& s : scripts) {
    Exchange x = check_dev(app, s);
    EXPECT_EQ(x.run.out, "hi\n");
    EXPECT_EQ(x.run.err, "");
    EXPECT_EQ(x.run.status, 0);
    EXPECT_EQ(x.request, kCheckDev);
  }
  Exchange large = check_dev(app, Script::reply(R"({"ok":true,"result":{"output":")" + big + "\"}}\n"));
  EXPECT_EQ(large.run.out, big + "\n");
}

TEST(Framing, ReplyKeysComeOutInByteOrder) {
  FakeApp app;
  Exchange x = app.exchange(
      {"list"}, R"({"result":{"notes":[{"name":"Z"},{"name":"A"}],"agents":[{"name":"b"},{"name":"a"}]},"ok":true})"
                "\n");
  EXPECT_EQ(x.run.out, "Verbundene Agenten:\n  - b\n  - a\nNotizen:\n  - Z\n  - A\n");
}

TEST(BadReply, ParseFailuresAreReported) {
  FakeApp app;
  std::string deep_ok = std::string(126, '[') + std::string(126, ']');  // with the envelope: 127 levels
  struct Case {
    std::string reply;
    std::string err;
  } cases[] = {
      {"", "welkmora: connection failed: bad response: EOF while parsing a value at line 1 column 0\n"},
      {"{\"ok\":true} {\"ok\":true}\n",
       "welkmora: connection failed: bad response: trailing characters at line 1 column 13\n"},
      {"{\"ok\":true,\"result\":" + std::string(127, '[') + std::string(127, ']') + "}\n",
       "welkmora: connection failed: bad response: recursion limit exceeded at line 1 column 147\n"},
      {"{\"ok\":true,\"result\":\"\xff\"}\n", "welkmora: connection failed: stream did not contain valid UTF-8\n"},
      {"{\"ok\":true,\"result\":1e400}\n",
       "welkmora: connection failed: bad response: number out of range at line 1 column 25\n"},
  };
  for (const Case& c : cases) {
    Exchange x = check_dev(app, Script::reply(c.reply));
    EXPECT_EQ(x.run.err, c.err) << c.reply;
    EXPECT_EQ(x.run.out, "");
    EXPECT_EQ(x.run.status, 1);
  }
  // 127 levels in all (the envelope is the first) still parse.
  Exchange ok = check_dev(app, Script::reply("{\"ok\":true,\"result\":" + deep_ok + "}\n"));
  EXPECT_EQ(ok.run.status, 0);
  EXPECT_EQ(ok.run.out, "(keine Ausgabe)\n");
}

TEST(BadReply, NulAndByteOrderMarkAreNoWhiteSpace) {
  FakeApp app;
  const std::string prefix = "welkmora: connection failed: bad response: ";
  const std::string body = R"({"ok":true,"result":{"agents":[{"name":"A"}]}})";
  struct Case {
    std::string reply;
    std::string problem;
  } cases[] = {
      {body + std::string("\0", 1) + "more\n", "trailing characters at line 1 column 47"},
      {body + std::string(" \0\n", 3), "trailing characters at line 1 column 48"},
      {R"({"ok":true,"result":{"output":"a)" + std::string("\0", 1) + "b\"}}\n",
       "syntax error while parsing value - invalid string: control character U+0000 (NUL) must be escaped to "
       "\\u0000; last read: '\"a<U+0000>' at line 1 column 33"},
      {R"({"ok":true,"result":[1,)" + std::string("\0", 1) + "]}\n", "unexpected NUL byte at line 1 column 24"},
      {"\xEF\xBB\xBF" + body + "\n", "unexpected byte order mark at line 1 column 1"},
  };
  for (const Case& c : cases) {
    Exchange x = app.exchange({"list"}, c.reply);
    EXPECT_EQ(x.run.err, prefix + c.problem + "\n");
    EXPECT_EQ(x.run.out, "");
    EXPECT_EQ(x.run.status, 1);
  }
}

TEST(BadReply, AppClosingWithoutReadingIsAConnectionFailure) {
  FakeApp app;
  Script s;
  s.read_request = false;
  Exchange x = check_dev(app, s);
  EXPECT_EQ(x.run.signal, 0);
  EXPECT_EQ(x.run.status, 1);
  EXPECT_EQ(x.run.err.rfind("welkmora: connection failed: ", 0), 0u) << x.run.err;
  EXPECT_EQ(x.run.out, "");
}

TEST(Connect, SystemErrorTexts) {
  FakeApp app;
  std::string missing = app.dir() + "/nothing";
  RunResult r = run_at(missing, {"list"});
  EXPECT_EQ(r.err, "welkmora: connection failed: " + os::error_text(ENOENT) + "\n");
  EXPECT_EQ(r.status, 1);

  std::string file = app.dir() + "/plain";
  std::ofstream(file) << "x";
  r = run_at(file, {"list"});
  EXPECT_EQ(r.err, "welkmora: connection failed: " + os::error_text(ECONNREFUSED) + "\n");

  // A socket file nobody listens on any more.
  std::string stale = app.dir() + "/stale.sock";
  { os::UniqueFd gone = listen_at(stale); }
  r = run_at(stale, {"list"});
  EXPECT_EQ(r.err, "welkmora: connection failed: " + os::error_text(ECONNREFUSED) + "\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Connect, PathLengthLimitIs108Bytes) {
  FakeApp app;
  // Relative to a directory we create, so the path length is exactly ours.
  std::string base = app.dir() + "/";
  std::string name108 = std::string(108 - 2, 's') + "08";
  ASSERT_EQ(::chdir(app.dir().c_str()), 0);
  os::UniqueFd listener = listen_at(name108);
  std::thread server([&] {
    os::UniqueFd c(::accept(listener.get(), nullptr, nullptr));
    char buf[512];
    std::string got;
    while (got.find('\n') == std::string::npos) {
      ssize_t n = ::recv(c.get(), buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    ::send(c.get(), "{\"ok\":true}\n", 12, MSG_NOSIGNAL);
  });
  RunResult ok = run_at(name108, {"list"});
  server.join();
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "Keine anderen Agenten verbunden.\n");

  RunResult too_long = run_at(name108 + "x", {"list"});
  EXPECT_EQ(too_long.err,
            "welkmora: connection failed: local socket name length exceeds capacity of sun_path of sockaddr_un\n");
  EXPECT_EQ(too_long.status, 1);
  ASSERT_EQ(::chdir("/"), 0);
}
