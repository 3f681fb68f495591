#include "protocol/dispatcher.h"

#include <memory>

#include "loop/log.h"
#include "model/refusal.h"
#include "protocol/handlers.h"
#include "protocol/members.h"
#include "store/state_file.h"
#include "terminals/process_info.h"
#include "utf8.h"

namespace host {
namespace {

/// How one `command` (and, for the families, its `sub`) is served.
struct Route {
  std::string_view command = {};
  /// The family's subcommand; empty for commands without one.
  std::string_view sub = {};
  SyncHandler sync = nullptr;
  AsyncHandler async = nullptr;
  /// False for requests that carry no terminal credentials.
  bool needs_caller = true;
  /// True when the request may change what the state file keeps.
  bool persists = false;
  /// True for the person's requests, refused to processes of a recruit.
  bool person = false;
};

constexpr Route kRoutes[] = {
    {.command = "list", .sync = handle_list},
    {.command = "check", .sync = handle_check},
    {.command = "ask", .async = handle_ask},
    {.command = "connect", .sync = handle_connect, .persists = true},
    {.command = "dismiss", .sync = handle_dismiss, .persists = true},
    {.command = "recruit", .sync = handle_recruit},
    {.command = "role", .sub = "list", .sync = role_list},
    {.command = "role", .sub = "create", .sync = role_create, .persists = true},
    {.command = "role", .sub = "show", .sync = role_show},
    {.command = "role", .sub = "edit", .sync = role_edit, .persists = true},
    {.command = "role", .sub = "write", .sync = role_write, .persists = true},
    {.command = "role", .sub = "delete", .sync = role_delete, .persists = true},
    {.command = "role", .sub = "assign", .sync = role_assign},
    {.command = "preset", .sub = "list", .sync = preset_list},
    {.command = "note", .sub = "list", .sync = note_list},
    {.command = "note", .sub = "create", .sync = note_create, .persists = true},
    {.command = "note", .sub = "read", .sync = note_read},
    {.command = "note", .sub = "write", .sync = note_write, .persists = true},
    {.command = "note", .sub = "edit", .sync = note_edit, .persists = true},
    {.command = "note", .sub = "delete", .sync = note_delete, .persists = true},
    {.command = "debug", .sync = handle_debug, .needs_caller = false},
    // The person's requests (welkmora-host's own commands). The socket is
    // reachable only by its owner, so no token is asked for; what runs in
    // a recruit's terminal is refused.
    {.command = "join", .sync = handle_join, .needs_caller = false, .person = true},
    {.command = "ls", .sync = handle_ls, .needs_caller = false, .person = true},
    {.command = "send-keys", .sync = handle_send_keys, .needs_caller = false, .person = true},
    {.command = "attach", .async = handle_attach, .needs_caller = false, .person = true},
};

/// The first route of `command`; refuses an unknown command.
const Route& find_command(const std::string& command) {
  for (const Route& route : kRoutes) {
    if (route.command == command) return route;
  }
  throw Refusal("unknown command: " + command);
}

/// The route of the family `first` belongs to that the request's `sub`
/// names; `first` itself for commands without subcommands.
const Route& find_sub(const Route& first, const Json& request) {
  if (first.sub.empty()) return first;
  const std::string& sub = members::text(request, "sub");
  for (const Route& route : kRoutes) {
    if (route.command == first.command && route.sub == sub) return route;
  }
  throw Refusal("unknown " + std::string(first.command) + " subcommand: " + sub);
}

Json parse_request(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  wire::Result parsed = wire::parse_json(line);
  if (!parsed.ok()) throw Refusal("request is not valid JSON: " + parsed.error);
  if (!parsed.value->is_object()) throw Refusal("request must be a JSON object");
  return std::move(*parsed.value);
}

/// The caller's name, once its terminal id and token match.
std::string authenticate(const Canvas& canvas, const Json& request) {
  const std::string& id = members::text(request, "terminalId");
  const std::string& token = members::text(request, "token");
  if (!canvas.authenticate(id, token)) throw AccessRefusal("unknown terminal or token");
  return id;
}

/// The string member `key` of `request` if it has one, for the log.
std::string loggable(const Json& request, const char* key) {
  auto it = request.find(key);
  return it != request.end() && it->is_string() ? it->get<std::string>() : std::string();
}

/// The sender's line of processes, while the process that connected still
/// runs (the same process: same pid, same start); refuses otherwise, so a
/// sender that cannot be examined is never taken for the person.
std::vector<ProcessInfo> examine_sender(const Route& route, const Client& client) {
  std::string what = std::string(route.command) + " is for the person at the host: ";
  if (client.pid <= 0) throw AccessRefusal(what + "the requesting process is not known");
  std::optional<ProcessInfo> now = process_info(client.pid);
  if (!now || now->ended || client.started == 0 || now->start != client.started) {
    throw AccessRefusal(what + "the requesting process has ended");
  }
  std::optional<std::vector<ProcessInfo>> chain = ancestry(client.pid);
  if (!chain) throw AccessRefusal(what + "the requesting process cannot be examined");
  return std::move(*chain);
}

/// Refuses a person's request that does not come from the person: from a
/// process of a recruit, or from one that cannot be examined.
void require_person(const Route& route, const Client& client, const Canvas& canvas, const TerminalSet& terminals) {
  if (client.trusted) return;
  std::optional<std::string> holder = terminals.holder_of(examine_sender(route, client));
  if (!holder) return;
  const TerminalEntry* entry = canvas.terminal(*holder);
  if (entry != nullptr && entry->persons) return;
  throw AccessRefusal(std::string(route.command) + " is for the person at the host, not for terminal " + *holder,
                      *holder);
}

/// Logs a refused request with what was seen of its sender: its pid, the
/// terminal it proved to be (by its token, or as the holder of its process)
/// and, when it proved none, the terminal it only claimed.
void log_refusal(const AccessRefusal& refusal, const Json& request, const std::string& caller, pid_t pid) {
  std::string proven = refusal.who().empty() ? caller : refusal.who();
  std::string claimed = proven.empty() ? loggable(request, "terminalId") : std::string();
  std::string sender = pid > 0 ? std::to_string(pid) : std::string("unknown");
  std::string command = loggable(request, "command");
  if (!proven.empty()) {
    log_event("refused", {{"by", proven}, {"pid", sender}, {"command", command}, {"reason", refusal.text()}});
  } else if (!claimed.empty()) {
    log_event("refused", {{"pid", sender}, {"claimed", claimed}, {"command", command}, {"reason", refusal.text()}});
  } else {
    log_event("refused", {{"pid", sender}, {"command", command}, {"reason", refusal.text()}});
  }
}

/// Runs a change the state file must keep. When the file cannot be written
/// (or the change fails half way) the canvas takes back what it changed,
/// step by step, and nothing the change left for after the commit happens.
Json run_saved(const std::function<Json(Context&)>& change, Context& ctx, const StateFile& state) {
  Canvas::Change recorded(ctx.canvas);
  Json result = change(ctx);
  if (recorded.kept_changed()) {
    if (wire::Status saved = state.save(ctx.canvas); !saved.ok()) {
      ctx.on_commit.clear();
      throw Refusal("cannot write the state file, change undone: " + saved.error());
    }
  }
  recorded.keep();
  return result;
}

}  // namespace

Json ok_reply(Json result) { return {{"ok", true}, {"result", std::move(result)}}; }

Json error_reply(std::string_view text) {
  if (text.size() <= kMaxErrorBytes) return {{"ok", false}, {"error", wire::sanitize_utf8(text)}};
  std::size_t keep = kMaxErrorBytes;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;  // a whole character
  return {{"ok", false}, {"error", wire::sanitize_utf8(text.substr(0, keep)) + "..."}};
}

std::string reply_text(const Json& reply) {
  try {
    return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (const std::exception&) {
    return R"({"error":"internal error: reply cannot be written","ok":false})";
  }
}

Dispatcher::Dispatcher(Canvas& canvas, TerminalSet& terminals, const StateFile* state, std::vector<Preset> presets,
                       HostSettings settings)
    : canvas_(canvas),
      terminals_(terminals),
      state_(state),
      presets_(std::move(presets)),
      settings_(std::move(settings)),
      asks_(terminals, terminals.reactor().timers(), settings_.turn) {}

Cancel Dispatcher::handle(std::string_view line, const Client& client) {
  const Responder& respond = client.respond;
  Json request;
  std::string caller;
  try {
    request = parse_request(line);
    const Route& family = find_command(members::text(request, "command"));
    if (family.needs_caller) caller = authenticate(canvas_, request);
    if (family.person) require_person(family, client, canvas_, terminals_);
    const Route& route = find_sub(family, request);
    Context ctx{canvas_, terminals_, presets_, settings_, asks_, {}};
    Call call{request, caller, client};
    if (route.async != nullptr) {
      return route.async(ctx, call, respond);
    }
    auto handler = [&](Context& c) { return route.sync(c, call); };
    Json result = route.persists && state_ != nullptr ? run_saved(handler, ctx, *state_) : handler(ctx);
    for (const auto& effect : ctx.on_commit) effect();
    respond(ok_reply(std::move(result)));
  } catch (const AccessRefusal& refusal) {
    log_refusal(refusal, request, caller, client.pid);
    respond(error_reply(refusal.text()));
  } catch (const Refusal& refusal) {
    respond(error_reply(refusal.text()));
  } catch (const std::exception& e) {
    respond(error_reply(std::string("internal error: ") + e.what()));
  } catch (...) {
    respond(error_reply("internal error"));
  }
  return {};
}

Json Dispatcher::act(const std::function<Json(Context&)>& change) {
  Context ctx{canvas_, terminals_, presets_, settings_, asks_, {}};
  Json result = state_ != nullptr ? run_saved(change, ctx, *state_) : change(ctx);
  for (const auto& effect : ctx.on_commit) effect();
  return result;
}

void Dispatcher::set_listener(CanvasListener* listener) {
  canvas_.set_watcher(listener);
  if (listener == nullptr) return asks_.set_listener(nullptr);
  asks_.set_listener([listener](const std::string& name) { listener->turn_changed(name); });
}

Json Dispatcher::answer(std::string_view line) {
  // A pending answer may come after this returns: it must not write here.
  auto reply = std::make_shared<Json>();
  handle(line, Client{0, [reply](const Json& r) { *reply = r; }, nullptr, 0, true});
  return std::move(*reply);
}

}  // namespace host
