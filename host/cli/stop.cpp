// `welkmora-host stop`: ends the running host from any shell of the person,
// as SIGTERM does (its programs are hung up, its terminals and state are
// saved), and says what it ended once it has.

#include <cstdio>

#include "cli/command.h"
#include "cli/host_link.h"

namespace host::cli {
namespace {

using namespace std::chrono_literals;

/// How long the host has to end: the grace of its programs and its wait
/// for them, with room to spare.
constexpr auto kStopLimit = 20s;

}  // namespace

OrFault<int> run_stop(const Args& args) {
  if (OrFault<void> checked = require_operands(args, 0, 0, ""); !checked.ok()) return checked.failure();
  std::string socket = socket_of(args);
  OrFault<wire::Json> stopping = person_request(socket, {{"command", "stop"}});
  if (!stopping.ok()) return stopping.failure();
  int pid = stopping->value("pid", 0);
  int running = stopping->value("running", 0);
  if (pid > 0 && !wait_until_gone(pid, kStopLimit)) {
    return Fault{"the host on " + socket + " (process " + std::to_string(pid) + ") is still stopping"};
  }
  std::printf("stopped the host on %s (process %d) and the %d program%s it ran\n", socket.c_str(), pid, running,
              running == 1 ? "" : "s");
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace host::cli
