// Requests about the shared objects: roles, presets and notes. Each family
// picks its operation by the `sub` member.

#include "handlers.h"
#include "members.h"
#include "refusal.h"
#include "text_edit.h"

namespace host {
namespace {

Json name_result(const std::string& name) { return {{"name", name}}; }

[[noreturn]] void unknown_sub(const char* family, const std::string& sub) {
  throw Refusal(std::string("unknown ") + family + " subcommand: " + sub);
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

}  // namespace

Json handle_role(Context& ctx, const Call& call) {
  const Json& req = call.request;
  const std::string& sub = members::text(req, "sub");
  Canvas& canvas = ctx.canvas;
  if (sub == "list") {
    Json roles = Json::array();
    for (const std::string& name : canvas.role_names()) roles.push_back({{"name", name}});
    return {{"roles", roles}};
  }
  if (sub == "assign") return role_assign(ctx, call);
  if (sub != "create" && sub != "show" && sub != "edit" && sub != "write" && sub != "delete") {
    unknown_sub("role", sub);
  }
  const std::string& name = members::text(req, "name");
  if (sub == "create") {
    canvas.create_role(name, members::text(req, "prompt"));
  } else if (sub == "show") {
    return {{"name", name}, {"prompt", canvas.role(name)}};
  } else if (sub == "edit") {
    canvas.edit_role(name, members::text(req, "old"), members::text(req, "new"));
  } else if (sub == "write") {
    canvas.write_role(name, members::text(req, "prompt"));
  } else {
    canvas.delete_role(name);
  }
  return name_result(name);
}

Json handle_preset(Context& ctx, const Call& call) {
  const std::string& sub = members::text(call.request, "sub");
  if (sub != "list") unknown_sub("preset", sub);
  Json presets = Json::array();
  for (const Preset& preset : ctx.presets) presets.push_back({{"name", preset.name}, {"command", preset.command}});
  return {{"presets", presets}};
}

Json handle_note(Context& ctx, const Call& call) {
  const Json& req = call.request;
  const std::string& sub = members::text(req, "sub");
  Canvas& canvas = ctx.canvas;
  if (sub == "list") {
    Json notes = Json::array();
    for (const NoteListing& note : canvas.notes_for(call.caller)) {
      notes.push_back({{"name", note.name}, {"connected", note.connected}});
    }
    return {{"notes", notes}};
  }
  if (sub == "create") {
    auto name = members::optional_text(req, "name");
    auto content = members::optional_text(req, "content");
    return name_result(canvas.create_note(call.caller, std::move(name), content.value_or("")));
  }
  if (sub != "read" && sub != "write" && sub != "edit" && sub != "delete") unknown_sub("note", sub);
  const std::string& name = members::text(req, "name");
  if (sub == "read") {
    auto offset = members::optional_count(req, "offset");
    auto limit = members::optional_count(req, "limit");
    const std::string& content = canvas.note(call.caller, name);
    return {
        {"name", name}, {"content", slice_lines(content, offset.value_or(0), limit)}, {"lines", count_lines(content)}};
  }
  if (sub == "write") {
    canvas.write_note(call.caller, name, members::text(req, "content"));
  } else if (sub == "edit") {
    canvas.edit_note(call.caller, name, members::text(req, "old"), members::text(req, "new"));
  } else {
    canvas.delete_note(call.caller, name);
  }
  return name_result(name);
}

}  // namespace host
