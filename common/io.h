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
#include <utility>

#include "status.h"
#include "unique_fd.h"

namespace wire {

/// Bytes in one block of memory that grows by realloc, which extends a
/// large block or moves its pages rather than copying it: a line of any
/// length is held once while it is read, and only the pages written to are
/// taken from the system.
class Buffer {
 public:
  Buffer() = default;
  explicit Buffer(std::string_view bytes);
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer();

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  /// Room for at least `n` bytes after the end, the block at least
  /// doubled; false when the system has no memory for it.
  bool reserve_more(std::size_t n);
  /// The free bytes after the end, to be filled and then taken by resize().
  char* room() { return data_ + size_; }
  std::size_t room_size() const { return capacity_ - size_; }
  /// Ends the bytes at `n`, within what was reserved.
  void resize(std::size_t n) { size_ = n; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

/// Writes all of `data` to `fd`. A socket is written with MSG_NOSIGNAL, so
/// a peer that has gone is a failure (EPIPE), never a SIGPIPE.
Status write_all(int fd, std::string_view data);

/// Reads from `fd`, appending to `line`, until the first line feed or the
/// end of the stream. On success `line` ends just after that line feed
/// (anything read beyond it is dropped), or holds everything up to the end
/// of the stream. Reads take as much as the buffer has room for, which
/// grows with the line.
Status read_line(int fd, Buffer& line);

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
Status connect_unix(std::string_view path, os::UniqueFd& fd);

}  // namespace wire
