#pragma once
// The serving side of the host's socket, on the one event loop: the
// signals (through a signalfd), the listening socket and every client
// connection. Each connection carries one request; the dispatcher may answer
// it at once or later, so a request that waits never holds up the others.
// A client that goes away before its reply cancels what the request waits
// for (the dispatcher's cancel handle).
//
// Clients cannot hold the host: a request line must arrive within the idle
// time; connections still sending their request leave a margin of
// descriptors free for new clients and terminals (the oldest of them is
// closed to make room); and the bytes all connections hold, requests
// arriving and replies not yet read, stay within one memory budget (the
// largest holders are closed when it is passed).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "loop/reactor.h"
#include "protocol/dispatcher.h"
#include "pty/terminal_set.h"
#include "server/attachment.h"
#include "server/connection.h"
#include "server/endpoint.h"

namespace host {

struct ServerLimits {
  /// The longest request line accepted.
  std::size_t max_request = 32u << 20;
  /// How long a request line may take to arrive in full.
  std::chrono::milliseconds idle{10000};
  /// Most bytes all connections may hold together: requests arriving,
  /// replies and attach output not yet read.
  std::size_t memory_budget = 256u << 20;
  /// Descriptors kept free for new clients, terminals and the state file,
  /// at most; an eighth of the limit when that is less.
  std::size_t descriptor_margin = 64;
  /// How long stopping waits for terminals to end after their hang-up and
  /// kill before the host exits regardless.
  std::chrono::milliseconds stop_wait{5000};
};

class Server {
 public:
  /// Blocks SIGCHLD, SIGINT, SIGTERM and SIGHUP, which the loop then reads.
  Server(Reactor& reactor, Listener listener, Dispatcher& dispatcher, TerminalSet& terminals, ServerLimits limits = {});
  ~Server();

  /// Serves until SIGINT, SIGTERM or SIGHUP, request_stop(), or until
  /// `stop_when` (asked after every round) is true; then tells every
  /// attached person, hangs up the terminals, waits for them to end and
  /// removes the socket. Returns the exit status.
  int run(const std::function<bool()>& stop_when = {});

  /// Counts `descriptors` (the connections of another listener, such as
  /// the canvas page's) with this server's own against the margin; the
  /// descriptors that listener holds for good (its socket, its loop's) are
  /// counted from now on. Called before run().
  void count_also(std::function<std::size_t()> descriptors);
  /// Calls `stopping` once, when the host begins to stop (each function
  /// given, in order).
  void on_stop(std::function<void()> stopping) { on_stop_.push_back(std::move(stopping)); }
  /// Stops the host at the end of this round, as SIGTERM does.
  void request_stop() { stop_requested_ = true; }
  /// True when one more connection of another listener leaves twice the
  /// margin free: the margin itself stays for this server's clients (which
  /// may shed idle ones for room) and for terminals.
  bool room_for_other() const { return !at_descriptor_limit(2); }

 private:
  void on_signals();
  void accept_clients();
  /// True when one more client would eat into `margins` times the
  /// descriptor margin.
  bool at_descriptor_limit(std::size_t margins = 1) const;
  /// Closes the oldest connection still sending its request; false when
  /// there is none.
  bool shed_idle();
  /// Stops watching the listener for kListenerRest; `why` is reported once
  /// until a client is accepted again.
  void rest_listener(const std::string& why);
  /// Records what connection or attachment `id` holds, and closes the
  /// largest holders while all of them hold more than the budget.
  void on_held(std::uint64_t id, std::size_t bytes);
  void shed(std::uint64_t id);
  /// The process that connected, as seen at accept.
  struct Sender {
    pid_t pid = 0;
    unsigned long long started = 0;
  };
  void on_line(std::uint64_t id, Sender sender, const std::string& line);
  void deliver(std::uint64_t id, const Json& reply);
  /// Connection `id` is over; a request still waiting for its reply is
  /// cancelled.
  void on_finished(std::uint64_t id);
  /// Turns connection `id` into an attach to terminal `name`.
  void attach(std::uint64_t id, const Json& reply, const std::string& name, const AttachView& view);
  void begin_stop(Clock::time_point now);

  Reactor& reactor_;
  Listener listener_;
  Reactor::Watch listener_watch_;
  Dispatcher& dispatcher_;
  TerminalSet& terminals_;
  ServerLimits limits_;
  os::UniqueFd signals_;
  Reactor::Watch signals_watch_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  /// The cancel handles of the requests still waiting for their replies.
  std::map<std::uint64_t, Cancel> waiting_;
  std::map<std::uint64_t, std::unique_ptr<Attachment>> attachments_;
  /// Connections and attachments that are over, destroyed after the round.
  std::vector<std::uint64_t> finished_;
  std::uint64_t next_id_ = 1;
  std::optional<Clock::time_point> stop_deadline_;
  /// Set from a failed accept until the next one succeeds: one message each.
  bool accept_failing_ = false;
  /// Descriptors the host had open besides clients and terminals at start.
  std::size_t base_descriptors_ = 0;
  std::function<std::size_t()> others_;
  std::vector<std::function<void()>> on_stop_;
  bool stop_requested_ = false;
  /// What each connection and attachment holds, also ordered by size.
  std::map<std::uint64_t, std::size_t> held_;
  std::set<std::pair<std::size_t, std::uint64_t>> by_size_;
  std::size_t held_total_ = 0;
  bool shedding_ = false;
  /// Client descriptors open now: connections and attachments.
  std::size_t clients_ = 0;

  static constexpr std::chrono::milliseconds kListenerRest{50};
  static constexpr std::chrono::milliseconds kStopPoll{100};
};

}  // namespace host
