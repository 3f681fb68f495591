#pragma once
// One client connection: it carries one request line in and one reply line
// out, then closes. Non-blocking throughout, served by the event loop.
//
// A connection is bounded: its request line must be complete within the
// idle time (an attach goes on for as long as it likes, once its request
// is in), it may not pass the longest line, and what it holds in memory is
// reported as it changes so the server can keep all connections within one
// budget. A failed allocation while serving it drops it, not the host.

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "loop/reactor.h"
#include "unique_fd.h"

namespace host {

class Connection {
 public:
  struct Callbacks {
    /// The request line (without its line feed), once it is complete.
    std::function<void(std::string line)> line;
    /// The connection is over: the reply is out or the peer has gone. It
    /// watches nothing more and may be destroyed once this handler returns.
    std::function<void()> finished;
    /// The bytes of request and reply it holds now; 0 once it is over.
    std::function<void(std::size_t bytes)> held;
  };

  struct Limits {
    /// The longest request line accepted, in bytes; a longer one is
    /// answered here, with "request too large".
    std::size_t max_line = 32u << 20;
    /// How long the request line may take to arrive in full.
    std::chrono::milliseconds idle{10000};
  };

  /// Replies the connection itself sends before it closes.
  static constexpr std::string_view kTooLarge = "{\"error\":\"request too large\",\"ok\":false}\n";
  static constexpr std::string_view kTimedOut = "{\"error\":\"request timed out\",\"ok\":false}\n";
  static constexpr std::string_view kOutOfMemory = "{\"error\":\"out of memory\",\"ok\":false}\n";
  static constexpr std::string_view kOverBudget =
      "{\"error\":\"request dropped: the host holds too much unfinished data\",\"ok\":false}\n";

  Connection(Reactor& reactor, os::UniqueFd fd, Limits limits, Callbacks callbacks);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// Reads what has come already: a client writes its request as soon as
  /// it has connected, so it is often there when the connection is taken.
  void read_now() { on_events(POLLIN); }

  /// Starts sending `line` (which ends in a line feed) as the reply.
  void reply(std::string line);
  /// True while the request is being served.
  bool awaiting_reply() const { return phase_ == Phase::kWaiting; }
  /// True while the request line has not arrived in full.
  bool reading() const { return phase_ == Phase::kReading; }
  /// Frees what it holds: a request still arriving is answered with
  /// `reply_line` (one try to send it), a reply still going out is dropped.
  /// Either way the connection is over and its descriptor closed.
  void shed(std::string_view reply_line);
  /// Hands the socket over (to an attach, which goes on from here): the
  /// connection is over, without its `finished` callback.
  os::UniqueFd take_over();

 private:
  enum class Phase { kReading, kWaiting, kWriting, kDone };

  void on_events(unsigned events);
  void on_readable();
  void on_writable();
  /// The request line is complete (or the peer stopped sending).
  void got_line(std::size_t length);
  /// Gives the request's and the reply's memory back now.
  void release_buffers();
  void report_held();
  void finish();

  os::UniqueFd fd_;
  Reactor::Watch watch_;
  Timers& timers_;
  Timers::Id idle_timer_ = 0;
  std::size_t max_line_;
  Callbacks callbacks_;
  Phase phase_ = Phase::kReading;
  std::string in_;
  std::size_t scanned_ = 0;
  /// The reply; the first sent_ bytes are out.
  std::string out_;
  std::size_t sent_ = 0;
  /// What the request line being served holds, counted twice: the line and
  /// what parsing makes of it.
  std::size_t serving_ = 0;
};

}  // namespace host
