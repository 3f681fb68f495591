#pragma once
// The person's side of the host's socket: one request of welkmora-host's
// own commands (join, ls, send-keys, attach) and its reply, and where the
// socket is when --socket does not say.

#include <optional>
#include <string>

#include "cli/options.h"
#include "json_text.h"
#include "unique_fd.h"

namespace host::cli {

/// A refusal or failure to report with status 1.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The socket of --socket (made absolute), else $WELKMORA_SOCKET (the host
/// of the canvas this shell is on), else the default one.
std::string socket_of(const Args& args);

/// Connects to the host at `socket` and sends `request` as one line;
/// returns the connection. Throws Failure.
wire::UniqueFd send_request(const std::string& socket, const wire::Json& request);

/// Reads the reply line from `fd` into `line` (without its line feed) and
/// returns its result; bytes that came after the line stay in `rest`.
/// Throws Failure with the host's error text when it refused.
wire::Json read_reply(int fd, const std::string& socket, std::string& rest);

/// send_request() and read_reply(): the result of one whole exchange.
wire::Json person_request(const std::string& socket, const wire::Json& request);

}  // namespace host::cli
