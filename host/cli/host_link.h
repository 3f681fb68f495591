#pragma once
// The person's side of the host's socket: one request of welkmora-host's
// own commands (join, ls, send-keys, attach, resume, forget, stop) and its
// reply, where the socket is when --socket does not say, and the wait for
// a host that is stopping.

#include <sys/types.h>

#include <chrono>
#include <string>

#include "cli/fault.h"
#include "cli/options.h"
#include "json_text.h"
#include "unique_fd.h"

namespace host::cli {

/// The socket of --socket (made absolute), else $WELKMORA_SOCKET (the host
/// of the canvas this shell is on), else the default one.
std::string socket_of(const Args& args);

/// Connects to the host at `socket` and sends `request` as one line;
/// returns the connection.
OrFault<os::UniqueFd> send_request(const std::string& socket, const wire::Json& request);

/// Reads the reply line from `fd` and returns its result; bytes that came
/// after the line stay in `rest`. A failure with the host's error text when
/// it refused.
OrFault<wire::Json> read_reply(int fd, const std::string& socket, std::string& rest);

/// send_request() and read_reply(): the result of one whole exchange.
OrFault<wire::Json> person_request(const std::string& socket, const wire::Json& request);

/// Waits until process `pid` (the host) has ended, for at most `limit`;
/// false when it still runs.
bool wait_until_gone(pid_t pid, std::chrono::milliseconds limit);

}  // namespace host::cli
