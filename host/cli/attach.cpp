// `welkmora-host attach NAME [--read-only]`: one of the host's terminals in
// this one, as tmux attach shows a session (cli/view.h). The screen is drawn
// at once from the host's emulated screen, on this terminal's alternate
// screen; then every key goes to the terminal and its output comes back,
// and this window's size applies to it. Ctrl-\ detaches.

#include <unistd.h>

#include <cstdio>

#include "cli/command.h"
#include "cli/host_link.h"
#include "cli/view.h"

namespace host::cli {

OrFault<int> run_attach(const Args& args) {
  if (OrFault<void> checked = require_operands(args, 1, 1, "attach needs a NAME"); !checked.ok())
    return checked.failure();
  if (::isatty(STDIN_FILENO) == 0) return usage_fault("attach needs a terminal on standard input");
  const std::string& name = args.operands()[0];
  std::string socket = socket_of(args);
  ViewOptions options{args.has("--read-only"), false};
  OrFault<os::UniqueFd> fd = send_request(socket, attach_request(name, false, options));
  if (!fd.ok()) return fd.failure();
  std::string rest;
  if (OrFault<wire::Json> reply = read_reply(fd->get(), socket, rest); !reply.ok()) return reply.failure();
  ViewEnd end = run_view(fd->get(), std::move(rest), name, options);
  std::fprintf(end.failed ? stderr : stdout, "%s\n", end.line.c_str());
  return end.failed ? 1 : 0;
}

}  // namespace host::cli
