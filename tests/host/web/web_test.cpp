// The canvas page's server side without a browser: the address and the
// key rules, the feed's messages to a page (the snapshot, the changes, the
// person's acts, malformed input) and what the feed costs, the page's
// connections in the host's descriptor margin, and the key names the page
// sends.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "alloc_count.h"
#include "host_fixtures.h"
#include "host_process.h"
#include "protocol/dispatcher.h"
#include "screen/keys.h"
#include "unique_fd.h"
#include "web/assets.h"
#include "web/feed.h"
#include "web/gate.h"

using namespace host;

TEST(HostWeb, AddressesAndTheGate) {
  WebAddress a;
  ASSERT_TRUE(parse_web_address("8080", a).ok());
  EXPECT_EQ(a.authority(), "127.0.0.1:8080");
  EXPECT_TRUE(a.loopback());
  ASSERT_TRUE(parse_web_address("[::1]:0", a).ok());
  EXPECT_EQ(a.authority(), "[::1]:0");
  EXPECT_TRUE(a.loopback());
  ASSERT_TRUE(parse_web_address("0.0.0.0:9", a).ok());
  EXPECT_FALSE(a.loopback());
  for (const char* bad : {"", "x", "65536", "-1", "1.2.3:80", "::1:80", "localhost:80", "127.0.0.1:", "8080 "}) {
    EXPECT_FALSE(parse_web_address(bad, a).ok()) << bad;
  }

  ASSERT_TRUE(parse_web_address("127.0.0.1:4242", a).ok());
  Gate gate(a, "00112233445566778899aabbccddeeff");
  EXPECT_TRUE(gate.host_ok("127.0.0.1:4242"));
  for (const char* host : {"localhost:4242", "127.0.0.1", "127.0.0.1:4243", "evil.example", ""}) {
    EXPECT_FALSE(gate.host_ok(host)) << host;
  }
  EXPECT_TRUE(gate.origin_ok("http://127.0.0.1:4242"));
  EXPECT_FALSE(gate.origin_ok("http://evil.example"));
  EXPECT_FALSE(gate.origin_ok("null"));
  EXPECT_TRUE(gate.key_ok("00112233445566778899aabbccddeeff"));
  EXPECT_FALSE(gate.key_ok("00112233445566778899aabbccddeefe"));
  EXPECT_FALSE(gate.key_ok(""));
  // The key comes only as a WebSocket subprotocol, never in a cookie.
  EXPECT_TRUE(gate.protocols_ok("welkmora-canvas, welkmora-key.00112233445566778899aabbccddeeff"));
  EXPECT_TRUE(gate.protocols_ok("welkmora-key.00112233445566778899aabbccddeeff"));
  for (const char* bad : {"welkmora-canvas", "", "welkmora-key.", "welkmora-key.00112233445566778899aabbccddeefe",
                          "welkmora-canvas, 00112233445566778899aabbccddeeff"}) {
    EXPECT_FALSE(gate.protocols_ok(bad)) << bad;
  }
}

namespace {

class HostFeed : public harness::DispatcherFixture {
 protected:
  HostFeed() : feed(reactor, dispatcher, terminals) {
    Json joined = dispatcher.answer(wire::to_wire(Json{{"command", "join"}, {"name", "Lead"}}));
    lead = {{"terminalId", "Lead"}, {"token", joined["result"]["token"]}};
    page = feed.open_page([this] { ++wakes; });
  }

  /// The page's messages until none is due, after the loop's due work.
  std::vector<Json> drain() {
    reactor.run_once(Clock::now());
    std::vector<Json> out;
    for (std::string text; feed.next_message(page, text); text.clear()) out.push_back(Json::parse(text));
    return out;
  }

  /// The reply to `message` from the page; the other messages that came
  /// with it are kept in `passed_over`.
  Json act(Json message) {
    EXPECT_TRUE(feed.receive(page, message.dump()));
    Json reply;
    for (Json& m : drain()) {
      if (m["t"] == "reply" && reply.is_null()) {
        reply = std::move(m);
      } else {
        passed_over.push_back(std::move(m));
      }
    }
    if (reply.is_null()) ADD_FAILURE() << "no reply to " << message;
    return reply;
  }

  CanvasFeed feed;
  Json lead;
  std::uint64_t page = 0;
  int wakes = 0;
  std::vector<Json> passed_over;
};

}  // namespace

// The page sends a key that is not a character by its browser name, from
// the list in keys.js as the host serves it; the host's list is the one
// that counts.
TEST(HostWeb, ThePageNamesTheKeysTheHostKnows) {
  const Asset* keys = find_asset("/keys.js");
  ASSERT_NE(keys, nullptr);
  std::string_view js = keys->body;
  std::size_t begin = js.find("const NAMED = new Set([");
  std::size_t end = js.find("]);", begin);
  ASSERT_NE(begin, std::string_view::npos);
  ASSERT_NE(end, std::string_view::npos);
  std::vector<std::string> sent;
  std::string_view list = js.substr(begin, end - begin);
  for (std::size_t q = list.find('\''); q != std::string_view::npos; q = list.find('\'', q + 1)) {
    std::size_t close = list.find('\'', q + 1);
    sent.emplace_back(list.substr(q + 1, close - q - 1));
    q = close;
  }
  std::vector<std::string> known = browser_key_names();
  std::ranges::sort(sent);
  std::ranges::sort(known);
  EXPECT_EQ(sent, known);
  for (const std::string& name : known) EXPECT_TRUE(browser_key(name).has_value()) << name;
  for (const char* other : {"Shift", "Dead", "F0", "F13", "F01", "F1x", "a", ""}) {
    EXPECT_FALSE(browser_key(other).has_value()) << other;
  }
}

TEST_F(HostFeed, SnapshotThenChanges) {
  // The snapshot, then the activity so far.
  std::vector<Json> first = drain();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0]["t"], "snapshot");
  EXPECT_EQ(first[1]["event"], "join");
  EXPECT_EQ(first[1]["name"], "Lead");
  ASSERT_EQ(first[0]["items"].size(), 1u);
  EXPECT_EQ(first[0]["items"][0]["id"], "t:Lead");
  EXPECT_EQ(first[0]["items"][0]["state"], "joined");
  EXPECT_EQ(first[0]["presets"], Json::array({"Shell"}));

  // A change by a request reaches the page as the item and the ropes.
  int before = wakes;
  Json create = lead;
  create.update({{"command", "note"}, {"sub", "create"}, {"name", "plan"}, {"content", "text"}});
  ASSERT_EQ(dispatcher.answer(wire::to_wire(create))["ok"], true);
  std::vector<Json> changes = drain();
  EXPECT_GT(wakes, before);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0]["t"], "item");
  EXPECT_EQ(changes[0]["id"], "n:plan");
  EXPECT_EQ(changes[0]["text"], "text");
  EXPECT_EQ(changes[1], Json({{"t", "rope"}, {"a", "t:Lead"}, {"b", "n:plan"}, {"on", true}}));
  // Reading changes nothing, and nothing is sent.
  Json list = lead;
  list["command"] = "list";
  dispatcher.answer(wire::to_wire(list));
  EXPECT_TRUE(drain().empty());
}

TEST_F(HostFeed, ThePersonsActs) {
  drain();
  Json created = act({{"op", "note-create"}, {"name", "todo"}, {"text", "a"}, {"req", 1}});
  EXPECT_EQ(created, Json({{"t", "reply"}, {"req", 1}, {"result", {{"name", "todo"}}}}));
  EXPECT_TRUE(canvas.notes().contains("todo"));
  act({{"op", "connect"}, {"a", "t:Lead"}, {"b", "n:todo"}, {"req", 2}});
  EXPECT_TRUE(canvas.roped(Item::terminal("Lead"), Item::note("todo")));
  act({{"op", "place"}, {"id", "n:todo"}, {"box", {{"x", 5}, {"y", -7}, {"w", 300}, {"h", 200}}}, {"req", 3}});
  EXPECT_EQ(*canvas.box(Item::note("todo")), (Box{5, -7, 300, 200}));
  act({{"op", "cut"}, {"a", "n:todo"}, {"b", "t:Lead"}, {"req", 4}});
  EXPECT_FALSE(canvas.roped(Item::terminal("Lead"), Item::note("todo")));

  // A recruit of the page is roped to nobody; the page dismisses it.
  Json recruited = act({{"op", "recruit"}, {"name", "Worker"}, {"cmd", "sleep 30"}, {"req", 9}});
  EXPECT_EQ(recruited["result"], Json({{"name", "Worker"}}));
  ASSERT_NE(canvas.terminal("Worker"), nullptr);
  EXPECT_TRUE(canvas.ropes_of(Item::terminal("Worker")).empty());
  EXPECT_FALSE(act({{"op", "dismiss"}, {"id", "t:Worker"}, {"req", 10}}).contains("error"));
  EXPECT_EQ(canvas.terminal("Worker"), nullptr);

  // Refusals are replies; the page stays open.
  EXPECT_EQ(act({{"op", "dismiss"}, {"id", "t:Lead"}, {"req", 5}})["error"],
            "cannot dismiss Lead: it is the person's shell");
  EXPECT_EQ(act({{"op", "key"}, {"id", "t:Lead"}, {"key", "Enter"}, {"req", 6}})["error"],
            "cannot type into a joined shell: Lead");
  EXPECT_EQ(act({{"op", "note-write"}, {"id", "n:nope"}, {"text", ""}, {"req", 7}})["error"], "no such note: nope");
  EXPECT_EQ(act({{"op", "fly"}, {"req", 8}})["error"], "unknown op: fly");
  // Malformed input closes the page.
  EXPECT_FALSE(feed.receive(page, "{not json"));
  EXPECT_FALSE(feed.receive(page, "[1]"));
  EXPECT_FALSE(feed.receive(page, R"({"req":1})"));
}

TEST_F(HostFeed, AQuestionWaitingForThePersonAndASearch) {
  drain();
  act({{"op", "recruit"},
       {"name", "Ask"},
       {"cmd", "bash --norc -c 'read -p \"Your name? \" n; echo \"Hello $n\"; exec cat'"},
       {"req", 1}});
  // The item's attention as the page last heard it.
  std::string attention;
  auto hear = [&](const std::vector<Json>& messages) {
    for (const Json& m : messages) {
      if (m["t"] == "item" && m["id"] == "t:Ask" && m["attention"].is_string()) attention = m["attention"];
    }
  };
  auto until = [&](std::string_view wanted) {
    auto deadline = Clock::now() + std::chrono::seconds(10);
    hear(std::exchange(passed_over, {}));
    while (attention != wanted && Clock::now() < deadline) {
      reactor.run_once(Clock::now() + std::chrono::milliseconds(20));
      hear(drain());
    }
    return attention;
  };
  EXPECT_EQ(until("input"), "input");
  act({{"op", "text"}, {"id", "t:Ask"}, {"text", "Ada\r"}, {"req", 2}});
  EXPECT_EQ(until("idle"), "idle") << "cat waits, with nothing asked";
  // A search finds the row in any letter case, by terminal and absolute row.
  Json found = act({{"op", "search"}, {"text", "HELLO ada"}, {"req", 3}})["result"];
  ASSERT_EQ(found["terminals"].size(), 1u) << found;
  EXPECT_EQ(found["terminals"][0]["id"], "t:Ask");
  EXPECT_EQ(found["terminals"][0]["lines"][0][1], "Hello Ada");
  EXPECT_EQ(act({{"op", "search"}, {"text", "nowhere"}, {"req", 4}})["result"]["terminals"], Json::array());
}

TEST_F(HostFeed, EveryScreenAtOnceAfterASnapshotThenAsThePageDraws) {
  drain();
  constexpr int kTerminals = static_cast<int>(CanvasFeed::kScreenWindow) + 3;
  for (int i = 0; i < kTerminals; ++i) {
    act({{"op", "recruit"}, {"name", "T" + std::to_string(i)}, {"cmd", "sleep 30"}, {"req", i}});
  }
  // A page opened now is sent every terminal's screen without drawing any.
  std::uint64_t late = feed.open_page([] {});
  reactor.run_once(Clock::now());
  int screens = 0;
  for (std::string text; feed.next_message(late, text); text.clear()) screens += Json::parse(text)["t"] == "screen";
  EXPECT_EQ(screens, kTerminals);
  // Then a change waits until the page has drawn all but a few.
  act({{"op", "text"}, {"id", "t:T0"}, {"text", "x"}, {"req", 99}});
  // The echo's screen is due within kScreenInterval; half a second is ample.
  auto deadline = Clock::now() + std::chrono::milliseconds(500);
  std::string text;
  while (Clock::now() < deadline) reactor.run_once(Clock::now() + std::chrono::milliseconds(20));
  EXPECT_FALSE(feed.next_message(late, text)) << text;
  EXPECT_TRUE(feed.receive(late, R"({"op":"ack","screens":)" + std::to_string(kTerminals) + "}"));
  bool redrawn = false;
  while (feed.next_message(late, text)) {
    redrawn = redrawn || Json::parse(text)["id"] == "t:T0";
    text.clear();
  }
  EXPECT_TRUE(redrawn);
}

TEST_F(HostFeed, APastedEndBracketEndsNoPaste) {
  // bash's readline brackets pastes and takes the end bracket's bytes from
  // the text as the end: what follows them would be typed, Enter and all.
  drain();
  std::filesystem::remove("PWNED");
  act({{"op", "recruit"}, {"name", "Sh"}, {"cmd", "PS1='sh$ ' exec bash --norc --noprofile -i"}, {"req", 1}});
  Terminal* sh = terminals.find("Sh");
  ASSERT_NE(sh, nullptr);
  auto shows = [&](const std::string& text) {
    for (auto deadline = Clock::now() + std::chrono::seconds(20); Clock::now() < deadline;) {
      if (sh->screen_text().find(text) != std::string::npos) return true;
      reactor.run_once(Clock::now() + std::chrono::milliseconds(20));
    }
    return false;
  };
  int req = 1;
  auto type = [&](const char* op, const std::string& text) {
    act({{"op", op}, {"id", "t:Sh"}, {"text", text}, {"req", ++req}});
  };
  ASSERT_TRUE(shows("sh$")) << sh->screen_text();
  type("paste",
       "echo innocent \x1b[201~; touch PWNED\n\xc2\x9b"
       "201~");
  ASSERT_TRUE(shows("[201~; touch PWNED")) << sh->screen_text();
  // The line is still being edited: cleared, and another runs instead.
  type("text",
       "\x15"
       "echo done-$((6*7))\r");
  ASSERT_TRUE(shows("done-42")) << sh->screen_text();
  EXPECT_FALSE(std::filesystem::exists("PWNED")) << sh->screen_text();
  EXPECT_EQ(sh->screen_text().find("innocent\n"), std::string::npos) << sh->screen_text();
}

TEST_F(HostFeed, AChangeCostsTheSameHoweverManyItemsAndNoPageKeepsNoNote) {
  drain();
  auto create = [&](int i) {
    Json request = lead;
    request.update({{"command", "note"}, {"sub", "create"}, {"name", "n" + std::to_string(i)}, {"content", "x"}});
    harness::AllocationCount count;
    EXPECT_EQ(dispatcher.answer(wire::to_wire(request))["ok"], true);
    EXPECT_EQ(drain().size(), 2u);  // the note and its rope
    return count.bytes();
  };
  for (int i = 0; i < 20; ++i) create(i);
  std::size_t few = create(20);
  for (int i = 21; i < 2000; ++i) create(i);
  std::size_t many = create(2000);
  EXPECT_LT(many, few * 2) << "a note among 20 cost " << few << " bytes, among 2000 " << many;

  // Without a page, the feed copies no note's text.
  feed.close_page(page);
  Json write = lead;
  write.update({{"command", "note"}, {"sub", "write"}, {"name", "n1"}, {"content", std::string(1 << 20, 'y')}});
  ASSERT_EQ(dispatcher.answer(wire::to_wire(write))["ok"], true);
  harness::AllocationCount count;
  reactor.run_once(Clock::now());
  EXPECT_LT(count.bytes(), 64u << 10);
}

namespace {

/// A host serving the page on a free loopback port, the port and the key
/// it printed.
struct ServingHost {
  ServingHost() {
    host.start({"--web", "127.0.0.1:0"});
    // The address is printed once the page's port listens, which may be
    // after the socket does.
    constexpr std::string_view kAddress = "canvas: http://127.0.0.1:";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string log = host.error_output();
    while (log.find(kAddress) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      log = host.error_output();
    }
    std::size_t at = log.find(kAddress);
    if (at == std::string::npos) return;
    port = std::atoi(log.c_str() + at + kAddress.size());
    std::size_t key_at = log.find("#key=", at);
    if (key_at != std::string::npos) key = log.substr(key_at + 5, 32);
  }

  /// A connection to the page's port.
  os::UniqueFd connect() const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    os::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) fd.reset();
    return fd;
  }

  /// The status line of the answer to `request`.
  std::string status_line(const std::string& request) const {
    os::UniqueFd fd = connect();
    if (!fd || ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) return "";
    std::string answer(512, '\0');
    ssize_t n = ::recv(fd.get(), answer.data(), answer.size(), 0);
    answer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return answer.substr(0, answer.find("\r\n"));
  }

  harness::HostProcess host;
  int port = 0;
  std::string key;
};

}  // namespace

TEST(HostWebServer, AnUpgradeNeedsTheOriginTheHostAndTheKey) {
  ServingHost page;
  ASSERT_GT(page.port, 0) << page.host.error_output();
  ASSERT_EQ(page.key.size(), 32u) << page.host.error_output();
  std::string authority = "127.0.0.1:" + std::to_string(page.port);
  std::string upgrade =
      "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Sec-WebSocket-Protocol: welkmora-canvas, welkmora-key." +
      page.key + "\r\n";
  std::string host = "Host: " + authority + "\r\n";
  std::string origin = "Origin: http://" + authority + "\r\n";
  EXPECT_EQ(page.status_line("GET /ws HTTP/1.1\r\n" + host + origin + upgrade + "\r\n"),
            "HTTP/1.1 101 Switching Protocols");
  // A client that is no browser may leave the Origin out: it is refused, as
  // a foreign one is.
  EXPECT_EQ(page.status_line("GET /ws HTTP/1.1\r\n" + host + upgrade + "\r\n").substr(8, 4), " 403");
  EXPECT_EQ(page.host.stop(), 0) << page.host.error_output();
}

TEST(HostWebServer, ThePagesConnectionsLeaveDescriptorsForRecruits) {
  ServingHost page;
  harness::HostProcess& host = page.host;
  harness::Env lead = host.join("Lead");
  ASSERT_GT(page.port, 0) << host.error_output();
  rlimit old{};
  ASSERT_EQ(::prlimit(host.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
  rlimit few{48, old.rlim_max};
  ASSERT_EQ(::prlimit(host.pid(), RLIMIT_NOFILE, &few, nullptr), 0);
  // Connections to the page's port that send nothing fill what they may.
  std::vector<os::UniqueFd> silent;
  for (int i = 0; i < 60; ++i) {
    silent.push_back(page.connect());
    ASSERT_TRUE(silent.back());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // A recruit still starts, and a client is still served, without waiting.
  auto start = std::chrono::steady_clock::now();
  host.recruit(lead, "Dev");
  EXPECT_EQ(host.result(lead, {{"command", "list"}})["agents"].size(), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  silent.clear();
  ASSERT_EQ(::prlimit(host.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
  EXPECT_EQ(host.stop(), 0) << host.error_output();
}
