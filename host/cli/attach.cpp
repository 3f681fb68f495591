// `welkmora-host attach NAME [--read-only]`: one of the host's terminals in
// this one, as tmux attach shows a session. The screen is drawn at once from
// the host's emulated screen; then every key goes to the terminal and its
// output comes back, and this window's size applies to it. Ctrl-\ detaches.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/command.h"
#include "cli/host_link.h"
#include "console/raw_mode.h"
#include "io.h"
#include "server/frames.h"

namespace host::cli {
namespace {

const OptionSpec kOptions[] = {
    {"--read-only", "", "watch only: keys and window size do not reach the terminal"},
    {"--socket", "PATH", "the host's socket"},
};

/// The key that detaches: Ctrl-\.
constexpr char kDetach = 0x1c;

/// Switches this terminal to its alternate screen, so that detaching puts
/// back what was there, and resets every mode the host lets the attached
/// program set (see attach_filter.h): attributes, scroll region, insert and
/// newline modes, cursor keys and keypad, reverse video, origin mode,
/// autowrap, cursor, mouse and focus reporting, bracketed paste,
/// synchronized output, charsets and cursor style.
constexpr std::string_view kEnter = "\x1b[?1049h";
constexpr std::string_view kLeave =
    "\x1b[0m\x1b[r\x1b[4l\x1b[20l\x1b[?1l\x1b>\x1b[?5l\x1b[?6l\x1b[?7h\x1b[?25h"
    "\x1b[?1000l\x1b[?1002l\x1b[?1003l\x1b[?1004l\x1b[?1005l\x1b[?1006l\x1b[?1015l\x1b[?2004l\x1b[?2026l"
    "\x1b(B\x1b)B\x0f\x1b[0 q\x1b[?1049l";

std::string size_text(const winsize& size) { return std::to_string(size.ws_row) + " " + std::to_string(size.ws_col); }

/// Relays between this terminal and the attach connection `fd` until the
/// terminal ends, the person detaches or the host goes; returns the line to
/// print afterwards and whether that is a failure.
class Relay {
 public:
  Relay(int fd, bool read_only, std::string rest) : fd_(fd), read_only_(read_only) { frames_.append(rest); }

  std::pair<std::string, bool> run(const std::string& name) {
    while (true) {
      if (std::optional<std::pair<std::string, bool>> end = drain_frames()) return *end;
      pollfd fds[] = {{STDIN_FILENO, POLLIN, 0}, {fd_, POLLIN, 0}, {winch_.fd(), POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        return {"[lost the terminal: poll failed]", true};
      }
      if (fds[2].revents != 0 && winch_.drain()) send_size();
      if (fds[0].revents != 0 && !forward_keys()) return {"[detached from " + name + "]", false};
      if (fds[1].revents != 0 && !receive()) return {"[lost the connection to the host]", true};
    }
  }

 private:
  std::optional<std::pair<std::string, bool>> drain_frames() {
    while (std::optional<Frame> frame = frames_.next()) {
      if (frame->type == kOutputFrame) (void)wire::write_all(STDOUT_FILENO, frame->payload);
      if (frame->type == kEndFrame) return std::pair{frame->payload, false};
    }
    if (frames_.broken()) return std::pair{std::string("[bad data from the host]"), true};
    return std::nullopt;
  }

  /// False once the person detached (or this terminal closed).
  bool forward_keys() {
    char buf[4096];
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    std::string_view keys(buf, static_cast<std::size_t>(n));
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

  void send_size() {
    std::optional<winsize> size = window_size(STDIN_FILENO);
    if (!read_only_ && size) (void)wire::write_all(fd_, encode_frame(kResizeFrame, size_text(*size)));
  }

  int fd_;
  bool read_only_;
  FrameReader frames_;
  WinchWatch winch_;
};

Result<int> run_attach(const Args& args) {
  if (std::optional<Fault> fault = require_operands(args, 1, 1, "attach needs a NAME")) return *fault;
  if (::isatty(STDIN_FILENO) == 0) return usage_fault("attach needs a terminal on standard input");
  const std::string& name = args.operands()[0];
  std::string socket = socket_of(args);
  wire::Json request = {{"command", "attach"}, {"name", name}, {"readOnly", args.has("--read-only")}};
  if (std::optional<winsize> size = window_size(STDIN_FILENO); size && size->ws_row > 0 && size->ws_col > 0) {
    request["rows"] = size->ws_row;
    request["cols"] = size->ws_col;
  }
  Result<wire::UniqueFd> fd = send_request(socket, request);
  if (!fd.ok()) return fd.failure();
  std::string rest;
  if (Result<wire::Json> reply = read_reply(fd->get(), socket, rest); !reply.ok()) return reply.failure();

  std::pair<std::string, bool> end;
  {
    RawMode raw(STDIN_FILENO);
    Relay relay(fd->get(), args.has("--read-only"), rest);
    (void)wire::write_all(STDOUT_FILENO, kEnter);
    end = relay.run(name);
    (void)wire::write_all(STDOUT_FILENO, kLeave);
  }
  std::fprintf(end.second ? stderr : stdout, "%s\n", end.first.c_str());
  return end.second ? 1 : 0;
}

}  // namespace

const Command kAttach = {"attach",
                         "attach NAME [--read-only] [--socket PATH]",
                         "show a terminal here and type into it",
                         "Shows terminal NAME in this terminal and passes every key to it, until Ctrl-\\\n"
                         "detaches or its program ends. Standard input must be a terminal.\n",
                         kOptions,
                         run_attach};

}  // namespace host::cli
