#pragma once
// The workspace's Lead: the person's shell, which the host runs in a
// pseudo-terminal of its own like any recruit. The person's terminal is one
// view of it (an attach), so the shell outlives the terminal it was started
// from; when the shell ends, the workspace ends.

#include <string>

#include "model/canvas.h"
#include "pty/terminal_set.h"

namespace host {

/// How Lead starts.
struct LeadSetup {
  /// The shell to run.
  std::string shell;
  /// The host's socket, handed to the shell.
  std::string socket_path;
  /// The size of the terminal that started the workspace.
  int rows = 24, cols = 80;
  /// What the screen shows above the shell's first prompt: the saved
  /// screen of the Lead before a restart.
  std::string screen;
};

/// Starts Lead's shell as terminal "Lead" (or "Lead-2" when that is taken)
/// and puts it on the canvas as the person's. Its environment is the
/// host's plus WELKMORA_SOCKET, WELKMORA_TERMINAL_ID and WELKMORA_TOKEN;
/// TERM stays the person's, whose terminal shows its output. Returns the
/// name; refuses when the shell cannot start.
OrRefusal<std::string> start_lead(Canvas& canvas, TerminalSet& terminals, const LeadSetup& setup);

}  // namespace host
