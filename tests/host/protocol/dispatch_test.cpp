// The dispatcher without a socket: every input, however mangled, gets one
// well-formed reply, a refused change leaves the canvas as it was, and
// neither a read nor an undone change copies the canvas.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "alloc_count.h"
#include "host_fixtures.h"
#include "protocol/dispatcher.h"
#include "results.h"
#include "store/state_file.h"
#include "utf8.h"

using namespace host;
using harness::ok;

namespace {

class HostDispatch : public harness::DispatcherFixture {
 protected:
  /// Joins `name` and returns the credentials as envelope members.
  Json join(const std::string& name) {
    Json r = dispatcher.answer(wire::to_wire(Json{{"command", "join"}, {"name", name}}));
    return {{"terminalId", r["result"]["name"]}, {"token", r["result"]["token"]}};
  }
};

/// True when `reply` is {"ok":true,"result":...} or {"ok":false,"error":"..."}
/// and writes as valid UTF-8.
::testing::AssertionResult well_formed(const Json& reply) {
  if (!reply.is_object() || !reply.contains("ok") || !reply["ok"].is_boolean()) {
    return ::testing::AssertionFailure() << reply.dump();
  }
  bool ok = reply["ok"];
  if (ok ? (!reply.contains("result") || reply.size() != 2) : (!reply["error"].is_string() || reply.size() != 2)) {
    return ::testing::AssertionFailure() << reply.dump();
  }
  if (!utf8::is_valid_utf8(reply_text(reply))) return ::testing::AssertionFailure() << "invalid UTF-8";
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(HostDispatch, EveryInputGetsOneWellFormedReply) {
  Json lead = join("Lead");
  const char* commands[] = {"list",   "check", "ask",   "connect", "dismiss", "role",
                            "preset", "note",  "debug", "join",    "x"};
  const char* keys[] = {"sub",    "name",  "target", "prompt", "batch",   "from", "to",   "content",
                        "offset", "limit", "old",    "new",    "recruit", "role", "none", "preset"};
  const char* subs[] = {"list", "create", "read", "write", "edit", "delete", "show", "assign", "", "LIST"};
  const Json values[] = {nullptr,
                         true,
                         false,
                         0,
                         -1,
                         1.5,
                         18446744073709551615ull,
                         "",
                         "Lead",
                         "note-1",
                         "x\ny",
                         "\xc3\xa4",
                         Json::array(),
                         Json::object(),
                         Json::array({1, "a"}),
                         Json{{"Lead", "hi"}}};
  std::mt19937 rng(12345);
  auto pick = [&](auto& array) -> auto& { return array[rng() % std::size(array)]; };
  int answered = 0;
  for (int i = 0; i < 3000; ++i) {
    Json request = lead;
    request["command"] = pick(commands);
    if (rng() % 2) request["sub"] = pick(subs);
    for (int k = static_cast<int>(rng() % 5); k > 0; --k) request[pick(keys)] = pick(values);
    if (rng() % 10 == 0) request["token"] = pick(values);
    std::string line = wire::to_wire(request);
    if (rng() % 8 == 0) line.insert(rng() % (line.size() + 1), 1, static_cast<char>(rng() % 256));
    if (rng() % 8 == 0) line.resize(rng() % (line.size() + 1));
    Json reply = dispatcher.answer(line);
    ASSERT_TRUE(well_formed(reply)) << line;
    ++answered;
  }
  EXPECT_EQ(answered, 3000);
}

TEST_F(HostDispatch, RefusedRequestsChangeNothing) {
  Json lead = join("Lead");
  auto ask = [&](Json members) {
    members.update(lead);
    return dispatcher.answer(wire::to_wire(members));
  };
  ask({{"command", "note"}, {"sub", "create"}, {"name", "N"}, {"content", "abc"}});
  ask({{"command", "role"}, {"sub", "create"}, {"name", "R"}, {"prompt", "p"}});
  Snapshot before = canvas.snapshot();
  EXPECT_EQ(ask({{"command", "note"}, {"sub", "edit"}, {"name", "N"}, {"old", "zzz"}, {"new", "y"}})["ok"], false);
  EXPECT_EQ(ask({{"command", "note"}, {"sub", "create"}, {"name", "N"}})["ok"], false);
  EXPECT_EQ(ask({{"command", "role"}, {"sub", "create"}, {"name", "R"}, {"prompt", "other"}})["ok"], false);
  EXPECT_EQ(ask({{"command", "connect"}, {"from", "N"}, {"to", "Nowhere"}})["ok"], false);
  EXPECT_EQ(ask({{"command", "recruit"}, {"name", "X"}, {"role", "Nope"}})["ok"], false);
  EXPECT_EQ(canvas.snapshot(), before);
  EXPECT_EQ(canvas.free_terminal_name("X"), "X");
}

TEST_F(HostDispatch, ErrorsQuoteOnlyAWindowOfTheBadInput) {
  // A megabyte of bad token, a command and a name: the reply stays short.
  std::string huge(1 << 20, 'x');
  Json check = {{"command", "check"}, {"target", huge}};
  check.update(join("Lead"));
  for (const std::string& line :
       {"{\"command\":\"" + huge, wire::to_wire(Json{{"command", huge}}), wire::to_wire(check)}) {
    Json reply = dispatcher.answer(line);
    ASSERT_TRUE(well_formed(reply));
    EXPECT_LE(reply["error"].get<std::string>().size(), kMaxErrorBytes + 3) << reply.dump().substr(0, 200);
  }
}

TEST_F(HostDispatch, ThePersonsRequestsNeedASenderThatCanBeExamined) {
  // No process behind the request, or one that has ended since it
  // connected: not the person.
  for (Client client : {Client{0, nullptr, nullptr}, Client{::getpid(), nullptr, nullptr, 1}}) {
    Json reply;
    client.respond = [&](const Json& r) { reply = r; };
    dispatcher.handle(R"({"command":"ls"})", client);
    EXPECT_EQ(reply["ok"], false) << reply;
  }
}

TEST_F(HostDispatch, JoinedShellsAreTerminalsWithoutAScreen) {
  Json lead = join("Lead");
  Json second = join("Lead");
  EXPECT_EQ(second["terminalId"], "Lead-2");
  EXPECT_NE(second["token"], lead["token"]);
  const TerminalEntry* entry = canvas.terminal("Lead");
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->joined);
  EXPECT_EQ(entry->token.size(), 32u);
  EXPECT_FALSE(terminals.has_processes());
}

TEST_F(HostDispatch, NulBytesEndNeitherRequestsNorNames) {
  Json lead = join("Lead");
  auto ask = [&](Json members) {
    members.update(lead);
    return dispatcher.answer(wire::to_wire(members));
  };
  // A NUL byte after the request is trailing text like any other.
  Json request = {{"command", "list"}};
  request.update(lead);
  std::string list = wire::to_wire(request);
  for (const std::string& tail : {std::string("\0garbage", 8), std::string(1, '\0')}) {
    Json reply = dispatcher.answer(list + tail);
    EXPECT_EQ(reply["ok"], false);
    EXPECT_EQ(reply["error"].get<std::string>().rfind("request is not valid JSON: ", 0), 0u) << reply;
  }
  std::string name("Bob\0x", 5);
  EXPECT_EQ(ask({{"command", "check"}, {"target", name}})["error"], "no such peer: " + name);
  EXPECT_EQ(ask({{"command", "note"}, {"sub", "read"}, {"name", name}})["error"], "no such note: " + name);
  EXPECT_EQ(ask({{"command", "ask"}, {"batch", {{name, "hi"}}}})["result"]["results"][0]["error"],
            "no such peer: " + name);
}

TEST(HostDispatchCost, ReadsCopyNothingAndAChangeCopiesLittle) {
  std::string dir = (std::filesystem::temp_directory_path() / "welkmora-cost-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  Canvas canvas;
  Reactor reactor;
  TerminalSet terminals(reactor, std::chrono::milliseconds(10));
  StateFile state(dir + "/state.json");
  Dispatcher dispatcher(canvas, terminals, &state, default_presets(), {});
  Json lead = dispatcher.answer(R"({"command":"join","name":"Lead"})")["result"];
  auto ask = [&](Json members) {
    members["terminalId"] = lead["name"];
    members["token"] = lead["token"];
    return dispatcher.answer(wire::to_wire(members));
  };
  // 16 MiB of notes beside a small one.
  for (int i = 0; i < 16; ++i) {
    ask({{"command", "note"},
         {"sub", "create"},
         {"name", "big-" + std::to_string(i)},
         {"content", std::string(1 << 20, 'x')}});
  }
  ask({{"command", "note"}, {"sub", "create"}, {"name", "small"}, {"content", "a"}});
  auto cost = [&](Json members, Json& reply) {
    harness::AllocationCount count;
    reply = ask(std::move(members));
    return count.bytes();
  };
  Json reply;
  EXPECT_LT(cost({{"command", "note"}, {"sub", "read"}, {"name", "small"}}, reply), 64u << 10);
  EXPECT_EQ(reply["result"]["content"], "a");
  // A saved change writes the file piece by piece.
  EXPECT_LT(cost({{"command", "note"}, {"sub", "write"}, {"name", "small"}, {"content", "b"}}, reply), 4u << 20);
  EXPECT_EQ(reply["ok"], true);
  // A change the file cannot keep is taken back without a copy of the canvas.
  std::filesystem::remove_all(dir);
  EXPECT_LT(cost({{"command", "note"}, {"sub", "write"}, {"name", "small"}, {"content", "c"}}, reply), 1u << 20);
  EXPECT_EQ(reply["ok"], false);
  EXPECT_LT(cost({{"command", "note"}, {"sub", "delete"}, {"name", "big-3"}}, reply), 1u << 20);
  EXPECT_EQ(reply["ok"], false);
  EXPECT_EQ(ok(canvas.note(lead["name"].get<std::string>(), "small")), "b");
  EXPECT_EQ(canvas.notes().size(), 17u);
}
