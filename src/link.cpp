#include "link.h"

#include <string>

#include "io.h"
#include "utf8.h"

namespace {

reply::Reading failure(std::string error) { return {std::nullopt, std::move(error)}; }

}  // namespace

reply::Reading request(std::string_view socket_path, const wire::Json& envelope) {
  wire::UniqueFd sock;
  if (wire::Status s = wire::connect_unix(socket_path, sock); !s.ok()) return failure(s.error());

  std::string body = wire::to_wire(envelope);
  if (wire::Status s = wire::write_all(sock.get(), body); !s.ok()) return failure(s.error());
  if (wire::Status s = wire::write_all(sock.get(), "\n"); !s.ok()) return failure(s.error());

  std::string line;
  if (wire::Status s = wire::read_line(sock.get(), line); !s.ok()) return failure(s.error());
  if (!wire::is_valid_utf8(line)) return failure("stream did not contain valid UTF-8");

  reply::Reading reply = reply::read(std::move(line));
  if (!reply.ok()) reply.error.insert(0, "bad response: ");
  return reply;
}
