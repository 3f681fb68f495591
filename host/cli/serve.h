#pragma once
// The host itself, as `welkmora-host serve` runs it in the foreground and as
// the workspace runs it detached from any terminal, with the person's shell
// in it as "Lead" (cli/workspace.cpp). Both read the same options.

#include <span>

#include "cli/command.h"

namespace host::cli {

/// How run_host runs the host.
struct HostMode {
  /// Runs the person's shell as the terminal "Lead", `rows` by `cols`, and
  /// ends when it ends. The host's standard error is the log file then
  /// (--log FILE, else the state file's name with ".log").
  bool lead = false;
  int rows = 24, cols = 80;
  /// When the host is ready, one line {"state": FILE, "log": FILE} is
  /// written here and it is closed; -1 for none.
  int ready_fd = -1;
};

/// The options of serve and of the workspace.
extern const std::span<const OptionSpec> kHostOptions;

/// Runs the host until it is stopped; returns its exit status, or the
/// fault that kept it from starting.
Result<int> run_host(const Args& args, const HostMode& mode);

}  // namespace host::cli
