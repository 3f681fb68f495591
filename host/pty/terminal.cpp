#include "pty/terminal.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/refusal.h"
#include "base/token.h"
#include "os_error.h"

extern char** environ;

namespace host {
namespace {

/// Most bytes read from a pty after its process ended.
constexpr std::size_t kDrainLimit = 4 << 20;
/// The shortest time between two looks at the screen for signs of work:
/// spinners draw a frame every 80 ms or more, and a flood of output is not
/// slowed by looks at every read.
constexpr auto kWorkLookInterval = std::chrono::milliseconds(30);
/// The variable that hands a program the key its prompt marks must carry.
constexpr std::string_view kMarkKeyVariable = "WELKMORA_MARK_KEY";

bool name_is(std::string_view entry, std::string_view name) {
  return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
}

/// The host's environment without the unset and overridden names, then the
/// launch's own variables.
std::vector<std::string> child_environment(const Launch& launch) {
  std::vector<std::string> out;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string_view entry(*e);
    auto dropped = [&](std::string_view name) { return name_is(entry, name); };
    if (std::any_of(launch.unset.begin(), launch.unset.end(), dropped)) continue;
    if (std::any_of(launch.env.begin(), launch.env.end(), [&](const auto& kv) { return dropped(kv.first); })) continue;
    out.emplace_back(entry);
  }
  for (const auto& [name, value] : launch.env) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

/// What the child reports when it cannot run the program: which step
/// failed and its errno.
struct ExecFailure {
  enum Step : int { kNone, kExec, kChdir };
  int step = kNone;
  int err = 0;
};

/// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(char* const* argv, char* const* envp, int report_fd, const char* cgroup_procs,
                             const char* cwd) {
  if (cgroup_procs != nullptr) {
    // Joins its group before it runs, so all it ever starts is in there;
    // when it cannot, the host ends it by its session instead.
    int fd = open(cgroup_procs, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      ssize_t ignored = write(fd, "0", 1);
      (void)ignored;
      close(fd);
    }
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) signal(sig, SIG_DFL);
  // The host's own descriptors are close-on-exec already; this also catches
  // any it inherited, so the program gets its terminal and nothing else.
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  ExecFailure failure{ExecFailure::kChdir, 0};
  if (cwd == nullptr || chdir(cwd) == 0) {
    execve(argv[0], argv, envp);
    failure.step = ExecFailure::kExec;
  }
  failure.err = errno;
  ssize_t ignored = write(report_fd, &failure, sizeof failure);
  (void)ignored;
  _exit(127);
}

/// Waits for the child's exec: kNone when it happened, else what failed.
ExecFailure exec_outcome(int report_fd) {
  ExecFailure failure;
  ssize_t n;
  do n = read(report_fd, &failure, sizeof failure);
  while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof failure) ? failure : ExecFailure{};
}

}  // namespace

OrRefusal<std::unique_ptr<Terminal>> Terminal::start(const Launch& launch, Reactor& reactor) {
  if (launch.argv.empty() || !launch.argv[0].starts_with('/')) return refuse("no program to start");
  wire::Fallible<std::string> mark_key = new_token();
  if (!mark_key.ok()) return refuse("cannot start a terminal: " + mark_key.failure().text);
  Launch keyed = launch;
  keyed.env.emplace_back(kMarkKeyVariable, *mark_key);
  std::vector<std::string> args = launch.argv;
  std::vector<std::string> env = child_environment(keyed);
  std::vector<char*> argv = pointers(args), envp = pointers(env);
  std::string cgroup_procs = launch.cgroup.empty() ? std::string() : launch.cgroup + "/cgroup.procs";

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return refuse("cannot start a terminal: " + os::error_text(errno));
  os::UniqueFd report_read(report[0]), report_write(report[1]);

  winsize size{};
  size.ws_row = static_cast<unsigned short>(launch.rows);
  size.ws_col = static_cast<unsigned short>(launch.cols);
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return refuse("cannot open a pseudo-terminal: " + os::error_text(errno));
  if (pid == 0) {
    exec_child(argv.data(), envp.data(), report_write.get(), cgroup_procs.empty() ? nullptr : cgroup_procs.c_str(),
               launch.cwd.empty() ? nullptr : launch.cwd.c_str());
  }

  os::UniqueFd master_fd(master);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  report_write.reset();
  if (ExecFailure failed = exec_outcome(report_read.get()); failed.step != ExecFailure::kNone) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (failed.step == ExecFailure::kChdir) {
      return refuse("cannot start in " + launch.cwd + ": " + os::error_text(failed.err));
    }
    return refuse("cannot start " + launch.argv[0] + ": " + os::error_text(failed.err));
  }
  // The constructor throws what it cannot do (the reactor's watch, memory):
  // the one place where that turns into a refusal.
  try {
    std::unique_ptr<Terminal> terminal(new Terminal(pid, std::move(master_fd), launch.rows, launch.cols, reactor));
    terminal->screen_.set_mark_key(std::move(*mark_key));
    terminal->screen_.feed(launch.screen);
    return terminal;
  } catch (const std::exception& e) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return refuse(std::string("cannot start a terminal: ") + e.what());
  }
}

std::unique_ptr<Terminal> Terminal::hold(int rows, int cols, std::string_view screen, std::optional<int> exit_code,
                                         Reactor& reactor) {
  std::unique_ptr<Terminal> terminal(new Terminal(0, os::UniqueFd(), rows, cols, reactor));
  terminal->held_ = true;
  terminal->exit_status_ = exit_code;
  terminal->screen_.feed(screen);
  return terminal;
}

Terminal::Terminal(pid_t pid, os::UniqueFd master, int rows, int cols, Reactor& reactor)
    : pid_(pid),
      master_(std::move(master)),
      watch_(master_ ? Reactor::Watch(reactor, master_.get(), POLLIN, [this](unsigned events) { on_events(events); })
                     : Reactor::Watch()),
      screen_(rows, cols, [this](std::string_view reply) { send(reply); }),
      last_output_(Clock::now()) {
  char name[64];
  struct stat st {};
  if (master_ && ptsname_r(master_.get(), name, sizeof name) == 0 && stat(name, &st) == 0) {
    tty_ = st.st_rdev;
    tty_path_ = name;
  }
}

Terminal::~Terminal() {
  if (!exited()) kill_now();
}

void Terminal::on_events(unsigned events) {
  if (events & POLLOUT) write_input();
  if (events & (POLLIN | POLLHUP | POLLERR)) read_once(Clock::now());
}

std::size_t Terminal::read_once(Clock::time_point now) {
  if (!master_) return 0;
  // A read a round: small enough that a terminal flooding output leaves the
  // loop free for clients between its reads.
  char buf[4096];
  ssize_t n = read(master_.get(), buf, sizeof buf);
  if (n > 0) {
    std::string_view bytes(buf, static_cast<std::size_t>(n));
    bool was_alternate = screen_.alternate();
    screen_.feed(bytes);
    if (was_alternate && !screen_.alternate()) {
      left_alternate_at_ = screen_.lines_scrolled() + static_cast<std::uint64_t>(screen_.cursor().row);
    }
    last_output_ = now;
    if (now - work_looked_at_ >= kWorkLookInterval) {
      work_looked_at_ = now;
      work_signs_.observe(visible_rows(screen_.snapshot(screen_.lines_scrolled())));
    }
    output_listeners_.notify(bytes);
    return bytes.size();
  }
  // End of stream or EIO: every slave descriptor is closed for good.
  if (n == 0 || (errno != EAGAIN && errno != EINTR)) close_pty();
  return 0;
}

bool Terminal::send(std::string_view bytes) {
  if (!master_ || pending_input() + bytes.size() > kMaxPendingInput) return false;
  input_.append(bytes);
  write_input();
  return true;
}

void Terminal::write_input() {
  while (wants_write()) {
    std::string_view rest = std::string_view(input_).substr(input_sent_);
    ssize_t n = write(master_.get(), rest.data(), rest.size());
    if (n > 0) {
      input_sent_ += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN) input_sent_ = input_.size();  // the program cannot take it
      break;
    }
  }
  if (input_sent_ > kMaxPendingInput && input_sent_ * 2 > input_.size()) {
    // A program that reads now and then: what it took goes, so the queue
    // does not keep growing at its front.
    input_.erase(0, input_sent_);
    input_sent_ = 0;
  }
  if (input_sent_ == input_.size()) {
    input_.clear();
    input_sent_ = 0;
  }
  watch_.set_events(wants_write() ? POLLIN | POLLOUT : POLLIN);
}

void Terminal::close_pty() {
  watch_.reset();
  master_.reset();
  input_.clear();
  input_sent_ = 0;
}

void Terminal::hang_up() {
  // An open pty after the process ended: something it started holds it.
  // While any member of the process group lives, the kernel keeps its id
  // from being reused, so the group can still be signalled.
  lingering_ = exited() && master_;
  close_pty();
  if (may_run()) kill(-pid_, SIGHUP);
  announce_end();
}

void Terminal::announce_end() {
  if (ended_) return;
  ended_ = true;
  end_listeners_.notify();
}

bool Terminal::holds(const std::vector<ProcessInfo>& ancestry) const {
  // A process that left the session (setsid) and the pty still counts
  // while an ancestor of it does.
  if (pid_ <= 0) return false;
  return std::any_of(ancestry.begin(), ancestry.end(), [this](const ProcessInfo& p) {
    return p.pid == pid_ || p.session == pid_ || (tty_ != 0 && p.tty == tty_);
  });
}

void Terminal::kill_now() {
  if (may_run()) kill(-pid_, SIGKILL);
}

void Terminal::set_exited(int wait_status, Clock::time_point now) {
  std::size_t drained = 0;
  while (drained < kDrainLimit) {
    std::size_t n = read_once(now);
    if (n == 0) break;
    drained += n;
  }
  wait_status_ = wait_status;
  exit_status_ = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
  announce_end();
}

std::optional<TtyMode> Terminal::mode() const {
  termios mode{};
  if (!master_ || ::tcgetattr(master_.get(), &mode) != 0) return std::nullopt;
  return TtyMode{(mode.c_lflag & ICANON) != 0, (mode.c_lflag & ECHO) != 0, (mode.c_lflag & ISIG) != 0};
}

bool Terminal::line_mode() const {
  std::optional<TtyMode> now = mode();
  return now && now->canonical;
}

PtyState Terminal::pty_state() const {
  PtyState state;
  pid_t group = exited() ? -1 : ::getpgid(pid_);
  state.own_group = home_.group ? *home_.group : group > 0 ? group : pid_;
  if (master_) {
    if (pid_t foreground = ::tcgetpgrp(master_.get()); foreground > 0) state.foreground = foreground;
  }
  state.mode = mode();
  if (state.foreground) state.activity = foreground_activity(*state.foreground, tty_path_);
  // Output the host has not read yet: as far as a turn can tell, the
  // program is still at work (it may be done, its output still on the way).
  int unread = 0;
  if (master_ && ::ioctl(master_.get(), FIONREAD, &unread) == 0 && unread > 0) state.activity = Activity::kRunning;
  return state;
}

bool Terminal::resize(const winsize& size) {
  if (held_) {
    screen_.resize(size.ws_row, size.ws_col);
    return true;
  }
  if (!master_) {
    errno = EBADF;
    return false;
  }
  if (ioctl(master_.get(), TIOCSWINSZ, &size) != 0) return false;
  screen_.resize(size.ws_row, size.ws_col);
  return true;
}

std::string Terminal::screen_text() const { return screen_.text(kCheckHistory); }

bool Terminal::shows_work() const {
  return work_signs_.shown(visible_rows(screen_.snapshot(screen_.lines_scrolled())));
}

}  // namespace host
