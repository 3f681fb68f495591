#pragma once
// A program run in a pseudo-terminal of the test's own, as a person at a
// terminal runs it: the test holds the master side, types into it and reads
// the transcript of what the program shows.

#include <pty.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "client_run.h"
#include "unique_fd.h"

namespace harness {

/// This process's own environment with `overrides` applied, for a child
/// that should see what the test sees plus a few settings.
Env environment_with(const Env& overrides);

class PtyProcess {
 public:
  /// How long the waits below last by default: generous, so that a loaded
  /// machine does not fail them, and bounded, so that a hang fails the test.
  static constexpr std::chrono::seconds kLimit{60};

  /// Starts `argv` (argv[0] is the program's path) with exactly `env` in a
  /// new pseudo-terminal of `size`, or the system's default size. Throws
  /// std::runtime_error when the terminal cannot be made.
  PtyProcess(const std::vector<std::string>& argv, const Env& env, std::optional<winsize> size = std::nullopt);
  /// Kills a program still running and reaps it.
  ~PtyProcess();
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  /// Types `bytes` in one write, as a keyboard or a paste does. Throws
  /// std::system_error when they cannot be written whole.
  void send(const std::string& bytes);
  /// Sets the terminal's window size, as a resized terminal window does.
  void resize(unsigned short rows, unsigned short cols);
  /// Closes the master side, as a terminal window that is closed (or an
  /// ssh connection that drops) does: the program gets SIGHUP.
  void hang_up();

  /// Reads until the transcript ends with `tail`; false when the program
  /// closes its side first or `limit` passes.
  bool read_until(const std::string& tail, std::chrono::milliseconds limit = kLimit);
  /// Reads until `needle` appears after what earlier calls have matched;
  /// false when the program closes its side first or `limit` passes.
  bool expect(const std::string& needle, std::chrono::milliseconds limit = kLimit);
  /// Reads until the program's side is closed; false when `limit` passes.
  bool read_to_end(std::chrono::milliseconds limit = kLimit);

  /// Waits for the program's end, reading the terminal meanwhile so that
  /// output cannot block it. Returns its exit status, or -1 when a signal
  /// ended it or it has not ended within `limit`.
  int wait(std::chrono::milliseconds limit = kLimit);

  /// Everything the program has shown so far.
  const std::string& transcript() const { return transcript_; }
  /// The program's process id while it runs, -1 once reaped.
  pid_t pid() const { return pid_; }
  /// The master side of the terminal.
  int master() const { return master_.get(); }

 private:
  /// Reads what arrives before `deadline`; false at the deadline or when
  /// the program's side is closed.
  bool read_some(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  os::UniqueFd master_;
  std::string transcript_;
  std::size_t matched_ = 0;
  bool closed_ = false;
};

}  // namespace harness
