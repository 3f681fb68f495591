#pragma once
// How a pseudo-terminal is set at one instant, as far as the end of an asked
// turn depends on it: which process group holds the foreground, and whether
// the line discipline collects lines (canonical mode) or hands each key to
// the program as it comes (raw). Plain values: Terminal reads them from the
// pty's master, the turn rule (turn.h) compares them, tests script them.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "pty/foreground.h"
#include "screen/live_region.h"

namespace host {

/// The local modes of a terminal that tell programs apart. Line-reading
/// programs leave it canonical; line editors (readline in bash and python)
/// switch canonical mode and echo off while they read, and on again while
/// the command they read runs; full-screen programs switch signals off too
/// and take Ctrl-C as a key of their own.
struct TtyMode {
  /// The kernel collects whole lines (ICANON).
  bool canonical = true;
  /// The kernel echoes what is typed (ECHO).
  bool echo = true;
  /// Ctrl-C, Ctrl-\ and Ctrl-Z raise signals (ISIG).
  bool signals = true;

  bool operator==(const TtyMode&) const = default;
};

struct PtyState {
  /// The foreground process group; empty when it cannot be read.
  std::optional<pid_t> foreground;
  /// The process group of the terminal's own process.
  pid_t own_group = 0;
  /// Empty when the mode cannot be read (the pty is closed).
  std::optional<TtyMode> mode;
  /// What the foreground group is doing (foreground.h).
  Activity activity = Activity::kUnknown;
};

/// How a terminal's program looks while it waits for its next command,
/// learned by the turn rule when the program first waits for input and
/// again at the end of every turn that ended at its prompt. A program
/// started by a wrapper (`sh -c CMD`, `env`) may wait in another group than
/// the one the host started, so the group is learned too.
struct Home {
  /// The group that waits at the terminal between commands.
  std::optional<pid_t> group;
  std::optional<TtyMode> mode;
  bool alternate = false;
  /// The cursor lines seen at the idle prompt, right-trimmed, newest last.
  std::vector<std::string> prompts;
  /// The rows around the input of the program in `chrome_group` as they
  /// were while it was idle (live_region.h): an agent's input box and footer,
  /// also of an agent a shell started.
  InputChrome chrome;
  std::optional<pid_t> chrome_group;

  bool known() const { return group.has_value(); }
  /// Records `prompt` as seen at the idle prompt (kKept at most).
  void learn_prompt(std::string prompt);
  static constexpr std::size_t kKept = 8;
};

}  // namespace host
