#pragma once
// `welkmora-host join NAME`: registers a shell of the user's own with the
// running host and prints the lines that make it a canvas terminal:
//   eval "$(welkmora-host join Lead)"

#include <sys/types.h>

#include <optional>
#include <string>

#include "cli/fault.h"

namespace host {

/// The terminal the host registered.
struct Joined {
  std::string name;
  std::string token;
};

/// Asks the host at `socket_path` to register a terminal called `name`
/// (the host picks "name-2" and so on when it is taken) that leaves when
/// process `pid` ends, else when the shell this process runs for ends.
/// A failure with the host's or the system's error text.
cli::OrFault<Joined> join_host(const std::string& socket_path, const std::string& name,
                               std::optional<pid_t> pid = std::nullopt);

/// `export` lines for WELKMORA_SOCKET, WELKMORA_TERMINAL_ID and
/// WELKMORA_TOKEN, each value single-quoted for a POSIX shell.
std::string export_lines(const std::string& socket_path, const Joined& joined);

/// `text` between single quotes, with every single quote written as '\''.
std::string shell_quote(const std::string& text);

}  // namespace host
