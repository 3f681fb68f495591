#include "join.h"

#include <stdexcept>

#include "io.h"
#include "json_text.h"

namespace host {
namespace {

/// Sends `line` and reads one line back (without its line feed), blocking.
std::string round_trip(const std::string& socket_path, const std::string& line) {
  wire::UniqueFd fd;
  if (wire::Status s = wire::connect_unix(socket_path, fd); !s.ok()) {
    throw std::runtime_error("cannot connect to " + socket_path + ": " + s.error());
  }
  if (wire::Status s = wire::write_all(fd.get(), line); !s.ok()) {
    throw std::runtime_error("cannot send to " + socket_path + ": " + s.error());
  }
  wire::Buffer received;
  if (wire::Status s = wire::read_line(fd.get(), received); !s.ok()) {
    throw std::runtime_error("cannot read from " + socket_path + ": " + s.error());
  }
  std::string reply(received.view());
  if (reply.ends_with('\n')) reply.pop_back();
  return reply;
}

std::string text_member(const wire::Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

Joined join_host(const std::string& socket_path, const std::string& name) {
  wire::Json request = {{"command", "join"}, {"name", name}};
  std::string reply_line = round_trip(socket_path, wire::to_wire(request) + "\n");
  wire::Result reply = wire::parse_json(reply_line);
  if (!reply.ok() || !reply.value->is_object()) throw std::runtime_error("bad reply from the host: " + reply_line);
  const wire::Json& r = *reply.value;
  auto ok = r.find("ok");
  if (ok == r.end() || *ok != true) {
    std::string error = text_member(r, "error");
    throw std::runtime_error(error.empty() ? "the host refused without a reason" : error);
  }
  auto result = r.find("result");
  Joined joined;
  if (result != r.end()) joined = {text_member(*result, "name"), text_member(*result, "token")};
  if (joined.name.empty() || joined.token.empty()) throw std::runtime_error("bad reply from the host: " + reply_line);
  return joined;
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string export_lines(const std::string& socket_path, const Joined& joined) {
  return "export WELKMORA_SOCKET=" + shell_quote(socket_path) + "\n" +
         "export WELKMORA_TERMINAL_ID=" + shell_quote(joined.name) + "\n" +
         "export WELKMORA_TOKEN=" + shell_quote(joined.token) + "\n";
}

}  // namespace host
