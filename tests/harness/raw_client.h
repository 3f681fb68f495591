#pragma once
// One connection to a socket, driven by hand: for tests that send requests
// byte by byte, stall half way, or hold many connections open at once.

#include <chrono>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace harness {

class RawClient {
 public:
  /// Connects to the socket at `path`; throws std::runtime_error when that
  /// fails.
  explicit RawClient(const std::string& path);

  /// Sends as much of `data` as the peer takes; false when it stopped taking.
  bool send(std::string_view data);
  /// Shuts down the sending side, as a client does after its request.
  void close_sending();

  /// Everything the peer sends until it closes, or what came within ten
  /// seconds followed by "<timeout>".
  std::string receive_all();

  /// True when nothing has arrived (and the peer has not closed) within
  /// `wait`.
  bool quiet_for(std::chrono::milliseconds wait);

 private:
  os::UniqueFd fd_;
};

}  // namespace harness
