#include "io.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os_error.h"

namespace wire {
namespace {

/// The least room a read of a line is given; the first read gets this much.
constexpr std::size_t kReadBlock = 65536;

/// One write, as a socket send when `fd` is a socket.
ssize_t write_some(int fd, std::string_view data) {
  ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = ::write(fd, data.data(), data.size());
  return n;
}

/// Waits for a connect that a signal interrupted to finish.
bool finish_connect(int fd) {
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

}  // namespace

Error os_failure(int err) { return Error(os::error_text(err)); }

Status write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write_some(fd, data);
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure(errno);
    }
    if (n == 0) return Error("failed to write whole buffer");
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Buffer::Buffer(std::string_view bytes) {
  if (bytes.empty() || !reserve_more(bytes.size())) return;
  std::memcpy(data_, bytes.data(), bytes.size());
  size_ = bytes.size();
}

Buffer::~Buffer() { std::free(data_); }

bool Buffer::reserve_more(std::size_t n) {
  if (room_size() >= n) return true;
  std::size_t capacity = std::max(size_ + n, 2 * capacity_);
  void* grown = std::realloc(data_, capacity);
  if (grown == nullptr) return false;
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
  return true;
}

Status read_line(int fd, Buffer& line) {
  for (;;) {
    if (line.room_size() < kReadBlock && !line.reserve_more(kReadBlock)) return os_failure(ENOMEM);
    ssize_t n = ::read(fd, line.room(), line.room_size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure(errno);
    }
    if (n == 0) return {};
    const char* start = line.room();
    line.resize(line.size() + static_cast<std::size_t>(n));
    if (const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(n))) {
      line.resize(static_cast<std::size_t>(static_cast<const char*>(lf) - line.data()) + 1);
      return {};
    }
  }
}

Status read_all(int fd, std::string& text) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return {};
    } else if (errno != EINTR) {
      return os_failure(errno);
    }
  }
}

std::optional<UnixAddress> unix_address(std::string_view path) {
  if (path.size() > kMaxSocketPath) return std::nullopt;
  UnixAddress address;
  address.addr.sun_family = AF_UNIX;
  std::memcpy(address.addr.sun_path, path.data(), path.size());
  address.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  return address;
}

Status connect_unix(std::string_view path, os::UniqueFd& fd) {
  std::optional<UnixAddress> address = unix_address(path);
  if (!address) return Error("local socket name length exceeds capacity of sun_path of sockaddr_un");
  fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return os_failure(errno);
  if (::connect(fd.get(), address->get(), address->size) == 0) return {};
  if (errno == EINTR && finish_connect(fd.get())) return {};
  return os_failure(errno);
}

}  // namespace wire
