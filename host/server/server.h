#pragma once
// The host's single-threaded event loop. One poll() waits on the signals
// (through a signalfd), the listening socket, every client connection and
// every terminal's pty, and sleeps no longer than the next timer. Each
// connection carries one request; the dispatcher may answer it at once or
// later, so a request that waits never holds up the others.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "connection.h"
#include "endpoint.h"
#include "protocol.h"
#include "terminal_set.h"
#include "timers.h"

namespace host {

struct ServerLimits {
  /// The longest request line accepted.
  std::size_t max_request = 32u << 20;
  /// How long stopping waits for terminals to end after their hang-up and
  /// kill before the host exits regardless.
  std::chrono::milliseconds stop_wait{5000};
};

/// Something else the loop serves besides the socket and the terminals:
/// the user's own terminal in interactive mode.
class LoopGuest {
 public:
  virtual ~LoopGuest() = default;
  /// The descriptors to wait on in this round, with their events.
  virtual std::vector<pollfd> watches() = 0;
  /// One of them is ready (`ready.revents` says how).
  virtual void on_ready(const pollfd& ready, Clock::time_point now) = 0;
  /// True once the host should stop.
  virtual bool wants_stop() = 0;
};

class Server {
 public:
  /// Blocks SIGCHLD, SIGINT, SIGTERM and SIGHUP, which the loop then reads.
  Server(Listener listener, Dispatcher& dispatcher, TerminalSet& terminals, Timers& timers, ServerLimits limits = {});
  ~Server();

  /// Lets the loop serve `guest` too, until the host stops; the guest must
  /// outlive run().
  void attach(LoopGuest& guest) { guest_ = &guest; }

  /// Serves until SIGINT, SIGTERM or SIGHUP (or the guest wants it to stop),
  /// then hangs up the terminals,
  /// waits for them to end and removes the socket. Returns the exit status.
  int run();

 private:
  struct Watch;

  std::vector<Watch> watch_list();
  int timeout_ms(Clock::time_point now) const;
  void on_signals(Clock::time_point now);
  void reap(Clock::time_point now);
  void accept_clients(Clock::time_point now);
  /// Stops watching the listener for kListenerRest after accept failed.
  void rest_listener(Clock::time_point now, int error);
  void on_connection(std::uint64_t id, short revents);
  void on_terminal(const std::string& name, int fd, short revents, Clock::time_point now);
  void deliver(std::uint64_t id, const Json& reply);
  void begin_stop(Clock::time_point now);

  Listener listener_;
  Dispatcher& dispatcher_;
  TerminalSet& terminals_;
  Timers& timers_;
  ServerLimits limits_;
  wire::UniqueFd signals_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::uint64_t next_id_ = 1;
  std::optional<Clock::time_point> stop_deadline_;
  LoopGuest* guest_ = nullptr;
  bool listener_resting_ = false;
  /// Set from a failed accept until the next one succeeds: one message each.
  bool accept_failing_ = false;

  static constexpr std::chrono::milliseconds kListenerRest{50};
};

}  // namespace host
