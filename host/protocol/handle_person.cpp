// The person's requests: `join` (a shell of the person's own joins the
// canvas), `ls` (every terminal and note), `send-keys` (keys typed into any
// terminal), `attach` (a terminal relayed to the person's own), `resume`
// and `forget` (of held terminals) and `stop` (the host). The dispatcher
// refuses them to processes of recruits.

#include <unistd.h>

#include <limits>

#include "base/token.h"
#include "loop/log.h"
#include "protocol/handlers.h"
#include "protocol/members.h"
#include "protocol/person.h"
#include "pty/process_info.h"

namespace host {

namespace {

/// The process whose end takes a joined terminal off the canvas: `pid` of
/// the request, else the shell the joining client was run for; 0 for none.
OrRefusal<pid_t> joined_process(const Call& call) {
  members::Reader in(call.request);
  std::optional<std::uint64_t> given = in.optional_count("pid");
  if (in.refused()) return *in.refused();
  if (!given) return shell_of(call.client.pid);
  if (*given == 0 || *given > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) {
    return refuse("member pid must be a process id");
  }
  return static_cast<pid_t>(*given);
}

}  // namespace

OrRefusal<Json> handle_join(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& wanted = in.text("name");
  if (in.refused()) return *in.refused();
  if (OrRefusal<void> valid = check_name("name", wanted); !valid.ok()) return valid.failure();
  OrRefusal<pid_t> shell = joined_process(call);
  if (!shell.ok()) return shell.failure();
  std::string name = ctx.canvas.free_terminal_name(wanted);
  wire::Fallible<std::string> made = new_token();
  if (!made.ok()) return refuse(made.failure().text);
  std::string token = std::move(*made);
  if (*shell > 0) {
    OrRefusal<void> watched = ctx.terminals.shells().watch(*shell, name, [&canvas = ctx.canvas, name, token] {
      const TerminalEntry* entry = canvas.terminal(name);
      if (entry == nullptr || entry->token != token) return;  // the name is another terminal's now
      canvas.forget_terminal(name);
      log_event("leave", {{"name", name}});
    });
    if (!watched.ok()) return watched.failure();
  }
  ctx.canvas.add_terminal({name, token, true, "", true});
  log_event("join", {{"name", name}, {"pid", *shell > 0 ? std::to_string(*shell) : "none"}});
  return Json{{"name", name}, {"token", token}};
}

OrRefusal<Json> handle_ls(Context& ctx, const Call&) { return everything(ctx.canvas, ctx.terminals, ctx.asks); }

OrRefusal<Json> handle_send_keys(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  bool literal = in.optional_flag("literal");
  if (in.refused()) return *in.refused();
  std::vector<std::string> words;
  auto keys = call.request.find("keys");
  if (keys == call.request.end() || !keys->is_array()) return refuse("member keys must be an array of strings");
  for (const Json& key : *keys) {
    if (!key.is_string()) return refuse("member keys must be an array of strings");
    words.push_back(key.get<std::string>());
  }
  OrRefusal<Terminal*> terminal = screen_terminal(ctx.canvas, ctx.terminals, name);
  if (!terminal.ok()) return terminal.failure();
  if (OrRefusal<void> sent = send_keys(**terminal, name, words, literal); !sent.ok()) return sent.failure();
  return Json{{"name", name}};
}

namespace {

/// The workspace's Lead: the person's shell that the host started.
OrRefusal<std::string> lead_name(const Canvas& canvas) {
  for (const auto& [name, entry] : canvas.terminals()) {
    if (entry.persons && !entry.joined) return name;
  }
  return refuse("this host runs no Lead shell (it serves without one); attach one of its terminals by name");
}

/// Refuses an attach of `name` from a process of that very terminal, whose
/// output would come back to it without end.
OrRefusal<void> require_outside(const Context& ctx, const Call& call, const std::string& name) {
  if (call.client.trusted || call.client.pid <= 0) return {};
  std::optional<std::vector<ProcessInfo>> chain = ancestry(call.client.pid);
  std::optional<Holder> holder = chain ? ctx.terminals.holder_of(*chain) : std::nullopt;
  if (holder && holder->name == name) return refuse("cannot attach " + name + " inside itself");
  return {};
}

}  // namespace

OrRefusal<Cancel> handle_attach(Context& ctx, const Call& call, const Responder&) {
  if (!call.client.attach) return refuse("attach needs a connection of its own");
  members::Reader in(call.request);
  bool lead = in.optional_flag("lead");
  AttachView view;
  view.read_only = in.optional_flag("readOnly");
  view.history = in.optional_flag("history");
  std::optional<std::uint64_t> rows = in.optional_count("rows");
  std::optional<std::uint64_t> cols = in.optional_count("cols");
  if (in.refused()) return *in.refused();
  OrRefusal<std::string> name = lead ? lead_name(ctx.canvas) : OrRefusal<std::string>(in.text("name"));
  if (in.refused()) return *in.refused();
  if (!name.ok()) return name.failure();
  if (OrRefusal<void> outside = require_outside(ctx, call, *name); !outside.ok()) return outside.failure();
  OrRefusal<Terminal*> found = screen_terminal(ctx.canvas, ctx.terminals, *name);
  if (!found.ok()) return found.failure();
  Terminal& terminal = **found;
  bool sized = rows && cols && *rows > 0 && *cols > 0 && *rows < 10000 && *cols < 10000;
  if (sized) view.rows = static_cast<int>(*rows);
  if (!view.read_only && sized) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(*rows);
    size.ws_col = static_cast<unsigned short>(*cols);
    terminal.resize(size);
  }
  Json result = {{"name", *name}, {"rows", terminal.screen().rows()}, {"cols", terminal.screen().cols()}};
  if (lead) {
    result["pid"] = ::getpid();
    if (!ctx.settings.page_url.empty()) result["canvas"] = ctx.settings.page_url;
  }
  call.client.attach(ok_reply(std::move(result)), *name, view);
  return Cancel();  // the connection is the attachment's now
}

OrRefusal<Json> handle_resume(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  bool all = in.optional_flag("all");
  std::vector<std::string> names;
  if (all) {
    for (const auto& [name, entry] : ctx.canvas.terminals()) {
      Terminal* t = entry.joined ? nullptr : ctx.terminals.find(name);
      if (t != nullptr && t->held()) names.push_back(name);
    }
  } else {
    names.push_back(in.text("name"));
  }
  if (in.refused()) return *in.refused();
  Json resumed = Json::array();
  Json failed = Json::array();
  for (const std::string& name : names) {
    OrRefusal<void> done = resume_terminal(ctx, name, "person");
    if (!done.ok() && !all) return done.failure();
    if (done.ok()) {
      resumed.push_back(name);
    } else {
      failed.push_back({{"name", name}, {"error", done.failure().text}});
    }
  }
  return Json{{"resumed", std::move(resumed)}, {"failed", std::move(failed)}};
}

OrRefusal<Json> handle_forget(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  if (in.refused()) return *in.refused();
  const TerminalEntry* entry = ctx.canvas.terminal(name);
  Terminal* held = entry == nullptr || entry->joined ? nullptr : ctx.terminals.find(name);
  if (held == nullptr) return refuse("no such terminal: " + name);
  if (!held->held()) return refuse("not held: " + name + " (dismiss ends a terminal that runs)");
  ctx.canvas.remove_terminal(name);
  ctx.on_commit.push_back([&terminals = ctx.terminals, name] {
    terminals.dismiss(name);
    log_event("forget", {{"name", name}});
  });
  return Json{{"name", name}};
}

OrRefusal<Json> handle_stop(Context& ctx, const Call&) {
  if (!ctx.settings.stop_host) return refuse("this host cannot be stopped from here");
  int running = 0;
  for (const auto& [name, entry] : ctx.canvas.terminals()) {
    Terminal* t = entry.joined ? nullptr : ctx.terminals.find(name);
    if (t != nullptr && !t->exited()) ++running;
  }
  ctx.on_commit.push_back(ctx.settings.stop_host);
  return Json{{"pid", ::getpid()}, {"socket", ctx.settings.socket_path}, {"running", running}};
}

}  // namespace host
