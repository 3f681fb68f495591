// welkmora-host: a headless stand-in of the Welkmora app. It serves the
// client's socket protocol with a real canvas and real terminals.
//
//   welkmora-host [OPTIONS]          (interactive: your shell as "Lead")
//   welkmora-host serve [OPTIONS]
//   welkmora-host join NAME [--socket PATH]

#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/lead.h"
#include "console/raw_mode.h"
#include "duration.h"
#include "join.h"
#include "loop/log.h"
#include "loop/reactor.h"
#include "model/canvas.h"
#include "model/presets.h"
#include "model/state_file.h"
#include "protocol/dispatcher.h"
#include "server/endpoint.h"
#include "server/server.h"
#include "terminals/terminal_set.h"

namespace {

using namespace host;

constexpr const char* kUsage =
    "usage: welkmora-host serve [OPTIONS]\n"
    "       welkmora-host [OPTIONS]\n"
    "       welkmora-host join NAME [--socket PATH]\n"
    "\n"
    "serve   runs the host in the foreground until SIGINT or SIGTERM\n"
    "(none)  runs the host with your shell in it as the terminal \"Lead\",\n"
    "        shown in this terminal; leaving the shell stops the host\n"
    "join    registers this shell as a canvas terminal; use it as\n"
    "        eval \"$(welkmora-host join NAME)\"\n"
    "\n"
    "options:\n"
    "  --socket PATH    the socket to listen on\n"
    "  --state FILE     where notes, roles and their ropes are kept\n"
    "  --presets FILE   launch presets, a JSON array of {\"name\", \"command\"}\n"
    "  --settle TIME    quiet time that ends a turn with no other sign of its end\n"
    "                   (default 2s)\n"
    "  --max-wait TIME  longest wait for one turn (default 10m)\n"
    "TIME is a whole number with ms, s or m: 500ms, 2s, 10m.\n";

const std::set<std::string> kHostOptions = {"--socket", "--state", "--presets", "--settle", "--max-wait"};

/// How long a hung-up terminal has to end before it is killed.
constexpr std::chrono::milliseconds kDismissGrace{2000};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Options = std::map<std::string, std::string>;

/// Flags with their values from args[first] on; each must be in `known`.
Options parse_options(const std::vector<std::string>& args, std::size_t first, const std::set<std::string>& known) {
  Options options;
  for (std::size_t i = first; i < args.size(); i += 2) {
    if (!known.contains(args[i])) throw UsageError("unknown option: " + args[i]);
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    options[args[i]] = args[i + 1];
  }
  return options;
}

std::optional<std::string> option(const Options& options, const std::string& flag) {
  auto it = options.find(flag);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

bool executable(const char* path) { return path != nullptr && path[0] == '/' && ::access(path, X_OK) == 0; }

/// $SHELL, else the login shell of the user's account, else /bin/sh.
std::string user_shell() {
  if (const char* shell = std::getenv("SHELL"); executable(shell)) return shell;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && executable(pw->pw_shell)) return pw->pw_shell;
  return "/bin/sh";
}

std::string parent_of(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

/// The turn rule with the --settle and --max-wait options applied.
TurnRule turn_rule(const Options& options) {
  TurnRule rule;
  for (auto [flag, field] : {std::pair{"--settle", &TurnRule::settle}, std::pair{"--max-wait", &TurnRule::max_wait}}) {
    auto text = option(options, flag);
    if (!text) continue;
    std::optional<std::chrono::milliseconds> d = parse_duration(*text);
    if (!d) throw UsageError(std::string(flag) + " needs a time such as 500ms, 2s or 10m, not " + *text);
    rule.*field = *d;
  }
  return rule;
}

/// Runs `server` with the user's shell as "Lead" in this terminal until the
/// shell ends; returns the shell's exit status.
int serve_with_lead(Server& server, Reactor& reactor, Canvas& canvas, TerminalSet& terminals,
                    const HostSettings& settings) {
  std::string lead = start_lead(canvas, terminals, settings.shell, settings.socket_path, STDIN_FILENO);
  report("your shell is the terminal \"" + lead + "\"; leave it to stop the host");
  RawMode raw(STDIN_FILENO);
  LeadConsole console(reactor, terminals, lead, STDIN_FILENO, STDOUT_FILENO);
  int status = server.run([&console] { return console.over(); });
  return status != 0 ? status : console.exit_code().value_or(0);
}

/// Runs the host until it is stopped; with `interactive`, with the user's
/// shell in it as "Lead" until that shell ends.
int run_host(const Options& options, bool interactive) {
  TurnRule rule = turn_rule(options);
  if (interactive && ::isatty(STDIN_FILENO) == 0) {
    throw std::runtime_error("interactive mode needs a terminal on standard input; use `welkmora-host serve`");
  }
  auto socket_option = option(options, "--socket");
  std::string socket = socket_option ? absolute_path(*socket_option) : default_socket_path();
  make_directory(parent_of(socket), !socket_option);
  std::string state_path = absolute_path(option(options, "--state").value_or(default_state_path()));
  std::vector<Preset> presets = load_presets(option(options, "--presets"));

  StateFile state(state_path);
  Canvas canvas;
  canvas.restore(state.load());
  make_directory(parent_of(state_path), false);

  // What a terminal's program leaves behind comes to the host when its
  // parent ends, so the loop reaps it instead of leaving a zombie.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  Reactor reactor;
  TerminalSet terminals(reactor, kDismissGrace);
  HostSettings settings;
  settings.socket_path = socket;
  settings.shell = user_shell();
  settings.turn = rule;
  Dispatcher dispatcher(canvas, terminals, &state, std::move(presets), settings);
  Server server(reactor, listen_at(socket), dispatcher, terminals);
  report("listening on " + socket + " (state file " + state_path + ")");
  return interactive ? serve_with_lead(server, reactor, canvas, terminals, settings) : server.run();
}

int join(const std::string& name, const Options& options) {
  auto socket_option = option(options, "--socket");
  std::string socket = socket_option ? absolute_path(*socket_option) : default_socket_path();
  Joined joined = join_host(socket, name);
  std::fputs(export_lines(socket, joined).c_str(), stdout);
  report("joined as " + joined.name);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int run(const std::vector<std::string>& args) {
  if (args.empty() || args[0].starts_with("--")) {
    if (!args.empty() && args[0] == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    return run_host(parse_options(args, 0, kHostOptions), true);
  }
  const std::string& command = args[0];
  if (command == "help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "serve") return run_host(parse_options(args, 1, kHostOptions), false);
  if (command == "join") {
    if (args.size() < 2) throw UsageError("join needs a NAME");
    return join(args[1], parse_options(args, 2, {"--socket"}));
  }
  throw UsageError("unknown command: " + command);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    report(e.what());
    std::fputs(kUsage, stderr);
    return 2;
  } catch (const std::exception& e) {
    report(e.what());
    return 1;
  }
}
