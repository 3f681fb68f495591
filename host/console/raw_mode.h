#pragma once
// The person's own terminal while it shows one of the host's (an attach, the
// workspace's Lead): raw mode while keys and output pass through, the window
// size, and resize notices for the poll loop.

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <optional>

#include "unique_fd.h"

namespace host {

/// Keeps a terminal in raw mode for the guard's lifetime and puts the saved
/// settings back when it ends, also when the process leaves through exit():
/// the settings of the one active guard are restored by an atexit handler.
class RawMode {
 public:
  /// Saves the settings of terminal `fd` and switches it to raw mode (as
  /// cfmakeraw sets it). Throws std::system_error when `fd` is not a terminal
  /// or the settings cannot be changed, std::logic_error when another guard
  /// is active.
  explicit RawMode(int fd);
  ~RawMode();
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

  /// Puts the saved settings back now; later calls and the destructor do
  /// nothing more.
  void restore();

 private:
  bool active_ = true;
};

/// The window size of terminal `fd`, or nothing when `fd` is not a terminal.
std::optional<winsize> window_size(int fd);

/// Turns SIGWINCH into a readable descriptor (a self-pipe), so a poll loop
/// learns of window-size changes. A self-pipe rather than a blocked signal:
/// processes started afterwards inherit no blocked SIGWINCH and get the
/// default disposition back on exec. The handler is installed with
/// SA_RESTART; poll itself still returns EINTR and must be retried. At most
/// one watch may exist at a time.
class WinchWatch {
 public:
  /// Installs the handler; throws std::system_error when that fails and
  /// std::logic_error when another watch exists.
  WinchWatch();
  /// Puts the previous SIGWINCH disposition back.
  ~WinchWatch();
  WinchWatch(const WinchWatch&) = delete;
  WinchWatch& operator=(const WinchWatch&) = delete;

  /// Becomes readable after a SIGWINCH.
  int fd() const { return read_.get(); }
  /// Empties the pipe; true when at least one SIGWINCH had arrived.
  bool drain();

 private:
  os::UniqueFd read_, write_;
  struct sigaction previous_ {};
};

}  // namespace host
