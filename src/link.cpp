#include "link.h"

#include <string>

#include "io.h"

namespace {

reply::Reading failure(std::string error) { return error; }

}  // namespace

reply::Reading request(std::string_view socket_path, const wire::Json& envelope) {
  os::UniqueFd sock;
  if (wire::Status s = wire::connect_unix(socket_path, sock); !s.ok()) return failure(s.failure().text);

  std::string body = wire::to_wire(envelope);
  wire::Status sent = wire::write_all(sock.get(), body);
  if (sent.ok()) sent = wire::write_all(sock.get(), "\n");

  wire::Buffer line;
  wire::Status got = wire::read_line(sock.get(), line);
  // An app that stops reading a request it refuses (one too large) has
  // answered first: a whole reply line is its word, the failed send is not.
  if (!sent.ok() && (!got.ok() || !line.view().ends_with('\n'))) return failure(sent.failure().text);
  if (!got.ok()) return failure(got.failure().text);
  return reply::read(std::move(line));
}
