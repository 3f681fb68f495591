#include "console/lead.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "io.h"
#include "model/token.h"

namespace host {

Result<std::string> start_lead(Canvas& canvas, TerminalSet& terminals, const std::string& shell,
                               const std::string& socket_path, int user_fd) {
  std::string name = canvas.free_terminal_name("Lead");
  std::string token = new_token();
  Launch launch;
  launch.argv = {shell};
  launch.unset = {"WELKMORA_ROLE", "WELKMORA_ROLE_PROMPT", "LINES", "COLUMNS"};
  launch.env = {{"WELKMORA_SOCKET", socket_path}, {"WELKMORA_TERMINAL_ID", name}, {"WELKMORA_TOKEN", token}};
  if (std::optional<winsize> size = window_size(user_fd); size && size->ws_row > 0 && size->ws_col > 0) {
    launch.rows = size->ws_row;
    launch.cols = size->ws_col;
  }
  if (Result<Terminal*> started = terminals.start(name, launch); !started.ok()) return started.failure();
  canvas.add_terminal({name, token, false, "", true});
  return name;
}

LeadConsole::LeadConsole(Reactor& reactor, TerminalSet& terminals, std::string name, int in, int out)
    : terminals_(terminals),
      name_(std::move(name)),
      terminal_(terminals.find(name_)),
      in_(in),
      winch_watch_(reactor.watch(winch_.fd(), POLLIN,
                                 [this](unsigned) {
                                   if (winch_.drain()) follow_window_size();
                                 })),
      in_watch_(reactor.watch(in, POLLIN, [this](unsigned) { forward_keys(); })) {
  // A user's terminal that is gone takes the output with it: the host stops
  // on the hang-up, so a failed write is left at that.
  if (terminal_ != nullptr) {
    output_ = terminal_->on_output([out](std::string_view bytes) { (void)wire::write_all(out, bytes); });
  }
}

LeadConsole::~LeadConsole() = default;

Terminal* LeadConsole::lead() const {
  Terminal* t = terminals_.find(name_);
  return t == terminal_ ? t : nullptr;
}

void LeadConsole::forward_keys() {
  char buf[4096];
  ssize_t n = ::read(in_, buf, sizeof buf);
  if (n > 0) {
    if (Terminal* t = lead()) t->send(std::string_view(buf, static_cast<std::size_t>(n)));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    in_watch_.reset();  // the user's terminal has gone
  }
}

void LeadConsole::follow_window_size() {
  Terminal* t = lead();
  std::optional<winsize> size = window_size(in_);
  if (t != nullptr && size && size->ws_row > 0 && size->ws_col > 0) t->resize(*size);
}

bool LeadConsole::over() {
  Terminal* t = lead();
  if (t != nullptr && t->exited()) exit_code_ = t->exit_code();
  return t == nullptr || t->exited() || !in_watch_;
}

}  // namespace host
