#include "lead_console.h"

#include <unistd.h>

#include <cerrno>

#include "token.h"

namespace host {
namespace {

/// Writes all of `bytes` to `fd`, blocking; gives up when `fd` fails (the
/// user's terminal is gone, and the host stops on its hang-up).
void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string start_lead(Canvas& canvas, TerminalSet& terminals, const HostSettings& settings, int user_fd) {
  std::string name = canvas.free_terminal_name("Lead");
  std::string token = new_token();
  Launch launch;
  launch.argv = {settings.shell};
  launch.unset = {"WELKMORA_ROLE", "WELKMORA_ROLE_PROMPT", "LINES", "COLUMNS"};
  launch.env = {{"WELKMORA_SOCKET", settings.socket_path}, {"WELKMORA_TERMINAL_ID", name}, {"WELKMORA_TOKEN", token}};
  if (std::optional<winsize> size = window_size(user_fd); size && size->ws_row > 0 && size->ws_col > 0) {
    launch.rows = size->ws_row;
    launch.cols = size->ws_col;
  }
  terminals.start(name, launch);
  canvas.add_terminal({name, token, false, ""});
  return name;
}

LeadConsole::LeadConsole(TerminalSet& terminals, std::string name, int in, int out)
    : terminals_(terminals), name_(std::move(name)), terminal_(terminals.find(name_)), in_(in) {
  if (terminal_ != nullptr) terminal_->set_output_observer([out](std::string_view bytes) { write_all(out, bytes); });
}

LeadConsole::~LeadConsole() {
  if (Terminal* t = lead()) t->set_output_observer(nullptr);
}

Terminal* LeadConsole::lead() const {
  Terminal* t = terminals_.find(name_);
  return t == terminal_ ? t : nullptr;
}

std::vector<pollfd> LeadConsole::watches() {
  std::vector<pollfd> fds{{winch_.fd(), POLLIN, 0}};
  if (in_open_) fds.push_back({in_, POLLIN, 0});
  return fds;
}

void LeadConsole::on_ready(const pollfd& ready, Clock::time_point) {
  if (ready.fd == winch_.fd()) {
    if (winch_.drain()) follow_window_size();
  } else if (ready.fd == in_) {
    forward_keys();
  }
}

void LeadConsole::forward_keys() {
  char buf[4096];
  ssize_t n = ::read(in_, buf, sizeof buf);
  if (n > 0) {
    if (Terminal* t = lead()) t->send(std::string_view(buf, static_cast<std::size_t>(n)));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    in_open_ = false;  // the user's terminal has gone
  }
}

void LeadConsole::follow_window_size() {
  Terminal* t = lead();
  std::optional<winsize> size = window_size(in_);
  if (t != nullptr && size && size->ws_row > 0 && size->ws_col > 0) t->resize(*size);
}

bool LeadConsole::wants_stop() {
  Terminal* t = lead();
  if (t != nullptr && t->exited()) exit_code_ = t->exit_code();
  return t == nullptr || t->exited() || !in_open_;
}

}  // namespace host
