#include "link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "os_error.h"
#include "unique_fd.h"
#include "utf8.h"

namespace {

constexpr std::size_t kReadBlock = 8192;

wire::Result system_failure() { return wire::Result::failure(wire::os_error_text(errno)); }

/// Connects `fd` to `path`, waiting as long as it takes. A connect that a
/// signal interrupts goes on in the background; wait for its outcome.
bool connect_to(int fd, std::string_view path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return true;
  if (errno != EINTR) return false;
  pollfd pfd{fd, POLLOUT, 0};
  while (::poll(&pfd, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  int err = 0;
  socklen_t err_len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) != 0) return false;
  errno = err;
  return err == 0;
}

/// Writes all of `data`; the error text on failure, empty on success.
std::string send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return wire::os_error_text(errno);
    }
    if (n == 0) return "failed to write whole buffer";
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

/// Reads until the first line feed or the end of the stream into `line`,
/// which then ends at that line feed. The error text on failure.
std::string read_line(int fd, std::string& line) {
  std::size_t scanned = 0;
  for (;;) {
    line.resize(scanned + kReadBlock);
    ssize_t n = ::recv(fd, line.data() + scanned, kReadBlock, 0);
    if (n < 0) {
      line.resize(scanned);
      if (errno == EINTR) continue;
      return wire::os_error_text(errno);
    }
    line.resize(scanned + static_cast<std::size_t>(n));
    if (n == 0) return {};
    const char* start = line.data() + scanned;
    if (const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(n))) {
      line.resize(static_cast<std::size_t>(static_cast<const char*>(lf) - line.data()) + 1);
      return {};
    }
    scanned = line.size();
  }
}

}  // namespace

wire::Result request(std::string_view socket_path, const wire::Json& envelope) {
  if (socket_path.size() > kMaxSocketPath) {
    return wire::Result::failure("local socket name length exceeds capacity of sun_path of sockaddr_un");
  }
  wire::UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock) return system_failure();
  if (!connect_to(sock.get(), socket_path)) return system_failure();

  std::string body = wire::to_wire(envelope);
  if (std::string e = send_all(sock.get(), body); !e.empty()) return wire::Result::failure(e);
  if (std::string e = send_all(sock.get(), "\n"); !e.empty()) return wire::Result::failure(e);

  std::string line;
  if (std::string e = read_line(sock.get(), line); !e.empty()) return wire::Result::failure(e);
  if (!wire::is_valid_utf8(line)) return wire::Result::failure("stream did not contain valid UTF-8");

  wire::Result reply = wire::parse_json(line);
  if (!reply.ok()) reply.error.insert(0, "bad response: ");
  return reply;
}
