// `welkmora-host serve`, and the host itself as the workspace runs it (see
// cli/serve.h): the state file and the terminals kept beside it, the socket,
// the canvas page, and in the workspace the person's shell as "Lead".

#include "cli/serve.h"

#include <fcntl.h>
#include <malloc.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "base/token.h"
#include "cli/duration.h"
#include "console/lead.h"
#include "io.h"
#include "loop/log.h"
#include "loop/reactor.h"
#include "model/presets.h"
#include "os_error.h"
#include "protocol/dispatcher.h"
#include "protocol/keeper.h"
#include "server/endpoint.h"
#include "server/server.h"
#include "store/presets_file.h"
#include "store/state_file.h"
#include "store/terminal_store.h"
#include "web/feed.h"
#include "web/gate.h"
#include "web/web_server.h"

namespace host::cli {
namespace {

/// How long a hung-up terminal has to end before it is killed.
constexpr std::chrono::milliseconds kDismissGrace{2000};

bool executable(const char* path) { return path != nullptr && path[0] == '/' && ::access(path, X_OK) == 0; }

/// $SHELL, else the login shell of the user's account, else /bin/sh.
std::string user_shell() {
  if (const char* shell = std::getenv("SHELL"); executable(shell)) return shell;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && executable(pw->pw_shell)) return pw->pw_shell;
  return "/bin/sh";
}

std::string parent_of(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

/// The turn rule with the --settle and --max-wait options applied.
OrFault<TurnRule> turn_rule(const Args& args) {
  TurnRule rule;
  for (auto [flag, field] : {std::pair{"--settle", &TurnRule::settle}, std::pair{"--max-wait", &TurnRule::max_wait}}) {
    std::optional<std::string> text = args.value(flag);
    if (!text) continue;
    std::optional<std::chrono::milliseconds> d = parse_duration(*text);
    if (!d) return usage_fault(std::string(flag) + " needs a time such as 500ms, 2s or 10m, not " + *text);
    rule.*field = *d;
  }
  return rule;
}

/// Sends the activity log where --log says. In the workspace all the host
/// says goes there (its standard error becomes the file), by default to
/// `state_path` with ".log"; returns the file's path.
OrFault<std::string> open_log(const Args& args, bool workspace, const std::string& state_path) {
  std::optional<std::string> path = args.value("--log");
  if (!path && !workspace) return std::string();
  std::string file = path ? absolute_path(*path) : state_path + ".log";
  os::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd) return Fault{"cannot open the log file " + file + ": " + os::error_text(errno)};
  if (workspace) {
    if (::dup2(fd.get(), STDERR_FILENO) < 0) return Fault{"cannot log to " + file + ": " + os::error_text(errno)};
  } else {
    log_to(std::move(fd));
  }
  return file;
}

/// The address of --web, if given.
OrFault<std::optional<WebAddress>> web_address(const Args& args) {
  std::optional<std::string> text = args.value("--web");
  if (!text) return std::optional<WebAddress>();
  WebAddress address;
  if (wire::Status parsed = parse_web_address(*text, address); !parsed.ok()) return usage_fault(parsed.failure().text);
  return std::optional<WebAddress>(std::move(address));
}

/// The canvas page's key, kept in `path` so that the address with it (a
/// bookmark) opens the page again after a restart: read when the file is
/// there, else made and written there, readable by the user alone.
OrFault<std::string> kept_web_key(const std::string& path) {
  os::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || (st.st_mode & 077) != 0) {
      return Fault{"the canvas key file " + path + " may be read by others; make it the user's alone (chmod 600)"};
    }
    char text[64];
    ssize_t size = ::read(fd.get(), text, sizeof text);
    std::string key(text, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
    while (!key.empty() && (key.back() == '\n' || key.back() == ' ')) key.pop_back();
    if (key.size() < 32 || key.find_first_not_of("0123456789abcdef") != std::string::npos) {
      return Fault{"the canvas key file " + path + " holds no key; remove it for a new one"};
    }
    return key;
  }
  if (errno != ENOENT) return Fault{"cannot read the canvas key file " + path + ": " + os::error_text(errno)};
  wire::Fallible<std::string> made = new_token();
  if (!made.ok()) return Fault{made.failure().text};
  std::string key = std::move(*made);
  os::UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  std::string line = key + "\n";
  if (!out || ::write(out.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    return Fault{"cannot write the canvas key file " + path + ": " + os::error_text(errno)};
  }
  return key;
}

/// The canvas page's feed and server, while --web asks for them.
struct Web {
  std::unique_ptr<CanvasFeed> feed;
  std::unique_ptr<WebServer> server;
};

/// Starts the canvas page's server (throws when its port cannot be had).
/// Its connections count in `server`'s descriptor margin.
Web start_web(const std::optional<WebAddress>& address, const std::string& key, Reactor& reactor,
              Dispatcher& dispatcher, TerminalSet& terminals, Server& server) {
  Web web;
  if (!address) return web;
  web.feed = std::make_unique<CanvasFeed>(reactor, dispatcher, terminals);
  WebLimits limits;
  limits.room = [&server] { return server.room_for_other(); };
  web.server = std::make_unique<WebServer>(reactor, *address, key, *web.feed, std::move(limits));
  server.count_also([pages = web.server.get()] { return pages->connections(); });
  server.on_stop([feed = web.feed.get()] { feed->stopping(); });
  dispatcher.set_page_url(web.server->url());
  return web;
}

/// Writes the address of the page to open, with its key, to standard
/// error, if the page is served.
void announce(const Web& web) {
  if (!web.server) return;
  const WebAddress& served = web.server->gate().served();
  if (!served.loopback()) {
    report("warning: the canvas is served on " + served.ip +
           ", which other machines may reach; whoever has its address and key runs your terminals");
  }
  report("canvas: " + web.server->url());
}

/// Starts the workspace's Lead shell, below the saved Lead's screen, and
/// ties the saved Lead's ropes to it; returns its name.
OrFault<std::string> lead_shell(const HostMode& mode, Canvas& canvas, TerminalSet& terminals, Keeper& keeper,
                                const HostSettings& settings, std::string saved_screen) {
  LeadSetup setup{settings.shell, settings.socket_path, mode.rows, mode.cols, std::move(saved_screen)};
  host::OrRefusal<std::string> started = start_lead(canvas, terminals, setup);
  if (!started.ok()) return Fault{started.failure().text};
  keeper.lead_started(*started);
  log_event("lead", {{"name", *started}, {"command", settings.shell}});
  return *started;
}

/// Starts every held terminal (serve --resume); those that cannot start
/// stay held, and the log says why.
void resume_all(Dispatcher& dispatcher) {
  wire::Json reply = dispatcher.answer(R"({"command":"resume","all":true})");
  auto result = reply.find("result");
  if (result == reply.end() || !result->is_object()) return;
  for (const wire::Json& failed : result->value("failed", wire::Json::array())) {
    report("cannot resume " + failed.value("name", "") + ": " + failed.value("error", ""));
  }
}

}  // namespace

namespace {

/// Where the host lives: its socket and state file, their folders made.
struct Places {
  std::string socket, state;
};

OrFault<Places> places(const Args& args) {
  std::optional<std::string> socket_option = args.value("--socket");
  std::string socket = socket_option ? absolute_path(*socket_option) : default_socket_path();
  if (wire::Status made = make_directory(parent_of(socket), !args.has("--socket")); !made.ok()) {
    return Fault{made.failure().text};
  }
  // The default's place needs HOME (or XDG_STATE_HOME) only when --state
  // names no file.
  std::optional<std::string> state_option = args.value("--state");
  wire::Fallible<std::string> state_wanted =
      state_option ? wire::Fallible<std::string>(*state_option) : default_state_path();
  if (!state_wanted.ok()) return Fault{state_wanted.failure().text};
  std::string state = absolute_path(*state_wanted);
  if (wire::Status made = make_directory(parent_of(state), false); !made.ok()) return Fault{made.failure().text};
  return Places{socket, state};
}

/// The state file's canvas, once this host has claimed the file.
OrFault<Snapshot> claim_and_load(StateFile& state) {
  wire::Fallible<int> removed = state.claim();
  if (!removed.ok()) return Fault{removed.failure().text};
  if (*removed > 0) {
    report("removed " + std::to_string(*removed) + " temporary state file(s) a stopped host left");
  }
  wire::Fallible<Snapshot> saved = state.load();
  if (!saved.ok()) return Fault{saved.failure().text};
  return std::move(*saved);
}

/// The terminals kept beside the state file.
OrFault<std::vector<SavedTerminal>> kept_terminals(TerminalStore& store) {
  store.remove_temporaries();
  wire::Fallible<std::vector<SavedTerminal>> terminals = store.load();
  if (!terminals.ok()) return Fault{terminals.failure().text};
  return std::move(*terminals);
}

/// Serves until the host is stopped; the workspace also ends with its Lead.
int serve_until_stopped(Server& server, TerminalSet& terminals, const std::string& lead) {
  if (lead.empty()) return server.run();
  return server.run([&terminals, &lead] {
    Terminal* t = terminals.find(lead);
    return t == nullptr || t->exited();
  });
}

}  // namespace

OrFault<int> run_host(const Args& args, const HostMode& mode) {
  if (OrFault<void> checked = require_operands(args, 0, 0, ""); !checked.ok()) return checked.failure();
  // Large buffers (requests, replies, notes) come from the system and go
  // back to it when freed, so memory the connection budget frees leaves the
  // process; glibc would otherwise raise this threshold to 32 MiB after the
  // first large free and keep such buffers in its heap.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
  OrFault<TurnRule> rule = turn_rule(args);
  if (!rule.ok()) return rule.failure();
  OrFault<std::optional<WebAddress>> web_at = web_address(args);
  if (!web_at.ok()) return web_at.failure();
  OrFault<Places> at = places(args);
  if (!at.ok()) return at.failure();
  wire::Fallible<std::vector<Preset>> presets = load_presets(args.value("--presets"));
  if (!presets.ok()) return Fault{presets.failure().text};
  OrFault<std::string> log = open_log(args, mode.lead, at->state);
  if (!log.ok()) return log.failure();
  StateFile state(at->state);
  OrFault<Snapshot> saved = claim_and_load(state);
  if (!saved.ok()) return saved.failure();
  TerminalStore store(state.path());  // beside the target of a link
  OrFault<std::vector<SavedTerminal>> kept = kept_terminals(store);
  if (!kept.ok()) return kept.failure();
  Canvas canvas;
  canvas.restore(std::move(*saved));

  Reactor reactor;
  TerminalSet terminals(reactor, kDismissGrace);
  terminals.adopt_orphans();
  Keeper keeper(canvas, terminals, store, KeeperSettings{!args.has("--no-save-screens")});
  std::string lead_screen = keeper.restore(*kept);
  HostSettings settings;
  settings.socket_path = at->socket;
  settings.shell = user_shell();
  settings.turn = *rule;
  Dispatcher dispatcher(canvas, terminals, &state, std::move(*presets), settings);
  dispatcher.on_change([&keeper] { keeper.changed(); });
  wire::Fallible<Listener> listener = listen_at(at->socket);
  if (!listener.ok()) return Fault{listener.failure().text};
  Server server(reactor, std::move(*listener), dispatcher, terminals);
  // Saved before the stop hangs the terminals up.
  server.on_stop([&keeper] { keeper.save_all(); });
  dispatcher.set_stop_host([&server] { server.request_stop(); });
  std::string web_key;
  if (*web_at) {
    OrFault<std::string> key =
        kept_web_key(absolute_path(args.value("--web-key-file").value_or(state.path() + ".web-key")));
    if (!key.ok()) return key.failure();
    web_key = std::move(*key);
  }
  // Before announcing anything: a port another program holds stops the start.
  Web web = start_web(*web_at, web_key, reactor, dispatcher, terminals, server);
  report("listening on " + at->socket + " (state file " + state.path() + ")");
  announce(web);
  std::string lead;
  if (mode.lead) {
    OrFault<std::string> started = lead_shell(mode, canvas, terminals, keeper, settings, std::move(lead_screen));
    if (!started.ok()) return started.failure();
    lead = *started;
  }
  if (args.has("--resume")) resume_all(dispatcher);
  if (mode.ready) mode.ready({{"state", state.path()}, {"log", *log}});
  return serve_until_stopped(server, terminals, lead);
}

OrFault<int> run_serve(const Args& args) { return run_host(args, HostMode{}); }

}  // namespace host::cli
