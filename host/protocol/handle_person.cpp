// The person's requests: `join` (a shell of the person's own joins the
// canvas), `ls` (every terminal and note), `send-keys` (keys typed into any
// terminal) and `attach` (a terminal relayed to the person's own). The
// dispatcher refuses them to processes of recruits.

#include <limits>

#include "loop/log.h"
#include "model/refusal.h"
#include "model/token.h"
#include "protocol/handlers.h"
#include "protocol/members.h"
#include "protocol/person.h"
#include "terminals/process_info.h"

namespace host {

namespace {

/// The process whose end takes a joined terminal off the canvas: `pid` of
/// the request, else the shell the joining client was run for; 0 for none.
pid_t joined_process(const Call& call) {
  std::optional<std::uint64_t> given = members::optional_count(call.request, "pid");
  if (!given) return shell_of(call.client.pid);
  if (*given == 0 || *given > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) {
    throw Refusal("member pid must be a process id");
  }
  return static_cast<pid_t>(*given);
}

}  // namespace

Json handle_join(Context& ctx, const Call& call) {
  const std::string& wanted = members::text(call.request, "name");
  check_name("name", wanted);
  pid_t shell = joined_process(call);
  std::string name = ctx.canvas.free_terminal_name(wanted);
  std::string token = new_token();
  if (shell > 0) {
    ctx.terminals.shells().watch(shell, name, [&canvas = ctx.canvas, name, token] {
      const TerminalEntry* entry = canvas.terminal(name);
      if (entry == nullptr || entry->token != token) return;  // the name is another terminal's now
      canvas.forget_terminal(name);
      log_event("leave", {{"name", name}});
    });
  }
  ctx.canvas.add_terminal({name, token, true, "", true});
  log_event("join", {{"name", name}, {"pid", shell > 0 ? std::to_string(shell) : "none"}});
  return {{"name", name}, {"token", token}};
}

Json handle_ls(Context& ctx, const Call&) { return everything(ctx.canvas, ctx.terminals, ctx.asks); }

Json handle_send_keys(Context& ctx, const Call& call) {
  const std::string& name = members::text(call.request, "name");
  bool literal = members::optional_flag(call.request, "literal");
  std::vector<std::string> words;
  auto keys = call.request.find("keys");
  if (keys == call.request.end() || !keys->is_array()) throw Refusal("member keys must be an array of strings");
  for (const Json& key : *keys) {
    if (!key.is_string()) throw Refusal("member keys must be an array of strings");
    words.push_back(key.get<std::string>());
  }
  send_keys(screen_terminal(ctx.canvas, ctx.terminals, name), name, words, literal);
  return {{"name", name}};
}

Cancel handle_attach(Context& ctx, const Call& call, const Responder&) {
  if (!call.client.attach) throw Refusal("attach needs a connection of its own");
  const std::string& name = members::text(call.request, "name");
  bool read_only = members::optional_flag(call.request, "readOnly");
  Terminal& terminal = screen_terminal(ctx.canvas, ctx.terminals, name);
  std::optional<std::uint64_t> rows = members::optional_count(call.request, "rows");
  std::optional<std::uint64_t> cols = members::optional_count(call.request, "cols");
  if (!read_only && rows && cols && *rows > 0 && *cols > 0 && *rows < 10000 && *cols < 10000) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(*rows);
    size.ws_col = static_cast<unsigned short>(*cols);
    terminal.resize(size);
  }
  Json result = {{"name", name}, {"rows", terminal.screen().rows()}, {"cols", terminal.screen().cols()}};
  call.client.attach(ok_reply(std::move(result)), name, read_only);
  return {};  // the connection is the attachment's now
}

}  // namespace host
