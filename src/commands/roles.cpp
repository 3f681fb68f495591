// The `role` family and `preset list`: the reusable role prompts and agent
// launch presets that the app keeps.

#include <string>

#include "commands.h"
#include "output.h"
#include "reply_fields.h"

namespace {

constexpr std::string_view kRoleUsage =
    "usage: welkmora role list | create \"Name\" \"Prompt\" | show \"Name\" | edit \"Name\" \"old\" \"new\" | "
    "write \"Name\" \"prompt\" | delete \"Name\" | assign \"Recruit\" (\"Role\" | --none)";
constexpr std::string_view kPresetUsage = "usage: welkmora preset list";

/// Adds one subcommand's members, its word count already checked.
using FillFn = void (*)(Words words, Json& request);

void fill_nothing(Words, Json&) {}
void fill_name(Words words, Json& request) { request["name"] = words[2]; }

void fill_name_prompt(Words words, Json& request) {
  request["name"] = words[2];
  request["prompt"] = words[3];
}

void fill_edit(Words words, Json& request) {
  request["name"] = words[2];
  request["old"] = words[3];
  request["new"] = words[4];
}

/// "--none" counts in word 3 only; any other word there is a role name.
void fill_assign(Words words, Json& request) {
  request["recruit"] = words[2];
  if (words[3] == "--none") {
    request["none"] = true;
  } else {
    request["role"] = words[3];
  }
}

void render_list(Value result) {
  reply::Elements roles = fields::list(result, "roles");
  if (roles.empty()) {
    out::write("Keine Rollen definiert.\n");
    return;
  }
  std::string text = "Verfügbare Rollen:\n";
  for (Value role : roles) text.append("  - ").append(fields::text(role, "name", "?")).push_back('\n');
  out::write(text);
}

void render_show(Value result) {
  std::string text = "Rolle ";
  text.append(fields::text(result, "name", "?")).append(":\n");
  text.append(fields::text(result, "prompt")).push_back('\n');
  out::write(text);
}

void render_create(Value result) { fields::print_named("Rolle angelegt: ", result); }
void render_update(Value result) { fields::print_named("Rolle aktualisiert: ", result); }
void render_delete(Value result) { fields::print_named("Rolle gelöscht: ", result); }
void render_assign(Value result) { fields::print_named("Recruit umgerollt: ", result, "recruit"); }

struct Subcommand {
  std::string_view word;
  std::size_t needs;  // words, the command word included
  std::string_view usage;
  FillFn fill;
  void (*render)(Value result);
};

constexpr Subcommand kSubcommands[] = {
    {"list", 2, kRoleUsage, fill_nothing, render_list},
    {"create", 4, "usage: welkmora role create \"Name\" \"Prompt\"", fill_name_prompt, render_create},
    {"show", 3, "usage: welkmora role show \"Name\"", fill_name, render_show},
    {"edit", 5, "usage: welkmora role edit \"Name\" \"old\" \"new\"", fill_edit, render_update},
    {"write", 4, "usage: welkmora role write \"Name\" \"new prompt\"", fill_name_prompt, render_update},
    {"delete", 3, "usage: welkmora role delete \"Name\"", fill_name, render_delete},
    {"assign", 4, "usage: welkmora role assign \"Recruit\" \"Role\"  |  welkmora role assign \"Recruit\" --none",
     fill_assign, render_assign},
};

const Subcommand* find_subcommand(Words words) {
  if (words.size() < 2) return nullptr;
  for (const Subcommand& s : kSubcommands) {
    if (s.word == words[1]) return &s;
  }
  return nullptr;
}

/// The usage line, then for a word that is there but unknown, the line
/// naming it; ends the run.
[[noreturn]] void fail_subcommand(std::string_view usage, std::string_view family, Words words) {
  out::error_line(usage);
  if (words.size() > 1 && !words[1].empty()) {
    out::error_line(std::string("unknown ").append(family).append(" subcommand: ").append(words[1]));
  }
  out::exit_failure();
}

void render_preset_item(std::string& text, Value preset) {
  text.append("  - ").append(fields::text(preset, "name", "?"));
  std::string_view command = fields::text(preset, "command");
  if (!command.empty()) text.append("  (").append(command).push_back(')');
  text.push_back('\n');
}

}  // namespace

Json build_role_request(Words words, std::string_view token, std::string_view terminal_id) {
  const Subcommand* sub = find_subcommand(words);
  if (sub == nullptr) fail_subcommand(kRoleUsage, "role", words);
  if (words.size() < sub->needs) out::fail(sub->usage);
  Json request = {{"command", "role"}, {"terminalId", terminal_id}, {"token", token}, {"sub", sub->word}};
  sub->fill(words, request);
  return request;
}

Json build_role(Words words, Json envelope) {
  // The envelope's members are the strings main() put there.
  return build_role_request(words, envelope.at("token").get_ref<const std::string&>(),
                            envelope.at("terminalId").get_ref<const std::string&>());
}

void render_role(Words words, Value result) {
  if (const Subcommand* sub = find_subcommand(words)) sub->render(result);
}

Json build_preset(Words words, Json envelope) {
  if (words.size() > 1 && words[1] != "list") fail_subcommand(kPresetUsage, "preset", words);
  envelope["sub"] = "list";
  return envelope;
}

void render_preset(Words, Value result) {
  reply::Elements presets = fields::list(result, "presets");
  if (presets.empty()) {
    out::write("Keine Presets definiert.\n");
    return;
  }
  std::string text = "Verfügbare Presets:\n";
  for (Value preset : presets) render_preset_item(text, preset);
  out::write(text);
}
