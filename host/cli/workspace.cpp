// `welkmora-host` with no command: the workspace in this terminal, as `tmux
// new -A` does it. It attaches to the workspace that serves the socket:
// Lead's screen comes back with its scrollback (cli/view.h). Where none
// runs, it starts one first, detached from this terminal: in a session of
// its own without a controlling terminal, standard input and output on
// /dev/null, standard error on its log file (cli/serve.h). Ctrl-\, or a
// hang-up of this terminal, detaches and the workspace goes on; leaving
// Lead's shell ends it.

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/host_link.h"
#include "cli/serve.h"
#include "cli/view.h"
#include "console/raw_mode.h"
#include "io.h"
#include "loop/log.h"
#include "os_error.h"
#include "server/endpoint.h"

namespace host::cli {
namespace {

using namespace std::chrono_literals;

/// How long the workspace has to end after Lead's shell did.
constexpr auto kEndLimit = 20s;

/// An accepted attach of the workspace's Lead.
struct Attached {
  os::UniqueFd fd;
  std::string rest;
  wire::Json result;
};

/// Attaches the Lead of the host at `socket`; nothing when no host serves
/// it.
OrFault<std::optional<Attached>> attach_lead(const std::string& socket, const ViewOptions& options) {
  Attached attached;
  if (!wire::connect_unix(socket, attached.fd).ok()) return std::optional<Attached>();
  if (wire::Status s = wire::write_all(attached.fd.get(), wire::to_wire(attach_request("", true, options)) + "\n");
      !s.ok()) {
    return Fault{"cannot send to " + socket + ": " + s.failure().text};
  }
  OrFault<wire::Json> reply = read_reply(attached.fd.get(), socket, attached.rest);
  if (!reply.ok()) return reply.failure();
  attached.result = std::move(*reply);
  return std::optional<Attached>(std::move(attached));
}

/// In the workspace's own process: runs the host and leaves. The starter
/// reads from `starter` that it is ready, or why it did not start.
[[noreturn]] void run_detached(const Args& args, os::UniqueFd starter, winsize size) {
  os::UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null.get(), fd);
  // Nothing of the person's terminal, or of whoever started this, stays open.
  auto keep = static_cast<unsigned>(starter.get());
  if (keep > 3) ::close_range(3, keep - 1, 0);
  ::close_range(keep + 1, ~0U, 0);
  HostMode mode{true, size.ws_row > 0 ? size.ws_row : 24, size.ws_col > 0 ? size.ws_col : 80,
                [&starter](const wire::Json& where) {
                  (void)wire::write_all(starter.get(), where.dump() + "\n");
                  starter.reset();
                }};
  int status = 1;
  std::string why;
  try {
    OrFault<int> ran = run_host(args, mode);
    if (ran.ok()) status = *ran;
    if (!ran.ok()) why = ran.failure().text;
  } catch (const std::exception& e) {
    why = e.what();
  }
  // Before it was ready, the starter reads why; later, the log does.
  if (!why.empty()) {
    if (starter) (void)wire::write_all(starter.get(), why + "\n");
    report(why);
  }
  std::exit(status);
}

/// Starts the workspace detached from this terminal, at its size; returns
/// its state file and log file once it serves its socket.
OrFault<wire::Json> start_workspace(const Args& args) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return Fault{"cannot start the workspace: " + os::error_text(errno)};
  os::UniqueFd from_host(ends[0]), to_starter(ends[1]);
  winsize size = window_size(STDIN_FILENO).value_or(winsize{});
  pid_t child = ::fork();
  if (child < 0) return Fault{"cannot start the workspace: " + os::error_text(errno)};
  if (child == 0) {
    // A session of its own, and no session leader: it never gets a
    // controlling terminal back.
    ::setsid();
    pid_t host = ::fork();
    if (host != 0) ::_exit(host > 0 ? 0 : 1);
    from_host.reset();
    run_detached(args, std::move(to_starter), size);
  }
  to_starter.reset();
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  std::string said;
  (void)wire::read_all(from_host.get(), said);
  wire::Parsed ready = wire::parse_json(said);
  if (ready.ok() && ready->is_object()) return std::move(*ready);
  while (!said.empty() && said.back() == '\n') said.pop_back();
  return Fault{said.empty() ? "the workspace did not start" : said};
}

/// The lines before the view: where the page is, and how to leave.
void greet(const wire::Json& result) {
  if (auto canvas = result.find("canvas"); canvas != result.end() && canvas->is_string()) {
    report("canvas: " + canvas->get<std::string>());
  }
  report("your shell is the terminal \"" + escape_controls(result.value("name", "Lead")) +
         "\"; Ctrl-\\ detaches, leaving the shell (exit) ends the workspace");
}

/// The view's end, told to the person; returns the exit status: the
/// shell's when it ended the workspace.
int farewell(const ViewEnd& end, pid_t host) {
  if (end.failed) {
    report(end.line);
    return 1;
  }
  if (end.detached) {
    std::printf("[detached: the workspace goes on; welkmora-host attaches again]\n");
    return 0;
  }
  std::printf("%s\n", end.line.c_str());
  std::fflush(stdout);
  if (!end.status) return 0;  // stopped from elsewhere
  // Lead's shell ended the workspace: it is over once the host is.
  if (host > 0 && !wait_until_gone(host, kEndLimit)) report("the workspace is still stopping");
  report("the workspace has ended");
  return *end.status;
}

}  // namespace

OrFault<int> run_workspace(const Args& args) {
  if (OrFault<void> checked = require_operands(args, 0, 0, ""); !checked.ok()) return checked.failure();
  if (::isatty(STDIN_FILENO) == 0) {
    return Fault{"the workspace needs a terminal on standard input; use `welkmora-host serve`"};
  }
  std::optional<std::string> option = args.value("--socket");
  std::string socket = option ? absolute_path(*option) : default_socket_path();
  ViewOptions options{false, true};
  OrFault<std::optional<Attached>> attached = attach_lead(socket, options);
  if (!attached.ok()) return attached.failure();
  if (!*attached) {
    OrFault<wire::Json> started = start_workspace(args);
    if (!started.ok()) {
      // Another start may have won the socket meanwhile.
      attached = attach_lead(socket, options);
      if (!attached.ok() || !*attached) return started.failure();
    } else {
      report("started the workspace on " + socket + " (state file " + started->value("state", "") + ", log " +
             started->value("log", "") + ")");
      attached = attach_lead(socket, options);
      if (!attached.ok()) return attached.failure();
      if (!*attached) return Fault{"the workspace started but does not answer on " + socket};
    }
  } else {
    report("attaching to the workspace on " + socket);
  }
  Attached& lead = **attached;
  greet(lead.result);
  ViewEnd end = run_view(lead.fd.get(), std::move(lead.rest), lead.result.value("name", "Lead"), options);
  return farewell(end, lead.result.value("pid", 0));
}

}  // namespace host::cli
