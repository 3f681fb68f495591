#pragma once
// Blocking I/O that the client and the host share: whole writes, reads up to
// a line feed or to the end, and Unix socket addresses with their one length
// rule. Interrupted calls are repeated; failures come back as values.

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "status.h"
#include "unique_fd.h"

namespace wire {

/// Writes all of `data` to `fd`. A socket is written with MSG_NOSIGNAL, so
/// a peer that has gone is a failure (EPIPE), never a SIGPIPE.
Status write_all(int fd, std::string_view data);

/// Reads from `fd` into `line` until the first line feed or the end of the
/// stream. On success `line` ends just after that line feed (anything read
/// beyond it is dropped), or holds everything up to the end of the stream.
Status read_line(int fd, std::string& line);

/// Reads from `fd` to the end of the stream, appending to `text`.
Status read_all(int fd, std::string& text);

/// Longest path a Unix socket address holds: all of sun_path, since the
/// address length says where the path ends and no terminating zero is needed.
inline constexpr std::size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path);

/// A Unix socket address and its length.
struct UnixAddress {
  sockaddr_un addr{};
  socklen_t size = 0;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr); }
};

/// The address of the socket at `path`, or nothing when `path` is longer
/// than kMaxSocketPath bytes.
std::optional<UnixAddress> unix_address(std::string_view path);

/// Connects a new close-on-exec stream socket to `path` into `fd`, waiting
/// as long as it takes (a connect that a signal interrupts goes on, and is
/// waited for). The failure texts are those of the system, and "local socket
/// name length exceeds capacity of sun_path of sockaddr_un" for a path too
/// long for an address.
Status connect_unix(std::string_view path, UniqueFd& fd);

}  // namespace wire
