// A stand-in app for the round-trip benchmark: listens on the Unix socket
// given as its first argument and answers every connection, one at a time,
// with the reply line of the named case once the request line has arrived.
// Ends on SIGTERM or SIGINT, removing the socket file.
//
// usage: reply_server SOCKET_PATH CASE

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cases.h"
#include "unique_fd.h"

namespace {

constexpr std::size_t kMaxRequest = 1 << 20;

os::UniqueFd listen_on(const char* path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) return {};
  std::strcpy(addr.sun_path, path);
  os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return {};
  ::unlink(path);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return {};
  if (::listen(fd.get(), 64) != 0) return {};
  return fd;
}

/// SIGTERM and SIGINT, blocked and delivered as a readable descriptor so the
/// accept loop can wait for a client and a stop request at once.
os::UniqueFd stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return {};
  return os::UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC));
}

/// Reads until the request's line feed (or the client gives up).
bool read_request(int fd) {
  char buf[4096];
  std::size_t total = 0;
  while (total < kMaxRequest) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    total += static_cast<std::size_t>(n);
    if (std::memchr(buf, '\n', static_cast<std::size_t>(n)) != nullptr) return true;
  }
  return false;
}

void answer(int fd, std::string_view reply) {
  if (!read_request(fd)) return;
  while (!reply.empty()) {
    ssize_t n = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    reply.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Case* which = argc == 3 ? bench::find_case(argv[2]) : nullptr;
  if (which == nullptr) {
    std::fprintf(stderr, "usage: reply_server SOCKET_PATH CASE\n");
    return 2;
  }
  const std::string reply = bench::reply_line(*which);
  os::UniqueFd stop = stop_signals();
  os::UniqueFd listener = listen_on(argv[1]);
  if (!stop || !listener) {
    std::perror("reply_server");
    return 1;
  }
  pollfd fds[2] = {{listener.get(), POLLIN, 0}, {stop.get(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("reply_server: poll");
      break;
    }
    if (fds[1].revents != 0) break;
    os::UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client) answer(client.get(), reply);
  }
  ::unlink(argv[1]);
  return 0;
}
