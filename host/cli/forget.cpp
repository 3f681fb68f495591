// `welkmora-host forget NAME`: takes a held terminal off the canvas with its
// saved screen, without ever running it again.

#include <cstdio>

#include "cli/command.h"
#include "cli/host_link.h"
#include "loop/log.h"

namespace host::cli {

OrFault<int> run_forget(const Args& args) {
  if (OrFault<void> checked = require_operands(args, 1, 1, "forget needs a NAME"); !checked.ok())
    return checked.failure();
  const std::string& name = args.operands()[0];
  OrFault<wire::Json> result = person_request(socket_of(args), {{"command", "forget"}, {"name", name}});
  if (!result.ok()) return result.failure();
  std::printf("forgot %s\n", escape_controls(name).c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace host::cli
