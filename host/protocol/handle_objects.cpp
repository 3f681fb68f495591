// Requests about the shared objects: roles, presets and notes, one handler
// per subcommand (the dispatcher picks it by the request's `sub`).

#include "model/refusal.h"
#include "model/text_edit.h"
#include "protocol/handlers.h"
#include "protocol/members.h"

namespace host {
namespace {

const std::string& name_of(const Call& call) { return members::text(call.request, "name"); }

Json name_result(const std::string& name) { return {{"name", name}}; }

}  // namespace

// --- roles -------------------------------------------------------------------

Json role_list(Context& ctx, const Call&) {
  Json roles = Json::array();
  for (const std::string& name : ctx.canvas.role_names()) roles.push_back({{"name", name}});
  return {{"roles", roles}};
}

Json role_create(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.create_role(name, members::text(call.request, "prompt"));
  return name_result(name);
}

Json role_show(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  return {{"name", name}, {"prompt", ctx.canvas.role(name)}};
}

Json role_edit(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.edit_role(name, members::text(call.request, "old"), members::text(call.request, "new"));
  return name_result(name);
}

Json role_write(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.write_role(name, members::text(call.request, "prompt"));
  return name_result(name);
}

Json role_delete(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.delete_role(name);
  return name_result(name);
}

Json role_assign(Context& ctx, const Call& call) {
  const std::string& recruit = members::text(call.request, "recruit");
  bool none = members::optional_flag(call.request, "none");
  std::optional<std::string> role = members::optional_text(call.request, "role");
  if (none && role) throw Refusal("give either role or none, not both");
  if (!none && !role) throw Refusal("missing member: role");
  ctx.canvas.assign_role(call.caller, recruit, role);
  return {{"recruit", recruit}, {"role", role ? Json(*role) : Json()}};
}

// --- presets -----------------------------------------------------------------

Json preset_list(Context& ctx, const Call&) {
  Json presets = Json::array();
  for (const Preset& preset : ctx.presets) presets.push_back({{"name", preset.name}, {"command", preset.command}});
  return {{"presets", presets}};
}

// --- notes -------------------------------------------------------------------

Json note_list(Context& ctx, const Call& call) {
  Json notes = Json::array();
  for (const NoteListing& note : ctx.canvas.notes_for(call.caller)) {
    notes.push_back({{"name", note.name}, {"connected", note.connected}});
  }
  return {{"notes", notes}};
}

Json note_create(Context& ctx, const Call& call) {
  auto name = members::optional_text(call.request, "name");
  auto content = members::optional_text(call.request, "content");
  return name_result(ctx.canvas.create_note(call.caller, std::move(name), content.value_or("")));
}

Json note_read(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  auto offset = members::optional_count(call.request, "offset");
  auto limit = members::optional_count(call.request, "limit");
  const std::string& content = ctx.canvas.note(call.caller, name);
  return {
      {"name", name}, {"content", slice_lines(content, offset.value_or(0), limit)}, {"lines", count_lines(content)}};
}

Json note_write(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.write_note(call.caller, name, members::text(call.request, "content"));
  return name_result(name);
}

Json note_edit(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.edit_note(call.caller, name, members::text(call.request, "old"), members::text(call.request, "new"));
  return name_result(name);
}

Json note_delete(Context& ctx, const Call& call) {
  const std::string& name = name_of(call);
  ctx.canvas.delete_note(call.caller, name);
  return name_result(name);
}

}  // namespace host
