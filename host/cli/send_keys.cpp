// `welkmora-host send-keys NAME [-l] KEY...`: keys typed into any terminal
// with a screen, named as tmux names them (Enter, Escape, C-c, M-x, Up, F5);
// any other word is typed as text.

#include "cli/command.h"
#include "cli/host_link.h"

namespace host::cli {

OrFault<int> run_send_keys(const Args& args) {
  if (OrFault<void> checked = require_operands(args, 2, SIZE_MAX, "send-keys needs a NAME and at least one KEY");
      !checked.ok()) {
    return checked.failure();
  }
  const std::vector<std::string>& words = args.operands();
  wire::Json keys(std::vector<std::string>(words.begin() + 1, words.end()));
  OrFault<wire::Json> sent = person_request(
      socket_of(args), {{"command", "send-keys"}, {"name", words[0]}, {"keys", keys}, {"literal", args.has("-l")}});
  if (!sent.ok()) return sent.failure();
  return 0;
}

}  // namespace host::cli
