#include "link.h"

#include <string>

#include "io.h"

namespace {

reply::Reading failure(std::string error) { return {std::nullopt, std::move(error)}; }

}  // namespace

reply::Reading request(std::string_view socket_path, const wire::Json& envelope) {
  wire::UniqueFd sock;
  if (wire::Status s = wire::connect_unix(socket_path, sock); !s.ok()) return failure(s.error());

  std::string body = wire::to_wire(envelope);
  if (wire::Status s = wire::write_all(sock.get(), body); !s.ok()) return failure(s.error());
  if (wire::Status s = wire::write_all(sock.get(), "\n"); !s.ok()) return failure(s.error());

  wire::Buffer line;
  if (wire::Status s = wire::read_line(sock.get(), line); !s.ok()) return failure(s.error());
  return reply::read(std::move(line));
}
