#pragma once
// Interactive mode: the user's shell runs in the host as the terminal
// "Lead", shown in the user's own terminal. Keys go through to Lead's pty,
// Lead's output comes back, and window-size changes follow. When the shell
// ends (or the user's terminal goes away) the host stops.

#include <optional>
#include <string>
#include <vector>

#include "canvas.h"
#include "console.h"
#include "protocol.h"
#include "server.h"
#include "terminal_set.h"

namespace host {

/// Starts the user's shell (settings.shell) as terminal "Lead" in a pty the
/// size of terminal `user_fd`, and puts it on the canvas. Its environment is
/// the host's plus WELKMORA_SOCKET, WELKMORA_TERMINAL_ID and WELKMORA_TOKEN;
/// TERM stays the user's, since the user's terminal shows its output.
/// Returns the name. Throws host::Refusal when the shell cannot start.
std::string start_lead(Canvas& canvas, TerminalSet& terminals, const HostSettings& settings, int user_fd);

class LeadConsole : public LoopGuest {
 public:
  /// Relays between terminal `name` and the user's terminal: keys read from
  /// `in`, output written to `out`. The user's terminal should be in raw
  /// mode, so that every key reaches the shell as it is.
  LeadConsole(TerminalSet& terminals, std::string name, int in, int out);
  ~LeadConsole() override;
  LeadConsole(const LeadConsole&) = delete;
  LeadConsole& operator=(const LeadConsole&) = delete;

  std::vector<pollfd> watches() override;
  void on_ready(const pollfd& ready, Clock::time_point now) override;
  /// True once the shell has ended or was dismissed, or the user's
  /// terminal has closed.
  bool wants_stop() override;

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
  bool in_open_ = true;
  std::optional<int> exit_code_;
  WinchWatch winch_;
};

}  // namespace host
