#pragma once
// One client connection: it carries one request line in and one reply line
// out, then closes. Non-blocking throughout, driven by the event loop.

#include <cstddef>
#include <optional>
#include <string>

#include "unique_fd.h"

namespace host {

class Connection {
 public:
  /// `max_line` is the longest request line accepted, in bytes.
  Connection(wire::UniqueFd fd, std::size_t max_line) : fd_(std::move(fd)), max_line_(max_line) {}

  int fd() const { return fd_.get(); }
  /// The poll events it waits for now.
  short events() const;
  /// Reads what has arrived; returns the request line (without its line
  /// feed) once it is complete. A line over the limit is answered here.
  std::optional<std::string> on_readable();
  /// The peer hung up or the socket failed.
  void on_hang_up();
  /// Starts sending `line` (which ends in a line feed) as the reply.
  void reply(std::string line);
  void on_writable();
  /// True once the reply is out or the peer is gone.
  bool finished() const { return phase_ == Phase::kDone; }
  /// True while the request is being served.
  bool awaiting_reply() const { return phase_ == Phase::kWaiting; }

 private:
  enum class Phase { kReading, kWaiting, kWriting, kDone };

  wire::UniqueFd fd_;
  std::size_t max_line_;
  Phase phase_ = Phase::kReading;
  std::string in_;
  std::size_t scanned_ = 0;
  std::string out_;
};

}  // namespace host
