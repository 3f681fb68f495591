#pragma once
// The host itself, as `welkmora-host serve` runs it in the foreground and as
// the workspace runs it detached from any terminal, with the person's shell
// in it as "Lead" (cli/workspace.cpp). Both read the same options.

#include <functional>
#include <span>

#include "cli/command.h"
#include "json_text.h"

namespace host::cli {

/// How run_host runs the host.
struct HostMode {
  /// Runs the person's shell as the terminal "Lead", `rows` by `cols`, and
  /// ends when it ends. The host's standard error is the log file then
  /// (--log FILE, else the state file's name with ".log").
  bool lead = false;
  int rows = 24, cols = 80;
  /// Told, once the host is ready, where it keeps its state and its log:
  /// {"state": FILE, "log": FILE}; null for nobody.
  std::function<void(const wire::Json& where)> ready;
};

/// Runs the host until it is stopped; returns its exit status, or the
/// fault that kept it from starting.
OrFault<int> run_host(const Args& args, const HostMode& mode);

}  // namespace host::cli
