#include "protocol/dispatcher.h"

#include <array>
#include <memory>

#include "catalogue.h"
#include "loop/log.h"
#include "protocol/handlers.h"
#include "protocol/members.h"
#include "pty/process_info.h"
#include "store/state_file.h"
#include "utf8.h"

namespace host {
namespace {

using catalogue::From;
using catalogue::Request;

using catalogue::Id;

/// How the dispatcher serves one of the catalogue's rows.
struct Handler {
  SyncHandler sync = nullptr;
  AsyncHandler async = nullptr;
};

/// Whether the socket serves `row`: the agents' and the person's requests
/// in their plain shape (the client's forms are one request here), but
/// not those the client answers itself.
constexpr bool served(const Request& row) { return row.from != From::kPage && !row.local && row.form.empty(); }

constexpr catalogue::Bound<Handler> kHandlers[] = {
    {Id::kList, {handle_list}},
    {Id::kCheck, {handle_check}},
    {Id::kAsk, {nullptr, handle_ask}},
    {Id::kConnect, {handle_connect}},
    {Id::kDismiss, {handle_dismiss}},
    {Id::kRoleList, {role_list}},
    {Id::kRoleCreate, {role_create}},
    {Id::kRoleShow, {role_show}},
    {Id::kRoleEdit, {role_edit}},
    {Id::kRoleWrite, {role_write}},
    {Id::kRoleDelete, {role_delete}},
    {Id::kRoleAssign, {role_assign}},
    {Id::kPresetList, {preset_list}},
    {Id::kRecruit, {handle_recruit}},
    {Id::kNoteList, {note_list}},
    {Id::kNoteCreate, {note_create}},
    {Id::kNoteRead, {note_read}},
    {Id::kNoteWrite, {note_write}},
    {Id::kNoteEdit, {note_edit}},
    {Id::kNoteDelete, {note_delete}},
    {Id::kDebug, {handle_debug}},
    {Id::kJoin, {handle_join}},
    {Id::kLs, {handle_ls}},
    {Id::kSendKeys, {handle_send_keys}},
    {Id::kAttach, {nullptr, handle_attach}},
    {Id::kResume, {handle_resume}},
    {Id::kForget, {handle_forget}},
    {Id::kStop, {handle_stop}},
};
static_assert(catalogue::binds(kHandlers, served), "the rows the socket serves and the handlers here disagree");

constexpr std::array<Handler, catalogue::kRowCount> kHandlerOf = catalogue::by_id(kHandlers);

/// The served row with these words; null when there is none.
constexpr const Request* served_row(std::string_view command, std::string_view sub) {
  for (const Request& row : catalogue::kRequests) {
    if (served(row) && row.command == command && row.sub == sub) return &row;
  }
  return nullptr;
}

/// Whether each served row is found by its own words, so that a request
/// is served under its own row's policy, not its family's first row's.
consteval bool each_row_is_found_by_its_words() {
  for (const Request& row : catalogue::kRequests) {
    if (served(row) && served_row(row.command, row.sub)->id != row.id) return false;
  }
  return true;
}
static_assert(each_row_is_found_by_its_words());

/// The row a request names: by its `command` and, in a family, its `sub`.
/// Refuses words that name no row.
OrRefusal<const Request*> find_route(const Json& request) {
  members::Reader in(request);
  const std::string& command = in.text("command");
  if (in.refused()) return *in.refused();
  if (catalogue::find_family(command) == nullptr) {
    if (const Request* row = served_row(command, {})) return row;
    return refuse("unknown command: " + command);
  }
  const std::string& sub = in.text("sub");
  if (in.refused()) return *in.refused();
  if (const Request* row = served_row(command, sub)) return row;
  return refuse("unknown " + command + " subcommand: " + sub);
}

OrRefusal<Json> parse_request(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  wire::Parsed parsed = wire::parse_json(line, kMaxRequestValues);
  if (!parsed.ok() && parsed.failure().too_many) return refuse("request too large: " + parsed.failure().text);
  if (!parsed.ok()) return refuse("request is not valid JSON: " + parsed.failure().text);
  if (!parsed->is_object()) return refuse("request must be a JSON object");
  return std::move(*parsed);
}

/// The caller's name, once its terminal id and token match.
OrRefusal<std::string> authenticate(const Canvas& canvas, const Json& request) {
  members::Reader in(request);
  const std::string& id = in.text("terminalId");
  const std::string& token = in.text("token");
  if (in.refused()) return *in.refused();
  if (!canvas.authenticate(id, token)) return deny("unknown terminal or token");
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
OrRefusal<std::vector<ProcessInfo>> examine_sender(const Request& route, const Client& client) {
  std::string what = std::string(route.command) + " is for the person at the host: ";
  if (client.pid <= 0) return deny(what + "the requesting process is not known");
  std::optional<ProcessInfo> now = process_info(client.pid);
  if (!now || now->ended || client.started == 0 || now->start != client.started) {
    return deny(what + "the requesting process has ended");
  }
  std::optional<std::vector<ProcessInfo>> chain = ancestry(client.pid);
  if (!chain) return deny(what + "the requesting process cannot be examined");
  return std::move(*chain);
}

/// Refuses a person's request that does not come from the person: from a
/// process of a recruit, or from one that cannot be examined.
OrRefusal<void> require_person(const Request& route, const Client& client, const Canvas& canvas,
                               const TerminalSet& terminals) {
  if (client.trusted) return {};
  OrRefusal<std::vector<ProcessInfo>> sender = examine_sender(route, client);
  if (!sender.ok()) return sender.failure();
  std::optional<Holder> holder = terminals.holder_of(*sender);
  if (!holder) return {};
  std::string what = std::string(route.command) + " is for the person at the host, not for ";
  if (holder->name.empty()) return deny(what + "a process a terminal started");
  const TerminalEntry* entry = canvas.terminal(holder->name);
  if (entry != nullptr && entry->persons) return {};
  return deny(what + "terminal " + holder->name, holder->name);
}

/// Logs a refused request with what was seen of its sender: its pid, the
/// terminal it proved to be (by its token, or as the holder of its process)
/// and, when it proved none, the terminal it only claimed.
void log_refusal(const Refusal& refusal, const Json& request, const std::string& caller, pid_t pid) {
  std::string proven = refusal.who.empty() ? caller : refusal.who;
  std::string claimed = proven.empty() ? loggable(request, "terminalId") : std::string();
  std::string sender = pid > 0 ? std::to_string(pid) : std::string("unknown");
  std::string command = loggable(request, "command");
  if (!proven.empty()) {
    log_event("refused", {{"by", proven}, {"pid", sender}, {"command", command}, {"reason", refusal.text}});
  } else if (!claimed.empty()) {
    log_event("refused", {{"pid", sender}, {"claimed", claimed}, {"command", command}, {"reason", refusal.text}});
  } else {
    log_event("refused", {{"pid", sender}, {"command", command}, {"reason", refusal.text}});
  }
}

/// Runs a change the state file must keep. When the file cannot be written
/// (or the change is refused half way) the canvas takes back what it
/// changed, step by step, and nothing the change left for after the commit
/// happens.
OrRefusal<Json> run_saved(const Serve& change, Context& ctx, StateFile& state) {
  Canvas::Change recorded(ctx.canvas);
  OrRefusal<Json> result = change(ctx);
  if (!result.ok()) return result;
  if (recorded.kept_changed()) {
    if (wire::Status saved = state.save(ctx.canvas); !saved.ok()) {
      return refuse("cannot write the state file, change undone: " + saved.failure().text);
    }
  }
  recorded.keep();
  return result;
}

/// `step`, or the fault it threw as a refusal: exceptions come only from
/// what the language makes throw (memory, a library's constructor), and
/// this is the one place that catches them.
OrRefusal<Json> guarded(const std::function<OrRefusal<Json>()>& step) {
  try {
    return step();
  } catch (const std::exception& e) {
    return refuse(std::string("internal error: ") + e.what());
  } catch (...) {
    return refuse("internal error");
  }
}

/// The reply to an outcome: {"ok":true,"result":...} or the refusal's error.
Json reply_to(OrRefusal<Json> outcome) {
  if (!outcome.ok()) return error_reply(outcome.failure().text);
  return ok_reply(std::move(*outcome));
}

}  // namespace

Json ok_reply(Json result) { return {{"ok", true}, {"result", std::move(result)}}; }

Json error_reply(std::string_view text) {
  if (text.size() <= kMaxErrorBytes) return {{"ok", false}, {"error", utf8::sanitize_utf8(text)}};
  std::size_t keep = kMaxErrorBytes;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;  // a whole character
  return {{"ok", false}, {"error", utf8::sanitize_utf8(text.substr(0, keep)) + "..."}};
}

std::string reply_text(const Json& reply) {
  try {
    return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (const std::exception&) {
    return R"({"error":"internal error: reply cannot be written","ok":false})";
  }
}

Dispatcher::Dispatcher(Canvas& canvas, TerminalSet& terminals, StateFile* state, std::vector<Preset> presets,
                       HostSettings settings)
    : canvas_(canvas),
      terminals_(terminals),
      state_(state),
      presets_(std::move(presets)),
      settings_(std::move(settings)),
      asks_(terminals, terminals.reactor().timers(), settings_.turn) {}

Cancel Dispatcher::handle(std::string_view line, const Client& client) {
  Json request;
  std::string caller;
  Cancel cancel;
  bool answered_later = false;
  OrRefusal<Json> outcome = guarded([&]() -> OrRefusal<Json> {
    OrRefusal<Json> parsed = parse_request(line);
    if (!parsed.ok()) return parsed;
    request = std::move(*parsed);
    OrRefusal<const Request*> found = find_route(request);
    if (!found.ok()) return found.failure();
    const Request& route = **found;
    if (route.needs_caller) {
      OrRefusal<std::string> who = authenticate(canvas_, request);
      if (!who.ok()) return who.failure();
      caller = std::move(*who);
    }
    if (route.from == From::kPerson) {
      if (OrRefusal<void> person = require_person(route, client, canvas_, terminals_); !person.ok()) {
        return person.failure();
      }
    }
    const Handler& handler = kHandlerOf[catalogue::index(route.id)];
    Context ctx{canvas_, terminals_, presets_, settings_, asks_, {}};
    Call call{request, caller, client};
    if (handler.async == nullptr)
      return run(
          route, [&](Context& c) { return handler.sync(c, call); }, ctx);
    OrRefusal<Cancel> waiting = handler.async(ctx, call, client.respond);
    if (!waiting.ok()) return waiting.failure();
    cancel = std::move(*waiting);
    answered_later = true;
    return Json();
  });
  if (!outcome.ok() && outcome.failure().access) log_refusal(outcome.failure(), request, caller, client.pid);
  if (!answered_later) client.respond(reply_to(std::move(outcome)));
  return cancel;
}

Json Dispatcher::serve(const catalogue::Request& row, const Serve& serve) {
  return reply_to(guarded([&] {
    Context ctx{canvas_, terminals_, presets_, settings_, asks_, {}};
    return run(row, serve, ctx);
  }));
}

OrRefusal<Json> Dispatcher::run(const catalogue::Request& row, const Serve& serve, Context& ctx) {
  bool keeps = row.effect == catalogue::Effect::kKeeps && state_ != nullptr;
  OrRefusal<Json> result = keeps ? run_saved(serve, ctx, *state_) : serve(ctx);
  if (!result.ok()) return result;
  for (const auto& effect : ctx.on_commit) effect();
  bool changes = row.effect == catalogue::Effect::kChanges || row.effect == catalogue::Effect::kKeeps;
  if (changes && on_change_) on_change_();
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
