#pragma once
// Interactive mode: the user's shell runs in the host as the terminal
// "Lead", shown in the user's own terminal. Keys go through to Lead's pty,
// Lead's output comes back, and window-size changes follow. When the shell
// ends (or the user's terminal goes away) the host stops.

#include <optional>
#include <string>

#include "console/raw_mode.h"
#include "loop/reactor.h"
#include "model/canvas.h"
#include "terminals/terminal_set.h"

namespace host {

/// Starts `shell` as terminal "Lead" in a pty the size of terminal
/// `user_fd`, and puts it on the canvas. Its environment is the host's plus
/// WELKMORA_SOCKET (`socket_path`), WELKMORA_TERMINAL_ID and WELKMORA_TOKEN;
/// TERM stays the user's, since the user's terminal shows its output.
/// Returns the name; refuses when the shell cannot start.
Result<std::string> start_lead(Canvas& canvas, TerminalSet& terminals, const std::string& shell,
                               const std::string& socket_path, int user_fd);

class LeadConsole {
 public:
  /// Relays between terminal `name` and the user's terminal: keys read from
  /// `in`, output written to `out`, both served by `reactor`. The user's
  /// terminal should be in raw mode, so that every key reaches the shell as
  /// it is.
  LeadConsole(Reactor& reactor, TerminalSet& terminals, std::string name, int in, int out);
  ~LeadConsole();
  LeadConsole(const LeadConsole&) = delete;
  LeadConsole& operator=(const LeadConsole&) = delete;

  /// True once the shell has ended or was dismissed, or the user's
  /// terminal has closed.
  bool over();
  /// The shell's exit code (128 + N for signal N), once it has ended.
  std::optional<int> exit_code() const { return exit_code_; }

 private:
  /// Lead, while it is still the terminal of that name.
  Terminal* lead() const;
  void forward_keys();
  void follow_window_size();

  TerminalSet& terminals_;
  std::string name_;
  Terminal* terminal_;
  int in_;
  std::optional<int> exit_code_;
  WinchWatch winch_;
  Reactor::Watch winch_watch_;
  /// Ends when the user's terminal has gone.
  Reactor::Watch in_watch_;
  Subscription output_;
};

}  // namespace host
