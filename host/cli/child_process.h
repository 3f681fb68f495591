#pragma once
// Programs that `welkmora-host remote` runs (ssh, in a few ways): either
// with their output captured and their input given, or on the terminal
// it runs in, waited for while the hang-up and interrupts pass it by.

#include <string>
#include <string_view>
#include <vector>

namespace host::cli {

struct Captured {
  /// The exit code, or 128 + the signal number; 127 when it did not start.
  int status = 0;
  std::string out;
  std::string err;
};

/// Runs `argv` (argv[0] searched on PATH) with `input` as its standard
/// input and its output and errors captured; with a `group` (a control
/// group's directory), in that group, where it may join it.
Captured run_captured(const std::vector<std::string>& argv, std::string_view input, const std::string& group = {});

/// Runs `argv` on this process's own standard input, output and errors and
/// waits for it; SIGHUP, SIGINT, SIGQUIT and SIGTERM reach it (it shares the
/// terminal's process group) but no longer end this process, so that it can
/// clean up after it. Returns as run_captured's status.
int run_attached(const std::vector<std::string>& argv);

/// Runs `argv` with no terminal and nothing to read or say, and waits.
int run_detached(const std::vector<std::string>& argv);

}  // namespace host::cli
