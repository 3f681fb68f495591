// The person's terminal while it shows the host's: raw mode and its
// restoration, the window size, resize notices. Pseudo-terminal pairs stand
// in for the person's terminal.

#include "console/raw_mode.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <system_error>

#include "unique_fd.h"

using namespace host;
using os::UniqueFd;

namespace {

struct PtyPair {
  UniqueFd master, slave;
};

PtyPair open_pty() {
  int m = -1, s = -1;
  if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  return {UniqueFd(m), UniqueFd(s)};
}

termios mode_of(int fd) {
  termios t{};
  EXPECT_EQ(::tcgetattr(fd, &t), 0);
  return t;
}

bool same_mode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

void expect_raw(int fd) {
  termios t = mode_of(fd);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
}

bool readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
}

}  // namespace

TEST(RawMode, AppliedAndRestored) {
  PtyPair pty = open_pty();
  termios original = mode_of(pty.slave.get());
  ASSERT_NE(original.c_lflag & ICANON, 0u);
  {
    RawMode raw(pty.slave.get());
    expect_raw(pty.slave.get());
  }
  EXPECT_TRUE(same_mode(mode_of(pty.slave.get()), original));

  // Restoring early, then the destructor: once only, and a new guard may follow.
  {
    RawMode raw(pty.slave.get());
    raw.restore();
    EXPECT_TRUE(same_mode(mode_of(pty.slave.get()), original));
    raw.restore();
    RawMode again(pty.slave.get());
    expect_raw(pty.slave.get());
  }
  EXPECT_TRUE(same_mode(mode_of(pty.slave.get()), original));
}

TEST(RawMode, RestoredWhenAnExceptionLeaves) {
  PtyPair pty = open_pty();
  termios original = mode_of(pty.slave.get());
  EXPECT_THROW(
      {
        RawMode raw(pty.slave.get());
        throw std::runtime_error("leaving");
      },
      std::runtime_error);
  EXPECT_TRUE(same_mode(mode_of(pty.slave.get()), original));
}

TEST(RawMode, RestoredWhenTheProcessExits) {
  PtyPair pty = open_pty();
  termios original = mode_of(pty.slave.get());
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Static storage that is never destroyed: only the exit handler restores.
    alignas(RawMode) static unsigned char storage[sizeof(RawMode)];
    new (storage) RawMode(pty.slave.get());
    termios t{};
    ::tcgetattr(pty.slave.get(), &t);
    std::exit((t.c_lflag & ICANON) == 0 ? 0 : 7);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);  // raw while it ran
  EXPECT_TRUE(same_mode(mode_of(pty.slave.get()), original));
}

TEST(RawMode, RefusedWhereItCannotWork) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  UniqueFd r(fds[0]), w(fds[1]);
  EXPECT_THROW(RawMode bad(r.get()), std::system_error);

  PtyPair pty = open_pty();
  termios original = mode_of(pty.slave.get());
  {
    RawMode first(pty.slave.get());
    EXPECT_THROW(RawMode second(pty.slave.get()), std::logic_error);
  }
  EXPECT_TRUE(same_mode(mode_of(pty.slave.get()), original));
}

TEST(WindowSize, ReadFromATerminalOnly) {
  PtyPair pty = open_pty();
  winsize size{};
  size.ws_row = 33;
  size.ws_col = 101;
  ASSERT_EQ(::ioctl(pty.master.get(), TIOCSWINSZ, &size), 0);
  std::optional<winsize> seen = window_size(pty.slave.get());
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->ws_row, 33);
  EXPECT_EQ(seen->ws_col, 101);

  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  UniqueFd r(fds[0]), w(fds[1]);
  EXPECT_FALSE(window_size(r.get()).has_value());
}

TEST(WinchWatch, SignalBecomesReadable) {
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGWINCH, nullptr, &before), 0);
  {
    WinchWatch watch;
    EXPECT_FALSE(readable(watch.fd(), 0));
    EXPECT_FALSE(watch.drain());

    ASSERT_EQ(::raise(SIGWINCH), 0);
    ASSERT_EQ(::raise(SIGWINCH), 0);
    EXPECT_TRUE(readable(watch.fd(), 5000));
    EXPECT_TRUE(watch.drain());
    EXPECT_FALSE(readable(watch.fd(), 0));
    EXPECT_FALSE(watch.drain());

    EXPECT_THROW(WinchWatch second, std::logic_error);
  }
  struct sigaction after {};
  ASSERT_EQ(::sigaction(SIGWINCH, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, before.sa_handler);

  // A new watch works after the old one is gone.
  WinchWatch again;
  ASSERT_EQ(::raise(SIGWINCH), 0);
  EXPECT_TRUE(readable(again.fd(), 5000));
  EXPECT_TRUE(again.drain());
}
