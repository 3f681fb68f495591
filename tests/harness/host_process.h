#pragma once
// Runs the built welkmora-host as a child process on a private temporary
// socket and state file, for tests that drive the real client (or raw
// requests) against a real host.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "client_run.h"
#include "json_text.h"

namespace harness {

/// The path of the built host binary.
std::string host_path();

/// Runs welkmora-host with `args` to its end (a minute at most).
RunResult run_host(const std::vector<std::string>& args, Env env = {});

class HostProcess {
 public:
  /// A fresh private directory; nothing runs yet.
  HostProcess();
  /// Kills a host still running and removes the directory.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& socket_path() const { return socket_path_; }
  const std::string& state_path() const { return state_path_; }

  /// Starts `welkmora-host serve` on this socket and state file, with
  /// `extra` arguments, and waits until the socket accepts connections.
  /// Throws std::runtime_error (with the host's standard error) when it
  /// exits or does not listen within ten seconds.
  void start(const std::vector<std::string>& extra = {});
  /// start() with `env` added to the host's environment.
  void start(const std::vector<std::string>& extra, const Env& env);
  /// Sends SIGTERM and waits for the end. Returns the exit status, or -1
  /// when a signal ended it or it did not end within ten seconds.
  int stop();
  bool running() const { return pid_ > 0; }
  /// The host's process id while it runs.
  pid_t pid() const { return pid_; }
  /// What the host has written to standard error so far.
  std::string error_output() const;

  /// Joins a shell called `name`: the environment of that terminal.
  Env join(const std::string& name);

  /// Sends `line` plus a line feed as it stands and returns the reply line
  /// without its line feed.
  std::string send_line(const std::string& line) const;
  /// Sends `request` with the credentials of `env` and returns the reply.
  wire::Json request(const Env& env, wire::Json request) const;
  /// request() for a reply that must be ok; throws std::runtime_error
  /// with the reply otherwise. Returns its result.
  wire::Json result(const Env& env, wire::Json request) const;

  /// Has terminal `by` run `welkmora recruit name --command ...`, with the
  /// `role` and `preset` of `request` as flags (`cmd` is run after the
  /// recruit has written its environment to a file), and returns the
  /// recruit's own environment: its WELKMORA_ variables. Throws
  /// std::runtime_error when the recruit is refused or does not start within
  /// ten seconds.
  Env recruit(const Env& by, const std::string& name, const std::string& cmd = "sleep 600",
              wire::Json request = wire::Json::object()) const;

  /// Runs the real client inside terminal `env`.
  RunResult client(const Env& env, const std::vector<std::string>& args) const;
  /// client() with `in` on standard input.
  RunResult client(const Env& env, const std::vector<std::string>& args, Stdin in) const;

  /// Runs `welkmora check NAME` until its output holds `needle`, for at
  /// most `deadline`. Returns the last run.
  RunResult check_until(const Env& env, const std::string& name, const std::string& needle,
                        std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

 private:
  std::string dir_;
  std::string socket_path_;
  std::string state_path_;
  pid_t pid_ = -1;
  mutable int recruits_ = 0;
};

}  // namespace harness
