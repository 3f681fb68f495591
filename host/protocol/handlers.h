#pragma once
// The handlers of the request commands, one per `command` word, and what
// they share. A handler reads the request's members, works on the canvas and
// the terminals, and returns the reply's `result` or its refusal. The
// dispatcher has checked the envelope and the caller.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/canvas.h"
#include "protocol/dispatcher.h"
#include "turns/asks.h"

namespace host {

struct Context {
  Canvas& canvas;
  TerminalSet& terminals;
  const std::vector<Preset>& presets;
  const HostSettings& settings;
  Asks& asks;
  /// What cannot be undone (ending a process): run once the request's
  /// change is saved, dropped when it is refused.
  std::vector<std::function<void()>> on_commit;
};

/// One request: its parsed object, the authenticated caller's name (empty
/// for requests that need no caller) and the client that sent it.
struct Call {
  const Json& request;
  const std::string& caller;
  const Client& client;
};

/// What to recruit: a codename, and optionally a role and the command
/// (`cmd`, else the preset's, else the user's shell).
struct Recruit {
  std::string codename;
  std::optional<std::string> role, preset, cmd;
};

/// Starts a recruit for `by` and puts it on the canvas, roped to nobody;
/// returns its name (the codename, or with "-2", "-3", ... when that is
/// taken).
OrRefusal<std::string> recruit_terminal(Context& ctx, const Recruit& recruit, const std::string& by);
/// Starts held terminal `name` again (see protocol/keeper.h): its preset's
/// resume command, else the command it ran, else the user's shell, in the
/// directory it ran in, below its saved screen; logs that `by` resumed it.
/// Refuses a name that is not a held terminal.
OrRefusal<void> resume_terminal(Context& ctx, const std::string& name, const std::string& by);
/// Takes terminal `name` off the canvas; once the change is kept, ends its
/// turn and hangs it up, and logs that `by` dismissed it.
void dismiss_terminal(Context& ctx, const std::string& name, const std::string& by);

/// Answers at once with the result, or refuses.
using SyncHandler = OrRefusal<Json> (*)(Context& ctx, const Call& call);
/// Answers through `respond`, now or later, and returns what cancels the
/// wait (empty when nothing waits); or refuses, without having kept
/// `respond`.
using AsyncHandler = OrRefusal<Cancel> (*)(Context& ctx, const Call& call, const Responder& respond);

// handle_terminals.cpp
OrRefusal<Json> handle_list(Context& ctx, const Call& call);
OrRefusal<Json> handle_check(Context& ctx, const Call& call);
OrRefusal<Json> handle_connect(Context& ctx, const Call& call);
OrRefusal<Json> handle_dismiss(Context& ctx, const Call& call);
OrRefusal<Json> handle_recruit(Context& ctx, const Call& call);
OrRefusal<Json> handle_debug(Context& ctx, const Call& call);

// handle_person.cpp: the person's requests (welkmora-host's own commands)
OrRefusal<Json> handle_join(Context& ctx, const Call& call);
OrRefusal<Json> handle_ls(Context& ctx, const Call& call);
OrRefusal<Json> handle_send_keys(Context& ctx, const Call& call);
OrRefusal<Cancel> handle_attach(Context& ctx, const Call& call, const Responder& respond);
OrRefusal<Json> handle_resume(Context& ctx, const Call& call);
OrRefusal<Json> handle_forget(Context& ctx, const Call& call);
OrRefusal<Json> handle_stop(Context& ctx, const Call& call);

// handle_ask.cpp
OrRefusal<Cancel> handle_ask(Context& ctx, const Call& call, const Responder& respond);

// handle_objects.cpp: the families that pick their operation by `sub`
OrRefusal<Json> role_list(Context& ctx, const Call& call);
OrRefusal<Json> role_create(Context& ctx, const Call& call);
OrRefusal<Json> role_show(Context& ctx, const Call& call);
OrRefusal<Json> role_edit(Context& ctx, const Call& call);
OrRefusal<Json> role_write(Context& ctx, const Call& call);
OrRefusal<Json> role_delete(Context& ctx, const Call& call);
OrRefusal<Json> role_assign(Context& ctx, const Call& call);
OrRefusal<Json> preset_list(Context& ctx, const Call& call);
OrRefusal<Json> note_list(Context& ctx, const Call& call);
OrRefusal<Json> note_create(Context& ctx, const Call& call);
OrRefusal<Json> note_read(Context& ctx, const Call& call);
OrRefusal<Json> note_write(Context& ctx, const Call& call);
OrRefusal<Json> note_edit(Context& ctx, const Call& call);
OrRefusal<Json> note_delete(Context& ctx, const Call& call);

/// {"ok":true,"result":result}.
Json ok_reply(Json result);

}  // namespace host
