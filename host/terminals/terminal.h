#pragma once
// One program running in a pseudo-terminal: the process, the master side of
// the pty, the screen it draws on, and what it wrote recently. Driven by the
// event loop: it reads when fd() is readable and writes queued input when
// wants_write() is set and fd() is writable.

#include <sys/ioctl.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "screen.h"
#include "unique_fd.h"

namespace host {

using Clock = std::chrono::steady_clock;

/// What to start and with which extra environment.
struct Launch {
  /// argv[0] must be an absolute path.
  std::vector<std::string> argv;
  /// Set in the child's environment, over the host's own.
  std::vector<std::pair<std::string, std::string>> env;
  /// Variables removed from the host's environment before `env` is applied.
  std::vector<std::string> unset;
  int rows = 40;
  int cols = 120;
};

/// A point in a terminal's output, to ask what came after it.
struct OutputMark {
  std::uint64_t bytes = 0;
  std::uint64_t lines_scrolled = 0;
};

class Terminal {
 public:
  /// Starts `launch` in a new pty. Throws host::Refusal when the program
  /// cannot be started.
  static std::unique_ptr<Terminal> start(const Launch& launch);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  pid_t pid() const { return pid_; }
  /// The pty master, or -1 once it is closed.
  int fd() const { return master_.get(); }
  bool wants_write() const { return master_ && !pending_input_.empty(); }

  /// Reads what the program wrote and runs it through the screen.
  void on_readable(Clock::time_point now);
  /// Writes queued input.
  void on_writable();
  /// Queues `bytes` as typed input for the program.
  void send(std::string_view bytes);

  /// Closes the pty master and sends SIGHUP to the process group, also when
  /// the process has ended but left others holding the pty.
  void hang_up();
  /// Sends SIGKILL to the process group while it may run.
  void kill_now();
  /// True while the process, or one it left holding the pty at the hang-up,
  /// may still run.
  bool may_run() const { return !exited() || lingering_; }
  /// Records the process's end (a waitpid status) after reading what it
  /// left in the pty.
  void set_exited(int wait_status, Clock::time_point now);
  bool exited() const { return exit_status_.has_value(); }
  /// The exit code, or 128 + the signal number when a signal ended it.
  std::optional<int> exit_code() const { return exit_status_; }
  /// The process's end as waitpid reported it.
  std::optional<int> wait_status() const { return wait_status_; }

  /// The recent screen text: visible rows plus recent scrollback.
  std::string screen_text() const;
  /// The current end of the output.
  OutputMark mark() const;
  /// Raw output after `mark` (as far as it is kept), made valid UTF-8.
  std::string output_since(const OutputMark& mark) const;
  /// The screen text with only the scrollback that appeared after `mark`.
  std::string screen_text_since(const OutputMark& mark) const;
  /// The screen from absolute row `from_row` on (Screen::snapshot).
  ScreenText screen_snapshot(std::uint64_t from_row) const { return screen_.snapshot(from_row); }
  /// True when the pty is in canonical (line) mode, where the kernel keeps
  /// at most kLineLimit bytes of a line; false when it is closed.
  bool line_mode() const;
  /// Sets the window size of the pty (the program gets SIGWINCH) and of
  /// the screen. False, with errno set, when the pty refuses it.
  bool resize(const winsize& size);
  /// When the program last wrote anything (its start until then).
  Clock::time_point last_output() const { return last_output_; }
  /// Called with every chunk of output, after the screen has seen it.
  void set_output_observer(std::function<void(std::string_view)> observer) { observer_ = std::move(observer); }

  /// Scrollback lines that screen_text() includes.
  static constexpr std::size_t kCheckHistory = 200;
  /// The longest line a pty in canonical mode takes, without its end.
  static constexpr std::size_t kLineLimit = 4095;
  /// Raw output kept for output_since().
  static constexpr std::size_t kRecentOutputLimit = 1 << 20;

 private:
  Terminal(pid_t pid, wire::UniqueFd master, int rows, int cols);
  /// One read from the master; false when nothing more will come now.
  bool read_once(Clock::time_point now);
  void record(std::string_view bytes, Clock::time_point now);

  pid_t pid_;
  wire::UniqueFd master_;
  Screen screen_;
  std::string pending_input_;
  std::string recent_output_;
  std::uint64_t output_total_ = 0;
  Clock::time_point last_output_;
  std::optional<int> exit_status_;
  std::optional<int> wait_status_;
  bool lingering_ = false;
  std::function<void(std::string_view)> observer_;
};

}  // namespace host
