#pragma once
// One client connection: it carries one request line in and one reply line
// out, then closes. Non-blocking throughout, served by the event loop.

#include <cstddef>
#include <functional>
#include <string>

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
  };

  /// `max_line` is the longest request line accepted, in bytes; a longer
  /// one is answered here, with "request too large".
  Connection(Reactor& reactor, wire::UniqueFd fd, std::size_t max_line, Callbacks callbacks);

  /// Starts sending `line` (which ends in a line feed) as the reply.
  void reply(std::string line);
  /// True while the request is being served.
  bool awaiting_reply() const { return phase_ == Phase::kWaiting; }
  /// Hands the socket over (to an attach, which goes on from here): the
  /// connection is over, without its `finished` callback.
  wire::UniqueFd take_over();

 private:
  enum class Phase { kReading, kWaiting, kWriting, kDone };

  void on_events(unsigned events);
  void on_readable();
  void on_writable();
  void finish();

  wire::UniqueFd fd_;
  Reactor::Watch watch_;
  std::size_t max_line_;
  Callbacks callbacks_;
  Phase phase_ = Phase::kReading;
  std::string in_;
  std::size_t scanned_ = 0;
  /// The reply; the first sent_ bytes are out.
  std::string out_;
  std::size_t sent_ = 0;
};

}  // namespace host
