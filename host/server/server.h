#pragma once
// The serving side of the host's socket, on the one event loop: the
// signals (through a signalfd), the listening socket and every client
// connection. Each connection carries one request; the dispatcher may answer
// it at once or later, so a request that waits never holds up the others.
// A client that goes away before its reply cancels what the request waits
// for (the dispatcher's cancel handle).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "loop/reactor.h"
#include "protocol/dispatcher.h"
#include "server/attachment.h"
#include "server/connection.h"
#include "server/endpoint.h"
#include "terminals/terminal_set.h"

namespace host {

struct ServerLimits {
  /// The longest request line accepted.
  std::size_t max_request = 32u << 20;
  /// How long stopping waits for terminals to end after their hang-up and
  /// kill before the host exits regardless.
  std::chrono::milliseconds stop_wait{5000};
};

class Server {
 public:
  /// Blocks SIGCHLD, SIGINT, SIGTERM and SIGHUP, which the loop then reads.
  Server(Reactor& reactor, Listener listener, Dispatcher& dispatcher, TerminalSet& terminals, ServerLimits limits = {});
  ~Server();

  /// Serves until SIGINT, SIGTERM or SIGHUP, or until `stop_when` (asked
  /// after every round) is true; then hangs up the terminals, waits for
  /// them to end and removes the socket. Returns the exit status.
  int run(const std::function<bool()>& stop_when = {});

 private:
  void on_signals();
  void accept_clients();
  /// Stops watching the listener for kListenerRest after accept failed.
  void rest_listener(int error);
  void on_line(std::uint64_t id, pid_t pid, const std::string& line);
  void deliver(std::uint64_t id, const Json& reply);
  /// Connection `id` is over; a request still waiting for its reply is
  /// cancelled.
  void on_finished(std::uint64_t id);
  /// Turns connection `id` into an attach to terminal `name`.
  void attach(std::uint64_t id, const Json& reply, const std::string& name, bool read_only);
  void begin_stop(Clock::time_point now);

  Reactor& reactor_;
  Listener listener_;
  Reactor::Watch listener_watch_;
  Dispatcher& dispatcher_;
  TerminalSet& terminals_;
  ServerLimits limits_;
  wire::UniqueFd signals_;
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

  static constexpr std::chrono::milliseconds kListenerRest{50};
};

}  // namespace host
