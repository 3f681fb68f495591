// The `role` family's renderers and `preset list`: the reusable role prompts
// and agent launch presets that the app keeps.

#include <string>

#include "commands.h"
#include "output.h"
#include "reply_fields.h"

namespace {

void render_preset_item(std::string& text, Value preset) {
  text.append("  - ").append(fields::text(preset, "name", "?"));
  std::string_view command = fields::text(preset, "command");
  if (!command.empty()) text.append("  (").append(command).push_back(')');
  text.push_back('\n');
}

}  // namespace

void render_role_list(Words, Value result) {
  reply::Elements roles = fields::list(result, "roles");
  if (roles.empty()) {
    out::write("Keine Rollen definiert.\n");
    return;
  }
  std::string text = "Verfügbare Rollen:\n";
  for (Value role : roles) text.append("  - ").append(fields::text(role, "name", "?")).push_back('\n');
  out::write(text);
}

void render_role_show(Words, Value result) {
  std::string text = "Rolle ";
  text.append(fields::text(result, "name", "?")).append(":\n");
  text.append(fields::text(result, "prompt")).push_back('\n');
  out::write(out::on_screen(text));
}

void render_role_created(Words, Value result) { fields::print_named("Rolle angelegt: ", result); }
void render_role_updated(Words, Value result) { fields::print_named("Rolle aktualisiert: ", result); }
void render_role_deleted(Words, Value result) { fields::print_named("Rolle gelöscht: ", result); }
void render_role_assigned(Words, Value result) { fields::print_named("Recruit umgerollt: ", result, "recruit"); }

void render_preset_list(Words, Value result) {
  reply::Elements presets = fields::list(result, "presets");
  if (presets.empty()) {
    out::write("Keine Presets definiert.\n");
    return;
  }
  std::string text = "Verfügbare Presets:\n";
  for (Value preset : presets) render_preset_item(text, preset);
  out::write(text);
}
