// Requests straight to the host's socket: malformed ones of every kind get
// a clear refusal, never a crash or a hang, and no client holds up another.

#include <gtest/gtest.h>

#include <thread>

#include "host_fixtures.h"
#include "host_process.h"
#include "raw_client.h"
#include "utf8.h"

using namespace harness;
using wire::Json;

namespace {

using Raw = RawClient;

class HostProtocol : public HostWithLead {
 protected:
  /// The reply to `line`, as sent on a fresh connection that is then closed
  /// for sending.
  std::string exchange(const std::string& line) {
    Raw raw(host.socket_path());
    raw.send(line);
    raw.close_sending();
    return raw.receive_all();
  }

  /// `members` with Lead's credentials, as one line.
  std::string as_lead(Json members) {
    members["terminalId"] = lead.at("WELKMORA_TERMINAL_ID");
    members["token"] = lead.at("WELKMORA_TOKEN");
    return wire::to_wire(members) + "\n";
  }

  static std::string refusal(const std::string& error) {
    return wire::to_wire(Json{{"ok", false}, {"error", error}}) + "\n";
  }
};

}  // namespace

TEST_F(HostProtocol, NotJsonOrNotAnObject) {
  for (std::string line : {"hello\n", "\n", "{\"command\":\n", "{} {}\n", "\xff\xfe\n", "\"\xff\"\n"}) {
    std::string reply = exchange(line);
    ASSERT_TRUE(utf8::is_valid_utf8(reply)) << line;
    wire::Parsed parsed = wire::parse_json(reply);
    ASSERT_TRUE(parsed.ok()) << reply;
    EXPECT_EQ((*parsed)["ok"], false);
    EXPECT_EQ((*parsed)["error"].get<std::string>().rfind("request is not valid JSON: ", 0), 0u) << reply;
    EXPECT_EQ(reply.back(), '\n');
    EXPECT_EQ(reply.find('\n'), reply.size() - 1);
  }
  EXPECT_EQ(exchange("{\"command\":\"debug\"} x\n"),
            refusal("request is not valid JSON: trailing characters at line 1 column 21"));
  for (std::string line : {"[]\n", "5\n", "null\n", "\"list\"\n"}) {
    EXPECT_EQ(exchange(line), refusal("request must be a JSON object")) << line;
  }
  std::string deep = std::string(200, '[') + std::string(200, ']') + "\n";
  EXPECT_EQ(exchange(deep), refusal("request is not valid JSON: recursion limit exceeded at line 1 column 128"));
}

TEST_F(HostProtocol, EnvelopeMembers) {
  EXPECT_EQ(exchange("{}\n"), refusal("missing member: command"));
  EXPECT_EQ(exchange("{\"command\":5}\n"), refusal("member command must be a string"));
  EXPECT_EQ(exchange("{\"command\":\"bogus\"}\n"), refusal("unknown command: bogus"));
  EXPECT_EQ(exchange("{\"command\":\"List\"}\n"), refusal("unknown command: List"));
  EXPECT_EQ(exchange("{\"command\":\"list\"}\n"), refusal("missing member: terminalId"));
  EXPECT_EQ(exchange("{\"command\":\"list\",\"terminalId\":\"Lead\"}\n"), refusal("missing member: token"));
  EXPECT_EQ(exchange("{\"command\":\"list\",\"terminalId\":1,\"token\":\"t\"}\n"),
            refusal("member terminalId must be a string"));
  EXPECT_EQ(exchange("{\"command\":\"join\"}\n"), refusal("missing member: name"));
  EXPECT_EQ(exchange("{\"command\":\"join\",\"name\":[]}\n"), refusal("member name must be a string"));
}

TEST_F(HostProtocol, CommandMembers) {
  struct Case {
    Json request;
    const char* error;
  } cases[] = {
      {{{"command", "check"}}, "missing member: target"},
      {{{"command", "check"}, {"target", nullptr}}, "member target must be a string"},
      {{{"command", "connect"}, {"from", "Lead"}}, "missing member: to"},
      {{{"command", "dismiss"}}, "missing member: name"},
      {{{"command", "recruit"}}, "missing member: name"},
      {{{"command", "recruit"}, {"name", "X"}, {"role", true}}, "member role must be a string"},
      {{{"command", "ask"}, {"target", "X"}}, "missing member: prompt"},
      {{{"command", "ask"}, {"batch", "{}"}}, "member batch must be an object"},
      {{{"command", "ask"}, {"target", "X"}, {"prompt", "hi"}}, "no such peer: X"},
      {{{"command", "ask"}, {"target", "X"}, {"prompt", 1}}, "member prompt must be a string"},
      {{{"command", "role"}}, "missing member: sub"},
      {{{"command", "role"}, {"sub", "rename"}}, "unknown role subcommand: rename"},
      {{{"command", "role"}, {"sub", "create"}, {"name", "R"}}, "missing member: prompt"},
      {{{"command", "role"}, {"sub", "show"}}, "missing member: name"},
      {{{"command", "role"}, {"sub", "edit"}, {"name", "R"}, {"old", "a"}}, "missing member: new"},
      {{{"command", "role"}, {"sub", "assign"}}, "missing member: recruit"},
      {{{"command", "preset"}, {"sub", 1}}, "member sub must be a string"},
      {{{"command", "note"}, {"sub", "List"}}, "unknown note subcommand: List"},
      {{{"command", "note"}, {"sub", "read"}}, "missing member: name"},
      {{{"command", "note"}, {"sub", "create"}, {"content", 5}}, "member content must be a string"},
      {{{"command", "note"}, {"sub", "edit"}, {"name", "N"}, {"old", "a"}}, "missing member: new"},
  };
  for (const Case& c : cases) EXPECT_EQ(exchange(as_lead(c.request)), refusal(c.error)) << c.request;
  // Unknown extra members are ignored.
  EXPECT_EQ(exchange(as_lead({{"command", "list"}, {"extra", {1, 2}}})),
            "{\"ok\":true,\"result\":{\"agents\":[],\"notes\":[]}}\n");
}

TEST_F(HostProtocol, Framing) {
  std::string list = as_lead({{"command", "list"}});
  std::string listed = "{\"ok\":true,\"result\":{\"agents\":[],\"notes\":[]}}\n";
  // Carriage return before the line feed; no line feed before the end of input.
  EXPECT_EQ(exchange(list.substr(0, list.size() - 1) + "\r\n"), listed);
  EXPECT_EQ(exchange(list.substr(0, list.size() - 1)), listed);
  // One request per connection: what follows the first line is not read.
  EXPECT_EQ(exchange(list + as_lead({{"command", "debug"}})), listed);
  // The answer comes on the line feed, while the client still holds its side open.
  Raw raw(host.socket_path());
  raw.send(list);
  EXPECT_EQ(raw.receive_all(), listed);
  // A connection that sends nothing and closes gets nothing.
  EXPECT_EQ(exchange(""), "");
}

TEST_F(HostProtocol, RequestTooLarge) {
  Raw raw(host.socket_path());
  std::string chunk(1 << 20, ' ');
  bool taken = true;
  for (int i = 0; i < 33 && taken; ++i) taken = raw.send(chunk);  // 33 MiB of white space, no line feed
  EXPECT_EQ(raw.receive_all(), refusal("request too large"));
  // A large request below the limit is served.
  std::string big = std::string(20 << 20, ' ') + as_lead({{"command", "debug"}});
  EXPECT_EQ(exchange(big), "{\"ok\":true,\"result\":{\"authenticated\":true,\"host\":\"welkmora-host\"}}\n");
}

TEST_F(HostProtocol, NoClientHoldsUpAnother) {
  // A client that has sent half a request, and one that sends nothing.
  Raw half(host.socket_path());
  half.send("{\"command\":");
  Raw silent(host.socket_path());
  // Many clients at once, all answered while the two above wait.
  std::vector<std::unique_ptr<Raw>> many;
  for (int i = 0; i < 50; ++i) {
    many.push_back(std::make_unique<Raw>(host.socket_path()));
    many.back()->send(as_lead({{"command", "note"}, {"sub", "create"}, {"name", "n" + std::to_string(i)}}));
  }
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(many[i]->receive_all(), "{\"ok\":true,\"result\":{\"name\":\"n" + std::to_string(i) + "\"}}\n");
  }
  EXPECT_TRUE(half.quiet_for(std::chrono::milliseconds(50)));
  half.send("\"debug\"}\n");
  EXPECT_EQ(half.receive_all(), "{\"ok\":true,\"result\":{\"authenticated\":false,\"host\":\"welkmora-host\"}}\n");
  EXPECT_EQ(host.result(lead, {{"command", "note"}, {"sub", "list"}})["notes"].size(), 50u);
}

TEST_F(HostProtocol, ClientsThatLeaveEarly) {
  for (int i = 0; i < 20; ++i) {
    Raw gone(host.socket_path());
    gone.send(as_lead({{"command", "list"}}));
  }  // closed before reading the reply
  for (int i = 0; i < 20; ++i) {
    Raw gone(host.socket_path());
    gone.send("{\"comm");
  }
  EXPECT_EQ(host.client(lead, {"list"}).out, "Keine anderen Agenten verbunden.\n");
}
