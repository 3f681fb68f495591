#pragma once
// One program running in a pseudo-terminal: the process, the master side of
// the pty and the screen it draws on. The pty is registered with the event
// loop from the start: the terminal reads the program's output as it comes
// and writes queued input as the program takes it.
//
// A held terminal is one that came back from a saved state: it shows its
// saved screen and runs nothing (no process, no pty) until the person
// starts it again, and reads as one whose program has ended.

#include <sys/ioctl.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/refusal.h"
#include "loop/clock.h"
#include "loop/listeners.h"
#include "loop/reactor.h"
#include "pty/process_info.h"
#include "pty/pty_state.h"
#include "screen/live_region.h"
#include "screen/screen.h"
#include "unique_fd.h"

namespace host {

/// What to start and with which extra environment.
struct Launch {
  /// argv[0] must be an absolute path.
  std::vector<std::string> argv;
  /// Set in the child's environment, over the host's own.
  std::vector<std::pair<std::string, std::string>> env;
  /// Variables removed from the host's environment before `env` is applied.
  std::vector<std::string> unset;
  int rows = 24;
  int cols = 80;
  /// The control group directory the program joins before it runs (see
  /// cgroups.h); empty for none.
  std::string cgroup;
  /// The working directory the program starts in; empty: the host's.
  std::string cwd;
  /// Output the screen shows before the program's own (a saved screen
  /// that the program goes on below).
  std::string screen;
};

class Terminal {
 public:
  /// Starts `launch` in a new pty watched by `reactor`; refuses when the
  /// program cannot be started. The program finds in WELKMORA_MARK_KEY a
  /// key of its terminal's own: the prompt marks of a shell set up by the
  /// host's bootstrap carry it, and only marks that do count (screen.h).
  static OrRefusal<std::unique_ptr<Terminal>> start(const Launch& launch, Reactor& reactor);
  /// A held terminal of `rows` by `cols` that shows `screen` (fed to its
  /// screen as output), with the exit code its program had, if it had ended.
  static std::unique_ptr<Terminal> hold(int rows, int cols, std::string_view screen, std::optional<int> exit_code,
                                        Reactor& reactor);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  /// The program's process id; 0 for a held terminal.
  pid_t pid() const { return pid_; }
  /// True for a held terminal, which runs nothing.
  bool held() const { return held_; }
  /// True while the pty is open: the program (or what it left) can still
  /// read input and write output.
  bool open() const { return static_cast<bool>(master_); }
  /// True while typed input waits for the program to read it.
  bool wants_write() const { return master_ && input_sent_ < input_.size(); }

  /// Queues `bytes` as typed input for the program and writes what it
  /// takes. Drops them, and is false, when the pty is closed or they would
  /// make more than kMaxPendingInput bytes wait: a program that does not read its
  /// input (but asks the terminal things, whose answers are input too)
  /// cannot make the host keep more.
  bool send(std::string_view bytes);
  /// Typed input the program has not taken yet.
  std::size_t pending_input() const { return input_.size() - input_sent_; }

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
  /// True once the program has ended, and for a held terminal.
  bool exited() const { return held_ || exit_status_.has_value(); }
  /// The exit code, or 128 + the signal number when a signal ended it;
  /// nothing while it runs, and for a held terminal whose program had not
  /// ended.
  std::optional<int> exit_code() const { return exit_status_; }
  /// The process's end as waitpid reported it.
  std::optional<int> wait_status() const { return wait_status_; }

  /// The recent screen text: visible rows plus recent scrollback.
  std::string screen_text() const;
  /// The screen from absolute row `from_row` on (Screen::snapshot).
  ScreenText screen_snapshot(std::uint64_t from_row) const { return screen_.snapshot(from_row); }
  /// True when the pty is in canonical (line) mode, where the kernel keeps
  /// at most kLineLimit bytes of a line; false when it is closed.
  bool line_mode() const;
  /// The pty's foreground process group and mode, the program's group (its
  /// home group once learned), and what the foreground is doing, from /proc.
  PtyState pty_state() const;
  /// How the program looks while it waits for its next command; the turn
  /// rule learns it.
  Home& home() { return home_; }
  const Home& home() const { return home_; }
  /// Sets the window size of the pty (the program gets SIGWINCH) and of
  /// the screen (of a held terminal, the screen's alone). False, with errno
  /// set, when the pty refuses it.
  bool resize(const winsize& size);
  /// The absolute row the cursor was on when the program last left the
  /// alternate screen (where the normal screen goes on), if it has.
  std::optional<std::uint64_t> left_alternate_at() const { return left_alternate_at_; }
  /// When the program last wrote anything (its start until then).
  Clock::time_point last_output() const { return last_output_; }
  /// The signs of work its screen has shown (live_region.h), learned from
  /// looks at the screen as output comes.
  const WorkSigns& work_signs() const { return work_signs_; }
  /// True when the screen shows a sign of work now: the program (an AI
  /// agent's terminal UI) says it is at work, whatever its process does.
  bool shows_work() const;
  /// The emulated screen, for those who draw it elsewhere or type keys by
  /// name into it.
  Screen& screen() { return screen_; }
  const Screen& screen() const { return screen_; }

  /// Hears every chunk of output, after the screen has seen it.
  [[nodiscard]] Subscription on_output(std::function<void(std::string_view)> fn) {
    return output_listeners_.add(std::move(fn));
  }
  /// Hears the end of the terminal: its program has ended (exited() is
  /// true) or it was hung up. Heard once.
  [[nodiscard]] Subscription on_end(std::function<void()> fn) { return end_listeners_.add(std::move(fn)); }

  /// True when the process whose `ancestry` this is belongs to this
  /// terminal: it or one of its ancestors is the program, runs in its
  /// session or has its pty as controlling terminal.
  bool holds(const std::vector<ProcessInfo>& ancestry) const;

  /// Scrollback lines that screen_text() includes.
  static constexpr std::size_t kCheckHistory = 200;
  /// The longest line a pty in canonical mode takes, without its end.
  static constexpr std::size_t kLineLimit = 4095;
  /// Most typed input kept for a program that does not read it.
  static constexpr std::size_t kMaxPendingInput = 1 << 20;

 private:
  Terminal(pid_t pid, os::UniqueFd master, int rows, int cols, Reactor& reactor);
  void on_events(unsigned events);
  /// One read from the master, run through the screen; the bytes read, 0
  /// when nothing more will come now.
  std::size_t read_once(Clock::time_point now);
  void write_input();
  /// The pty's local modes; empty when it is closed.
  std::optional<TtyMode> mode() const;
  void announce_end();
  /// Closes the pty: the event loop stops watching it, queued input goes.
  void close_pty();

  pid_t pid_;
  os::UniqueFd master_;
  Reactor::Watch watch_;
  Screen screen_;
  /// Typed input; the first input_sent_ bytes have been written.
  std::string input_;
  std::size_t input_sent_ = 0;
  Clock::time_point last_output_;
  std::optional<int> exit_status_;
  std::optional<int> wait_status_;
  bool lingering_ = false;
  /// The pty's device, as processes name their controlling terminal.
  dev_t tty_ = 0;
  /// The pty's path, as /proc/PID/fd links name it.
  std::string tty_path_;
  Home home_;
  WorkSigns work_signs_;
  Clock::time_point work_looked_at_{};
  std::optional<std::uint64_t> left_alternate_at_;
  Listeners<std::string_view> output_listeners_;
  Listeners<> end_listeners_;
  bool ended_ = false;
  bool held_ = false;
};

}  // namespace host
