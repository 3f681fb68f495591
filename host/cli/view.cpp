#include "cli/view.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "console/raw_mode.h"
#include "io.h"
#include "server/frames.h"

namespace host::cli {
namespace {

/// The key that detaches: Ctrl-\.
constexpr char kDetach = 0x1c;

/// Switches this terminal to its alternate screen, so that detaching puts
/// back what was there.
constexpr std::string_view kEnter = "\x1b[?1049h";
/// Resets every mode the host lets the attached program set (see
/// attach_filter.h): attributes, scroll region, insert and newline modes,
/// cursor keys and keypad, reverse video, origin mode, autowrap, cursor,
/// mouse and focus reporting, bracketed paste, synchronized output,
/// charsets and cursor style.
constexpr std::string_view kReset =
    "\x1b[0m\x1b[r\x1b[4l\x1b[20l\x1b[?1l\x1b>\x1b[?5l\x1b[?6l\x1b[?7h\x1b[?25h"
    "\x1b[?1000l\x1b[?1002l\x1b[?1003l\x1b[?1004l\x1b[?1005l\x1b[?1006l\x1b[?1015l\x1b[?2004l\x1b[?2026l"
    "\x1b(B\x1b)B\x0f\x1b[0 q";
/// Leaves the alternate screen.
constexpr std::string_view kLeave = "\x1b[?1049l";

std::string size_text(const winsize& size) { return std::to_string(size.ws_row) + " " + std::to_string(size.ws_col); }

/// SIGHUP, SIGTERM and SIGINT as a readable descriptor while the view lasts:
/// they detach it, with this terminal put back as far as it is still there.
class HangUps {
 public:
  HangUps() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGHUP);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    ::sigprocmask(SIG_BLOCK, &set_, &old_);
    fd_.reset(::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK));
  }
  ~HangUps() {
    // A hang-up that ended the view, or comes after it, ends nothing more:
    // what is left is to put the terminal back and say so, where it can.
    signalfd_siginfo info;
    while (fd_ && ::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    ::signal(SIGHUP, SIG_IGN);
    fd_.reset();
    ::sigprocmask(SIG_SETMASK, &old_, nullptr);
  }
  HangUps(const HangUps&) = delete;
  HangUps& operator=(const HangUps&) = delete;
  int fd() const { return fd_.get(); }

 private:
  sigset_t set_{}, old_{};
  os::UniqueFd fd_;
};

/// The end of a view whose connection or terminal failed.
ViewEnd failure(std::string line) { return ViewEnd{std::move(line), true, false, std::nullopt}; }

class Relay {
 public:
  Relay(int fd, bool read_only, std::string rest)
      : fd_(fd), read_only_(read_only), sent_(window_size(STDIN_FILENO).value_or(winsize{})) {
    frames_.append(rest);
  }

  ViewEnd run(const std::string& name) {
    ViewEnd detached{"[detached from " + name + "]", false, true, std::nullopt};
    while (true) {
      if (std::optional<ViewEnd> end = drain_frames()) return *end;
      pollfd fds[] = {
          {STDIN_FILENO, POLLIN, 0}, {fd_, POLLIN, 0}, {winch_.fd(), POLLIN, 0}, {hang_ups_.fd(), POLLIN, 0}};
      if (::poll(fds, 4, -1) < 0) {
        if (errno == EINTR) continue;
        return failure("[lost the terminal: poll failed]");
      }
      if (fds[3].revents != 0) return detached;
      if (fds[2].revents != 0 && winch_.drain()) send_size();
      if (fds[0].revents != 0 && !forward_keys()) return detached;
      if (fds[1].revents != 0 && !receive()) return failure("[lost the connection to the host]");
    }
  }

 private:
  std::optional<ViewEnd> drain_frames() {
    while (std::optional<Frame> frame = frames_.next()) {
      if (frame->type == kOutputFrame) (void)wire::write_all(STDOUT_FILENO, frame->payload);
      if (frame->type == kStatusFrame) status_ = std::atoi(frame->payload.c_str());
      if (frame->type == kEndFrame) return ViewEnd{frame->payload, false, false, status_};
    }
    if (frames_.broken()) return failure("[bad data from the host]");
    return std::nullopt;
  }

  /// False once the person detached (or this terminal closed).
  bool forward_keys() {
    char buf[4096];
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    std::string_view keys(buf, static_cast<std::size_t>(n));
    // Keys typed after a resize reach the terminal after it, even when they
    // are read before the SIGWINCH is.
    send_size();
    std::size_t detach = keys.find(kDetach);
    if (!read_only_ && detach != 0) (void)wire::write_all(fd_, encode_frame(kInputFrame, keys.substr(0, detach)));
    return detach == std::string_view::npos;
  }

  bool receive() {
    char buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    frames_.append(std::string_view(buf, static_cast<std::size_t>(n)));
    return true;
  }

  /// Sends this window's size when it changed since it was last sent (the
  /// host had it with the attach request).
  void send_size() {
    std::optional<winsize> size = window_size(STDIN_FILENO);
    if (read_only_ || !size || (size->ws_row == sent_.ws_row && size->ws_col == sent_.ws_col)) return;
    sent_ = *size;
    (void)wire::write_all(fd_, encode_frame(kResizeFrame, size_text(*size)));
  }

  int fd_;
  bool read_only_;
  FrameReader frames_;
  WinchWatch winch_;
  HangUps hang_ups_;
  std::optional<int> status_;
  /// The window size the host has.
  winsize sent_;
};

}  // namespace

wire::Json attach_request(const std::string& name, bool lead, const ViewOptions& options) {
  wire::Json request = {{"command", "attach"}, {"readOnly", options.read_only}};
  if (lead) {
    request["lead"] = true;
  } else {
    request["name"] = name;
  }
  if (options.keeps_scrollback) request["history"] = true;
  if (std::optional<winsize> size = window_size(STDIN_FILENO); size && size->ws_row > 0 && size->ws_col > 0) {
    request["rows"] = size->ws_row;
    request["cols"] = size->ws_col;
  }
  return request;
}

ViewEnd run_view(int fd, std::string rest, const std::string& name, const ViewOptions& options) {
  RawMode raw(STDIN_FILENO);
  Relay relay(fd, options.read_only, std::move(rest));
  if (!options.keeps_scrollback) (void)wire::write_all(STDOUT_FILENO, kEnter);
  ViewEnd end = relay.run(name);
  (void)wire::write_all(STDOUT_FILENO, kReset);
  // On its own screen, what the terminal showed stays, and the line about
  // the end goes below it.
  (void)wire::write_all(STDOUT_FILENO, options.keeps_scrollback ? std::string_view("\r\n") : kLeave);
  return end;
}

}  // namespace host::cli
