// Requests about the shared objects: roles, presets and notes, one handler
// per subcommand (the dispatcher picks it by the request's `sub`).

#include "model/text_edit.h"
#include "protocol/handlers.h"
#include "protocol/members.h"

namespace host {
namespace {

/// {"name": name} once `done` went through, else its refusal.
OrRefusal<Json> named(const OrRefusal<void>& done, const std::string& name) {
  if (!done.ok()) return done.failure();
  return Json{{"name", name}};
}

}  // namespace

// --- roles -------------------------------------------------------------------

OrRefusal<Json> role_list(Context& ctx, const Call&) {
  Json roles = Json::array();
  for (const std::string& name : ctx.canvas.role_names()) roles.push_back({{"name", name}});
  return Json{{"roles", roles}};
}

OrRefusal<Json> role_create(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  const std::string& prompt = in.text("prompt");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.create_role(name, prompt), name);
}

OrRefusal<Json> role_show(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  if (in.refused()) return *in.refused();
  OrRefusal<const std::string*> prompt = ctx.canvas.role(name);
  if (!prompt.ok()) return prompt.failure();
  return Json{{"name", name}, {"prompt", **prompt}};
}

OrRefusal<Json> role_edit(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  const std::string& old_text = in.text("old");
  const std::string& new_text = in.text("new");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.edit_role(name, old_text, new_text), name);
}

OrRefusal<Json> role_write(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  const std::string& prompt = in.text("prompt");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.write_role(name, prompt), name);
}

OrRefusal<Json> role_delete(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.delete_role(name), name);
}

OrRefusal<Json> role_assign(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& recruit = in.text("recruit");
  bool none = in.optional_flag("none");
  std::optional<std::string> role = in.optional_text("role");
  if (in.refused()) return *in.refused();
  if (none && role) return refuse("give either role or none, not both");
  if (!none && !role) return refuse("missing member: role");
  if (OrRefusal<void> done = ctx.canvas.assign_role(call.caller, recruit, role); !done.ok()) return done.failure();
  return Json{{"recruit", recruit}, {"role", role ? Json(*role) : Json()}};
}

// --- presets -----------------------------------------------------------------

OrRefusal<Json> preset_list(Context& ctx, const Call&) {
  Json presets = Json::array();
  for (const Preset& preset : ctx.presets) presets.push_back({{"name", preset.name}, {"command", preset.command}});
  return Json{{"presets", presets}};
}

// --- notes -------------------------------------------------------------------

OrRefusal<Json> note_list(Context& ctx, const Call& call) {
  Json notes = Json::array();
  for (const NoteListing& note : ctx.canvas.notes_for(call.caller)) {
    notes.push_back({{"name", note.name}, {"connected", note.connected}});
  }
  return Json{{"notes", notes}};
}

OrRefusal<Json> note_create(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  std::optional<std::string> name = in.optional_text("name");
  std::optional<std::string> content = in.optional_text("content");
  if (in.refused()) return *in.refused();
  OrRefusal<std::string> created = ctx.canvas.create_note(call.caller, std::move(name), content.value_or(""));
  if (!created.ok()) return created.failure();
  return Json{{"name", *created}};
}

OrRefusal<Json> note_read(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  std::optional<std::uint64_t> offset = in.optional_count("offset");
  std::optional<std::uint64_t> limit = in.optional_count("limit");
  if (in.refused()) return *in.refused();
  OrRefusal<const std::string*> content = ctx.canvas.note(call.caller, name);
  if (!content.ok()) return content.failure();
  return Json{{"name", name},
              {"content", slice_lines(**content, offset.value_or(0), limit)},
              {"lines", count_lines(**content)}};
}

OrRefusal<Json> note_write(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  const std::string& content = in.text("content");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.write_note(call.caller, name, content), name);
}

OrRefusal<Json> note_edit(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  const std::string& old_text = in.text("old");
  const std::string& new_text = in.text("new");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.edit_note(call.caller, name, old_text, new_text), name);
}

OrRefusal<Json> note_delete(Context& ctx, const Call& call) {
  members::Reader in(call.request);
  const std::string& name = in.text("name");
  if (in.refused()) return *in.refused();
  return named(ctx.canvas.delete_note(call.caller, name), name);
}

}  // namespace host
