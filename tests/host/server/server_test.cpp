// The serving loop in this process, with small limits: a request line must
// arrive in time, and all connections together hold no more than the
// memory budget, requests arriving and replies nobody reads alike.

#include "server/server.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "raw_client.h"
#include "server/connection.h"

using namespace host;
using namespace std::chrono_literals;

namespace {

/// A host served by a thread of this process, with no state file.
class ServedHost {
 public:
  explicit ServedHost(ServerLimits limits) {
    dir_ = (std::filesystem::temp_directory_path() / "welkmora-served-XXXXXX").string();
    if (::mkdtemp(dir_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    socket_ = dir_ + "/host.sock";
    std::promise<void> ready;
    thread_ = std::thread([this, limits, &ready] {
      Reactor reactor;
      TerminalSet terminals(reactor, 10ms);
      Canvas canvas;
      Dispatcher dispatcher(canvas, terminals, nullptr, default_presets(), {});
      wire::Fallible<Listener> listener = listen_at(socket_);
      if (!listener.ok()) throw std::runtime_error(listener.failure().text);
      Server server(reactor, std::move(*listener), dispatcher, terminals, limits);
      ready.set_value();
      server.run([this] { return stop_.load(); });
    });
    ready.get_future().wait();
  }
  ~ServedHost() {
    stop_ = true;
    harness::RawClient wake(socket_);  // a round, in which the loop sees it should stop
    thread_.join();
    std::filesystem::remove_all(dir_);
  }

  /// A connection that has sent `line` (and nothing when it is empty).
  std::unique_ptr<harness::RawClient> client(const std::string& line = "") {
    auto c = std::make_unique<harness::RawClient>(socket_);
    c->send(line);
    return c;
  }
  /// The reply to `line`, sent in full.
  std::string exchange(const std::string& line) {
    auto c = client(line + "\n");
    return c->receive_all();
  }

 private:
  std::string dir_, socket_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

constexpr const char* kTimedOut = "{\"error\":\"request timed out\",\"ok\":false}\n";
constexpr const char* kOverBudget =
    "{\"error\":\"request dropped: the host holds too much unfinished data\",\"ok\":false}\n";

}  // namespace

TEST(HostServer, ARequestLineMustArriveInTime) {
  ServedHost host({.idle = 300ms});
  auto silent = host.client();
  auto half = host.client("{\"command\":");
  EXPECT_EQ(silent->receive_all(), kTimedOut);
  EXPECT_EQ(half->receive_all(), kTimedOut);
  // A request that comes in time is served.
  EXPECT_EQ(host.exchange(R"({"command":"debug"})"),
            R"({"ok":true,"result":{"authenticated":false,"host":"welkmora-host"}})"
            "\n");
}

TEST(HostServer, ConnectionsStayWithinTheMemoryBudget) {
  ServedHost host({.memory_budget = 8u << 20});
  // Requests arriving: the largest holders are dropped, with a reply.
  std::vector<std::unique_ptr<harness::RawClient>> senders;
  for (int i = 0; i < 6; ++i) senders.push_back(host.client(std::string(3 << 20, ' ')));
  int dropped = 0;
  for (auto& c : senders) {
    c->close_sending();
    dropped += c->receive_all() == kOverBudget;
  }
  EXPECT_GE(dropped, 3);

  // Replies nobody reads: the largest are dropped, cut short.
  wire::Json lead = wire::Json::parse(host.exchange(R"({"command":"join","name":"Lead"})"))["result"];
  wire::Json request = {
      {"command", "note"},          {"sub", "create"},       {"name", "big"}, {"content", std::string(1 << 20, 'x')},
      {"terminalId", lead["name"]}, {"token", lead["token"]}};
  ASSERT_EQ(host.exchange(wire::to_wire(request)), "{\"ok\":true,\"result\":{\"name\":\"big\"}}\n");
  request["sub"] = "read";
  request.erase("content");
  std::vector<std::unique_ptr<harness::RawClient>> readers;
  for (int i = 0; i < 16; ++i) readers.push_back(host.client(wire::to_wire(request) + "\n"));
  std::this_thread::sleep_for(2s);  // all replies made before anyone reads
  int cut = 0;
  for (auto& c : readers) {
    std::string reply = c->receive_all();
    cut += reply.empty() || reply.back() != '\n';
  }
  EXPECT_GE(cut, 3);
  EXPECT_EQ(host.exchange(R"({"command":"debug"})"),
            R"({"ok":true,"result":{"authenticated":false,"host":"welkmora-host"}})"
            "\n");
}

TEST(HostServer, ADroppedConnectionGivesItsMemoryBackAtOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps its own account of memory";
#endif
  // The budget counts a dropped connection's bytes as gone at once, so they
  // must be, not only when the connection is destroyed after its round.
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  os::UniqueFd reader(fds[1]);  // never reads
  Reactor reactor;
  std::size_t held = 0;
  Connection connection(reactor, os::UniqueFd(fds[0]), {},
                        {[](const std::string&) {}, [] {}, [&](std::size_t bytes) { held = bytes; }});
  auto in_use = [] {
    struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  std::size_t before = in_use();
  connection.reply(std::string(16 << 20, 'x') + "\n");
  EXPECT_GT(held, 15u << 20);
  EXPECT_GT(in_use(), before + (15u << 20));
  connection.shed(Connection::kOverBudget);
  EXPECT_EQ(held, 0u);
  EXPECT_LT(in_use(), before + (1u << 20));
}

TEST(HostServer, ARequestCountsWhileItIsServedEvenWhenItsClientHasGone) {
  // An unfinished request whose client closed is served as it stands; its
  // bytes, and what parsing makes of them, stay in the budget meanwhile.
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  os::UniqueFd client(fds[1]);
  Reactor reactor;
  std::size_t held = 0, held_when_served = 0;
  Connection connection(
      reactor, os::UniqueFd(fds[0]), {},
      {[&](const std::string&) { held_when_served = held; }, [] {}, [&](std::size_t bytes) { held = bytes; }});
  std::string request(64 << 10, ' ');
  ASSERT_EQ(::send(client.get(), request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  client.reset();
  for (int i = 0; i < 100 && held_when_served == 0; ++i) reactor.run_once(Clock::now() + 10ms);
  EXPECT_GE(held_when_served, 2 * request.size());
}
