#include "raw_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace harness {

RawClient::RawClient(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (!fd_ || ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("cannot connect to " + path + ": " + std::strerror(errno));
  }
}

bool RawClient::send(std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void RawClient::close_sending() { ::shutdown(fd_.get(), SHUT_WR); }

std::string RawClient::receive_all() {
  std::string got;
  char buf[65536];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd_.get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return got + "<timeout>";
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return got;
    got.append(buf, static_cast<std::size_t>(n));
  }
}

bool RawClient::quiet_for(std::chrono::milliseconds wait) {
  pollfd pfd{fd_.get(), POLLIN, 0};
  return ::poll(&pfd, 1, static_cast<int>(wait.count())) == 0;
}

}  // namespace harness
