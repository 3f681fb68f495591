// `welkmora-host send-keys NAME [-l] KEY...`: keys typed into any terminal
// with a screen, named as tmux names them (Enter, Escape, C-c, M-x, Up, F5);
// any other word is typed as text.

#include "cli/command.h"
#include "cli/host_link.h"

namespace host::cli {
namespace {

const OptionSpec kOptions[] = {
    {"-l", "", "type every KEY as text, also words that name keys"},
    {"--socket", "PATH", "the host's socket"},
};

Result<int> run_send_keys(const Args& args) {
  if (std::optional<Fault> fault = require_operands(args, 2, SIZE_MAX, "send-keys needs a NAME and at least one KEY")) {
    return *fault;
  }
  const std::vector<std::string>& words = args.operands();
  wire::Json keys(std::vector<std::string>(words.begin() + 1, words.end()));
  Result<wire::Json> sent = person_request(
      socket_of(args), {{"command", "send-keys"}, {"name", words[0]}, {"keys", keys}, {"literal", args.has("-l")}});
  if (!sent.ok()) return sent.failure();
  return 0;
}

}  // namespace

const Command kSendKeys = {"send-keys",
                           "send-keys NAME [-l] KEY... [--socket PATH]",
                           "type keys into a terminal",
                           "Types KEYs into terminal NAME, one after the other with nothing between them.\n"
                           "Key names: Enter, Escape, Tab, BTab, BSpace, Space, Up, Down, Left, Right, Home,\n"
                           "End, IC, DC, PageUp, PageDown, F1 to F12, and C-x, M-x, S-x for a key or\n"
                           "character with Ctrl, Meta or Shift. Any other word is typed as it is.\n",
                           kOptions,
                           run_send_keys};

}  // namespace host::cli
