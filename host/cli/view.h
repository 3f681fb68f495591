#pragma once
// The person's terminal as a view of one of the host's terminals, over an
// attach connection (server/frames.h): raw mode while it lasts, every key
// to the host's terminal and its output back, this window's size passed
// on. Ctrl-\, a hang-up of this terminal, SIGHUP or SIGTERM detach; the
// host's terminal goes on.

#include <optional>
#include <string>

#include "json_text.h"
#include "unique_fd.h"

namespace host::cli {

struct ViewOptions {
  /// Keys and window size do not reach the terminal.
  bool read_only = false;
  /// Draws on this terminal's own screen, where what scrolls off stays in
  /// its scrollback (the host sends the terminal's scrollback first),
  /// rather than on its alternate screen.
  bool keeps_scrollback = false;
};

/// How a view ended.
struct ViewEnd {
  /// The line to print afterwards ("[detached from Dev]").
  std::string line;
  /// The connection failed rather than ended.
  bool failed = false;
  /// The person detached (the terminal goes on).
  bool detached = false;
  /// The exit code of the terminal's program, when it ended.
  std::optional<int> status;
};

/// The attach request for terminal `name` (or, with `lead`, the
/// workspace's Lead) at this terminal's size.
wire::Json attach_request(const std::string& name, bool lead, const ViewOptions& options);

/// Relays between this terminal and the accepted attach connection `fd`
/// (`rest`: what came after the reply line) until it ends.
ViewEnd run_view(int fd, std::string rest, const std::string& name, const ViewOptions& options);

}  // namespace host::cli
