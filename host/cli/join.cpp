#include "cli/join.h"

#include <cstdio>

#include "cli/command.h"
#include "cli/host_link.h"
#include "loop/log.h"

namespace host {
namespace {

std::string text_member(const wire::Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

const cli::OptionSpec kOptions[] = {{"--socket", "PATH", "the host's socket"}};

int run_join(const cli::Args& args) {
  cli::require_operands(args, 1, 1, "join needs a NAME");
  std::string socket = cli::socket_of(args);
  Joined joined = join_host(socket, args.operands()[0]);
  std::fputs(export_lines(socket, joined).c_str(), stdout);
  report("joined as " + joined.name);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

const cli::Command cli::kJoin = {"join",
                                 "join NAME [--socket PATH]",
                                 "put this shell on the canvas",
                                 "Registers this shell as the canvas terminal NAME (a suffix when it is taken)\n"
                                 "and prints the variables that make it one; use it as\n"
                                 "  eval \"$(welkmora-host join NAME)\"\n",
                                 kOptions,
                                 run_join};

Joined join_host(const std::string& socket_path, const std::string& name) {
  wire::Json result = cli::person_request(socket_path, {{"command", "join"}, {"name", name}});
  Joined joined;
  if (result.is_object()) joined = {text_member(result, "name"), text_member(result, "token")};
  if (joined.name.empty() || joined.token.empty()) throw cli::Failure("bad reply from the host: " + result.dump());
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
