#pragma once
// Runs the built client binary as a child process with a controlled
// environment and standard input, and captures what it writes.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace harness {

/// Variable name -> value; the child's whole environment.
using Env = std::map<std::string, std::string>;

/// What the child reads on descriptor 0.
struct Stdin {
  enum class Kind { kNull, kData, kTerminal, kClosed } kind = Kind::kNull;
  std::string data;  // for kData

  static Stdin null() { return {}; }
  static Stdin bytes(std::string d) { return {Kind::kData, std::move(d)}; }
  static Stdin terminal() { return {Kind::kTerminal, {}}; }
  static Stdin closed() { return {Kind::kClosed, {}}; }
};

/// How standard output is connected: kTerminal is a pseudo-terminal in raw
/// mode (what the client writes arrives unchanged in `out`).
enum class Stdout { kPipe, kClosed, kBrokenPipe, kTerminal };

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, -1 when killed by a signal
  int signal = 0;   // the terminating signal, if any
};

struct RunOptions {
  Env env;
  Stdin in = Stdin::null();
  Stdout stdout_mode = Stdout::kPipe;
  std::string program;  // defaults to the built client
  /// Called with the child's pid once it runs, on a thread of its own, for
  /// tests that signal the child while it works.
  std::function<void(int pid)> on_started;
};

/// Runs the client with `args` (without the program name). A child that is
/// still running after a minute is killed, so a hang fails instead of
/// stalling the suite.
RunResult run_client(const std::vector<std::string>& args, const RunOptions& options);

/// The path of the built client binary.
std::string client_path();

}  // namespace harness
