#include "cli/join.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "cli/command.h"
#include "cli/host_link.h"
#include "loop/log.h"

namespace host {
namespace {

std::string text_member(const wire::Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

/// The --pid option's process id, if given.
cli::OrFault<std::optional<pid_t>> pid_option(const cli::Args& args) {
  std::optional<std::string> text = args.value("--pid");
  if (!text) return std::optional<pid_t>();
  char* end = nullptr;
  long pid = std::strtol(text->c_str(), &end, 10);
  if (text->empty() || *end != '\0' || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
    return cli::usage_fault("--pid needs a process id, not " + *text);
  }
  return std::optional<pid_t>(static_cast<pid_t>(pid));
}

}  // namespace

cli::OrFault<int> cli::run_join(const cli::Args& args) {
  if (cli::OrFault<void> checked = cli::require_operands(args, 1, 1, "join needs a NAME"); !checked.ok()) {
    return checked.failure();
  }
  std::string socket = cli::socket_of(args);
  cli::OrFault<std::optional<pid_t>> pid = pid_option(args);
  if (!pid.ok()) return pid.failure();
  cli::OrFault<Joined> joined = join_host(socket, args.operands()[0], *pid);
  if (!joined.ok()) return joined.failure();
  std::fputs(export_lines(socket, *joined).c_str(), stdout);
  report("joined as " + joined->name);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

cli::OrFault<Joined> join_host(const std::string& socket_path, const std::string& name, std::optional<pid_t> pid) {
  wire::Json request = {{"command", "join"}, {"name", name}};
  if (pid) request["pid"] = *pid;
  cli::OrFault<wire::Json> result = cli::person_request(socket_path, request);
  if (!result.ok()) return result.failure();
  Joined joined;
  if (result->is_object()) joined = {text_member(*result, "name"), text_member(*result, "token")};
  if (joined.name.empty() || joined.token.empty()) return cli::Fault{"bad reply from the host: " + result->dump()};
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
