// Requests about terminals: list, check, connect, dismiss, recruit, and the
// host-only join and debug (`ask` has handle_ask.cpp).

#include <algorithm>

#include "base/token.h"
#include "loop/log.h"
#include "protocol/handlers.h"
#include "protocol/keeper.h"
#include "protocol/members.h"

namespace host {
namespace {

/// "joined", "running" or "exited".
const char* state_word(const TerminalEntry& entry, Terminal* terminal) {
  if (entry.joined || terminal == nullptr) return "joined";
  return terminal->exited() ? "exited" : "running";
}

/// The preset named `name`; refuses "no such preset: NAME".
OrRefusal<const Preset*> find_preset(const std::vector<Preset>& presets, const std::string& name) {
  auto it = std::find_if(presets.begin(), presets.end(), [&](const Preset& p) { return p.name == name; });
  if (it == presets.end()) return refuse("no such preset: " + name);
  return &*it;
}

/// The command line a recruit runs: `cmd`, else the preset's command; empty
/// for the user's shell. An empty command line counts as none; a named
/// preset must exist.
OrRefusal<std::string> recruit_line(const Context& ctx, const std::optional<std::string>& cmd,
                                    const std::optional<std::string>& preset) {
  std::string preset_line;
  if (preset) {
    OrRefusal<const Preset*> found = find_preset(ctx.presets, *preset);
    if (!found.ok()) return found.failure();
    preset_line = (*found)->command;
  }
  return cmd && !cmd->empty() ? *cmd : preset_line;
}

/// What runs `line`: the user's shell when it is empty.
std::vector<std::string> argv_of(const Context& ctx, const std::string& line) {
  if (line.empty()) return {ctx.settings.shell};
  return {"/bin/sh", "-c", line};
}

/// What recruit `name` starts with; `role`, when given, exists.
Launch recruit_launch(const Context& ctx, std::vector<std::string> argv, const std::string& name,
                      const std::string& token, const std::optional<std::string>& role) {
  Launch launch;
  launch.argv = std::move(argv);
  launch.unset = {"WELKMORA_ROLE", "WELKMORA_ROLE_PROMPT", "LINES", "COLUMNS"};
  launch.env = {{"WELKMORA_SOCKET", ctx.settings.socket_path},
                {"WELKMORA_TERMINAL_ID", name},
                {"WELKMORA_TOKEN", token},
                {"TERM", "xterm-256color"}};
  if (OrRefusal<const std::string*> prompt = role ? ctx.canvas.role(*role) : refuse(""); prompt.ok()) {
    launch.env.emplace_back("WELKMORA_ROLE", *role);
    launch.env.emplace_back("WELKMORA_ROLE_PROMPT", **prompt);
  }
  launch.rows = ctx.settings.rows;
  launch.cols = ctx.settings.cols;
  // A terminal of this name that was resized on the canvas page comes back
  // in that size.
  if (const Box* box = ctx.canvas.box(Item::terminal(name)); box != nullptr && box->w > 0 && box->h > 0) {
    launch.rows = box->h;
    launch.cols = box->w;
  }
  return launch;
}

}  // namespace

OrRefusal<Json> handle_list(Context& ctx, const Call& call) {
  Json agents = Json::array();
  for (const std::string& name : ctx.canvas.peers(call.caller)) {
    const TerminalEntry& entry = *ctx.canvas.terminal(name);
    Json agent = {{"name", name}, {"state", state_word(entry, ctx.terminals.find(name))}};
    if (!entry.role.empty()) agent["role"] = entry.role;
    agents.push_back(std::move(agent));
  }
  Json notes = Json::array();
  for (const NoteListing& note : ctx.canvas.notes_for(call.caller)) {
    notes.push_back({{"name", note.name}, {"connected", note.connected}});
  }
  return Json{{"agents", agents}, {"notes", notes}};
}

OrRefusal<Json> handle_check(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& target = in.text("target");
  if (in.refused()) return *in.refused();
  OrRefusal<const TerminalEntry*> entry = ctx.canvas.peer(call.caller, target);
  if (!entry.ok()) return entry.failure();
  Terminal* terminal = (*entry)->joined ? nullptr : ctx.terminals.find(target);
  if (terminal == nullptr) return refuse("no screen of a joined shell: " + target);
  Json result = {
      {"output", terminal->screen_text()}, {"awaitingInput", false}, {"state", state_word(**entry, terminal)}};
  if (std::optional<int> code = terminal->exit_code()) result["exitCode"] = *code;
  return result;
}

OrRefusal<Json> handle_connect(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& from = in.text("from");
  const std::string& to = in.text("to");
  if (in.refused()) return *in.refused();
  OrRefusal<bool> created = ctx.canvas.connect(call.caller, from, to);
  if (!created.ok()) return created.failure();
  return Json{{"from", from}, {"to", to}, {"created", *created}};
}

void dismiss_terminal(Context& ctx, const std::string& name, const std::string& by) {
  ctx.canvas.remove_terminal(name);
  ctx.on_commit.push_back([&asks = ctx.asks, &terminals = ctx.terminals, name, by] {
    asks.end_for_dismissal(name);
    terminals.dismiss(name);
    log_event("dismiss", {{"name", name}, {"by", by}});
  });
}

OrRefusal<Json> handle_dismiss(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  if (in.refused()) return *in.refused();
  if (name == call.caller) return refuse("cannot dismiss yourself: " + name);
  OrRefusal<const TerminalEntry*> peer = ctx.canvas.peer(call.caller, name);
  if (!peer.ok()) return peer.failure();
  if ((*peer)->persons) return refuse("cannot dismiss " + name + ": it is the person's shell");
  dismiss_terminal(ctx, name, call.caller);
  return Json{{"name", name}};
}

OrRefusal<std::string> recruit_terminal(Context& ctx, const Recruit& recruit, const std::string& by) {
  if (OrRefusal<void> valid = check_name("codename", recruit.codename); !valid.ok()) return valid.failure();
  if (recruit.role) {
    if (auto role = ctx.canvas.role(*recruit.role); !role.ok()) return role.failure();
  }
  OrRefusal<std::string> line = recruit_line(ctx, recruit.cmd, recruit.preset);
  if (!line.ok()) return line.failure();

  std::string name = ctx.canvas.free_terminal_name(recruit.codename);
  wire::Fallible<std::string> made = new_token();
  if (!made.ok()) return refuse(made.failure().text);
  std::string token = std::move(*made);
  std::vector<std::string> argv = argv_of(ctx, *line);
  std::string command = argv.back();
  OrRefusal<Terminal*> started =
      ctx.terminals.start(name, recruit_launch(ctx, std::move(argv), name, token, recruit.role));
  if (!started.ok()) return started.failure();
  ctx.canvas.add_terminal(
      {name, token, false, recruit.role.value_or(""), false, Recipe{*line, recruit.preset.value_or(""), ""}});
  log_event("recruit", {{"name", name}, {"by", by}, {"command", command}});
  return name;
}

OrRefusal<void> resume_terminal(Context& ctx, const std::string& name, const std::string& by) {
  const TerminalEntry* entry = ctx.canvas.terminal(name);
  Terminal* held = entry == nullptr || entry->joined ? nullptr : ctx.terminals.find(name);
  if (held == nullptr) return refuse("no such terminal: " + name);
  if (!held->held()) return refuse("not held: " + name);
  // An agent continues where it was: its preset's resume command, in the
  // directory it ran in.
  const Recipe& recipe = entry->recipe;
  auto preset =
      std::find_if(ctx.presets.begin(), ctx.presets.end(), [&](const Preset& p) { return p.name == recipe.preset; });
  std::string line = !recipe.preset.empty() && preset != ctx.presets.end() && !preset->resume.empty() ? preset->resume
                                                                                                      : recipe.command;
  std::vector<std::string> argv = argv_of(ctx, line);
  std::string command = argv.back();
  std::optional<std::string> role = entry->role.empty() ? std::nullopt : std::optional<std::string>(entry->role);
  Launch launch = recruit_launch(ctx, std::move(argv), name, entry->token, role);
  if (ctx.canvas.box(Item::terminal(name)) == nullptr) {
    launch.rows = held->screen().rows();
    launch.cols = held->screen().cols();
  }
  launch.cwd = recipe.cwd;
  launch.screen = Keeper::kept_text(held->screen());
  OrRefusal<Terminal*> started = ctx.terminals.resume(name, launch);
  if (!started.ok()) return started.failure();
  log_event("resume", {{"name", name}, {"by", by}, {"command", command}});
  return {};
}

OrRefusal<Json> handle_recruit(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  Recruit recruit{in.text("name"), in.optional_text("role"), in.optional_text("preset"), in.optional_text("cmd")};
  if (in.refused()) return *in.refused();
  OrRefusal<std::string> name = recruit_terminal(ctx, recruit, call.caller);
  if (!name.ok()) return name.failure();
  ctx.canvas.rope(Item::terminal(call.caller), Item::terminal(*name));
  return Json{{"name", *name}};
}

OrRefusal<Json> handle_debug(Context& ctx, const Call& call) {
  auto id = call.request.find("terminalId");
  auto token = call.request.find("token");
  bool known = id != call.request.end() && id->is_string() && token != call.request.end() && token->is_string() &&
               ctx.canvas.authenticate(id->get_ref<const std::string&>(), token->get_ref<const std::string&>());
  return Json{{"host", "welkmora-host"}, {"authenticated", known}};
}

}  // namespace host
