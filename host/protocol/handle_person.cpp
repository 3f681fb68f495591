// The person's requests: `join` (a shell of the person's own joins the
// canvas), `ls` (every terminal and note), `send-keys` (keys typed into any
// terminal) and `attach` (a terminal relayed to the person's own). The
// dispatcher refuses them to processes of recruits.

#include <limits>

#include "loop/log.h"
#include "model/token.h"
#include "protocol/handlers.h"
#include "protocol/members.h"
#include "protocol/person.h"
#include "terminals/process_info.h"

namespace host {

namespace {

/// The process whose end takes a joined terminal off the canvas: `pid` of
/// the request, else the shell the joining client was run for; 0 for none.
Result<pid_t> joined_process(const Call& call) {
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

Result<Json> handle_join(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& wanted = in.text("name");
  if (in.refused()) return *in.refused();
  if (Result<void> valid = check_name("name", wanted); !valid.ok()) return valid.failure();
  Result<pid_t> shell = joined_process(call);
  if (!shell.ok()) return shell.failure();
  std::string name = ctx.canvas.free_terminal_name(wanted);
  std::string token = new_token();
  if (*shell > 0) {
    Result<void> watched = ctx.terminals.shells().watch(*shell, name, [&canvas = ctx.canvas, name, token] {
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

Result<Json> handle_ls(Context& ctx, const Call&) { return everything(ctx.canvas, ctx.terminals, ctx.asks); }

Result<Json> handle_send_keys(Context& ctx, const Call& call) {
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
  Result<Terminal*> terminal = screen_terminal(ctx.canvas, ctx.terminals, name);
  if (!terminal.ok()) return terminal.failure();
  if (Result<void> sent = send_keys(**terminal, name, words, literal); !sent.ok()) return sent.failure();
  return Json{{"name", name}};
}

Result<Cancel> handle_attach(Context& ctx, const Call& call, const Responder&) {
  if (!call.client.attach) return refuse("attach needs a connection of its own");
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  bool read_only = in.optional_flag("readOnly");
  if (in.refused()) return *in.refused();
  Result<Terminal*> found = screen_terminal(ctx.canvas, ctx.terminals, name);
  if (!found.ok()) return found.failure();
  Terminal& terminal = **found;
  std::optional<std::uint64_t> rows = in.optional_count("rows");
  std::optional<std::uint64_t> cols = in.optional_count("cols");
  if (in.refused()) return *in.refused();
  if (!read_only && rows && cols && *rows > 0 && *cols > 0 && *rows < 10000 && *cols < 10000) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(*rows);
    size.ws_col = static_cast<unsigned short>(*cols);
    terminal.resize(size);
  }
  Json result = {{"name", name}, {"rows", terminal.screen().rows()}, {"cols", terminal.screen().cols()}};
  call.client.attach(ok_reply(std::move(result)), name, read_only);
  return Cancel();  // the connection is the attachment's now
}

}  // namespace host
