#pragma once
// A scripted stand-in for the app: a Unix socket server in the test process
// that records the exact bytes of one request and plays back a reply.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "client_run.h"
#include "unique_fd.h"

namespace harness {

/// What the fake app does with the one connection it serves.
struct Script {
  /// Reply bytes, written in this many separate writes.
  std::vector<std::string> chunks;
  /// Pause between two chunks.
  std::chrono::milliseconds gap{0};
  /// Read the request line before replying; false replies at once and
  /// closes with the request unread.
  bool read_request = true;

  static Script reply(std::string line) { return {{std::move(line)}, {}, true}; }
};

/// A run of the client against the fake app: what it printed, and what the
/// app received (empty when it never connected).
struct Exchange {
  RunResult run;
  std::string request;
  bool connected = false;
};

class FakeApp {
 public:
  /// Listens on a fresh socket in a private temporary directory.
  FakeApp();
  ~FakeApp();
  FakeApp(const FakeApp&) = delete;
  FakeApp& operator=(const FakeApp&) = delete;

  const std::string& socket_path() const { return socket_path_; }
  const std::string& dir() const { return dir_; }

  /// The environment of a terminal of this app: socket, id "T1", token "tok".
  Env env() const;

  /// Serves one connection with `script` while the client runs `args`.
  Exchange exchange(const std::vector<std::string>& args, const Script& script, RunOptions options);
  Exchange exchange(const std::vector<std::string>& args, const std::string& reply_line);

 private:
  void serve(const Script& script);

  std::string dir_;
  std::string socket_path_;
  os::UniqueFd listener_;
  std::atomic<bool> client_done_{false};
  std::string received_;
  bool connected_ = false;
};

}  // namespace harness
