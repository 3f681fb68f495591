#include "cli/host_link.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "io.h"
#include "os_error.h"
#include "server/endpoint.h"

namespace host::cli {

std::string socket_of(const Args& args) {
  std::optional<std::string> socket = args.value("--socket");
  if (socket) return absolute_path(*socket);
  // In a shell on the canvas, the host it is on.
  const char* env = std::getenv("WELKMORA_SOCKET");
  return env != nullptr && env[0] == '/' ? env : default_socket_path();
}

OrFault<os::UniqueFd> send_request(const std::string& socket, const wire::Json& request) {
  os::UniqueFd fd;
  if (wire::Status s = wire::connect_unix(socket, fd); !s.ok()) {
    return Fault{"cannot connect to " + socket + ": " + s.failure().text};
  }
  if (wire::Status s = wire::write_all(fd.get(), wire::to_wire(request) + "\n"); !s.ok()) {
    return Fault{"cannot send to " + socket + ": " + s.failure().text};
  }
  return fd;
}

OrFault<wire::Json> read_reply(int fd, const std::string& socket, std::string& rest) {
  std::string line;
  for (;;) {
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fault{"cannot read from " + socket + ": " + os::error_text(errno)};
    line.append(buf, static_cast<std::size_t>(n));
    std::size_t lf = line.find('\n');
    if (lf != std::string::npos) {
      rest = line.substr(lf + 1);
      line.resize(lf);
      break;
    }
    if (n == 0) break;
  }
  wire::Parsed reply = wire::parse_json(line);
  if (!reply.ok() || !reply->is_object()) return Fault{"bad reply from the host: " + line};
  const wire::Json& r = *reply;
  auto ok = r.find("ok");
  if (ok == r.end() || *ok != true) {
    auto error = r.find("error");
    return Fault{error != r.end() && error->is_string() ? error->get<std::string>() : "the host refused"};
  }
  return r.value("result", wire::Json());
}

OrFault<wire::Json> person_request(const std::string& socket, const wire::Json& request) {
  OrFault<os::UniqueFd> fd = send_request(socket, request);
  if (!fd.ok()) return fd.failure();
  std::string rest;
  return read_reply(fd->get(), socket, rest);
}

bool wait_until_gone(pid_t pid, std::chrono::milliseconds limit) {
  os::UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!process) return errno == ESRCH;
  pollfd fd{process.get(), POLLIN, 0};
  int n;
  do n = ::poll(&fd, 1, static_cast<int>(limit.count()));
  while (n < 0 && errno == EINTR);
  return n > 0;
}

}  // namespace host::cli
