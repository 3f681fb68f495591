#include "console/raw_mode.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace host {

// --- raw mode ---------------------------------------------------------------

namespace {

/// The settings the active guard will put back; fd -1 when none is active.
struct SavedMode {
  int fd = -1;
  termios mode{};
};

SavedMode& saved_mode() {
  static SavedMode saved;
  return saved;
}

int set_mode(int fd, int when, const termios& mode) {
  int rc;
  do {
    rc = ::tcsetattr(fd, when, &mode);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

void restore_saved_mode() {
  SavedMode& saved = saved_mode();
  if (saved.fd < 0) return;
  set_mode(saved.fd, TCSADRAIN, saved.mode);
  saved.fd = -1;
}

void restore_at_exit() {
  static bool registered = false;
  if (!registered) registered = std::atexit(restore_saved_mode) == 0;
}

[[noreturn]] void throw_errno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

RawMode::RawMode(int fd) {
  SavedMode& saved = saved_mode();
  if (saved.fd >= 0) throw std::logic_error("raw mode is active already");
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) throw_errno("tcgetattr");
  termios raw = mode;
  ::cfmakeraw(&raw);
  if (set_mode(fd, TCSAFLUSH, raw) != 0) throw_errno("tcsetattr");
  saved.fd = fd;
  saved.mode = mode;
  restore_at_exit();
}

RawMode::~RawMode() { restore(); }

void RawMode::restore() {
  if (!active_) return;
  active_ = false;
  restore_saved_mode();
}

// --- window size ------------------------------------------------------------

std::optional<winsize> window_size(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return std::nullopt;
  return size;
}

// --- resize notices -----------------------------------------------------------

namespace {

/// The write end of the active watch's pipe, for the signal handler.
std::atomic<int> winch_pipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void on_winch(int) {
  int saved_errno = errno;
  int fd = winch_pipe.load();
  if (fd >= 0) {
    char byte = 'w';
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);  // a full pipe already says enough
  }
  errno = saved_errno;
}

}  // namespace

WinchWatch::WinchWatch() {
  if (winch_pipe.load() >= 0) throw std::logic_error("a SIGWINCH watch exists already");
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw_errno("pipe2");
  read_.reset(fds[0]);
  write_.reset(fds[1]);
  winch_pipe.store(write_.get());
  struct sigaction action {};
  action.sa_handler = on_winch;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (::sigaction(SIGWINCH, &action, &previous_) != 0) {
    int err = errno;
    winch_pipe.store(-1);
    throw std::system_error(err, std::generic_category(), "sigaction");
  }
}

WinchWatch::~WinchWatch() {
  ::sigaction(SIGWINCH, &previous_, nullptr);
  winch_pipe.store(-1);
}

bool WinchWatch::drain() {
  bool any = false;
  char buf[64];
  while (true) {
    ssize_t n = ::read(read_.get(), buf, sizeof buf);
    if (n > 0) {
      any = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return any;
  }
}

}  // namespace host
