// `debug`: the connection self-test. A five-line report on standard output
// around one exchange; a failed exchange is a line of the report, not an
// error message.

#include <sys/stat.h>

#include <string>

#include "commands.h"
#include "link.h"
#include "output.h"

namespace {

/// Whether anything answers to `path`, following symbolic links; why not is
/// of no interest here.
bool path_exists(std::string_view path) {
  struct stat info;
  return ::stat(std::string(path).c_str(), &info) == 0;
}

std::string header(std::string_view socket_path, std::string_view terminal_id) {
  std::string text = "=== Welkmora CLI Diagnostics ===\n\n";
  text.append("Terminal ID:   ").append(terminal_id.empty() ? "<none>" : terminal_id).push_back('\n');
  text.append("Socket:        ").append(socket_path).push_back('\n');
  text.append("Socket exists: ").append(path_exists(socket_path) ? "yes (unix socket)" : "NO").push_back('\n');
  return text;
}

}  // namespace

int run_debug(std::string_view socket_path, std::string_view terminal_id, const Json& envelope) {
  out::write(header(socket_path, terminal_id));
  // The label stays visible while a slow connect is under way.
  out::write("Connection:    ");
  out::flush();
  reply::Reading reply = request(socket_path, envelope);
  if (!reply.ok()) {
    out::write("FAILED (" + reply.failure() + ")\n");
    return out::finish(1);
  }
  out::write("OK\n\n");
  return out::finish(0);
}
