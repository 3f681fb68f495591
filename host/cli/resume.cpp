// `welkmora-host resume NAME | --all`: starts held terminals again (those
// that came back from before a restart), each below its saved screen.

#include <cstdio>

#include "cli/command.h"
#include "cli/host_link.h"
#include "loop/log.h"

namespace host::cli {

OrFault<int> run_resume(const Args& args) {
  bool all = args.has("--all");
  if (OrFault<void> checked = require_operands(args, all ? 0 : 1, all ? 0 : 1, "resume needs a NAME or --all");
      !checked.ok()) {
    return checked.failure();
  }
  wire::Json request = {{"command", "resume"}};
  if (all) {
    request["all"] = true;
  } else {
    request["name"] = args.operands()[0];
  }
  OrFault<wire::Json> result = person_request(socket_of(args), request);
  if (!result.ok()) return result.failure();
  for (const wire::Json& name : result->value("resumed", wire::Json::array())) {
    std::printf("resumed %s\n", escape_controls(name.get<std::string>()).c_str());
  }
  int status = std::fflush(stdout) == 0 ? 0 : 1;
  for (const wire::Json& failed : result->value("failed", wire::Json::array())) {
    report("cannot resume " + escape_controls(failed.value("name", "")) + ": " + failed.value("error", ""));
    status = 1;
  }
  if (all && result->value("resumed", wire::Json::array()).empty() && status == 0) std::puts("no terminal is held");
  return status;
}

}  // namespace host::cli
