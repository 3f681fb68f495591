#include "model/presets.h"

#include "json_text.h"

namespace host {
namespace {

wire::Error bad_file(const std::string& path, const std::string& why) {
  return wire::Error("presets file " + path + ": " + why);
}

wire::Fallible<Preset> read_preset(const std::string& path, const wire::Json& entry) {
  if (!entry.is_object()) return bad_file(path, "every preset must be an object");
  auto name = entry.find("name");
  if (name == entry.end() || !name->is_string() || name->get_ref<const std::string&>().empty()) {
    return bad_file(path, "every preset needs a non-empty string \"name\"");
  }
  Preset preset{name->get<std::string>(), {}};
  for (auto [key, field] : {std::pair{"command", &Preset::command}, std::pair{"resume", &Preset::resume}}) {
    auto value = entry.find(key);
    if (value == entry.end()) continue;
    if (!value->is_string())
      return bad_file(path, std::string("\"") + key + "\" of " + preset.name + " must be a string");
    preset.*field = value->get<std::string>();
  }
  return preset;
}

void put(std::vector<Preset>& presets, Preset preset) {
  for (Preset& p : presets) {
    if (p.name == preset.name) {
      p = std::move(preset);
      return;
    }
  }
  presets.push_back(std::move(preset));
}

}  // namespace

std::vector<Preset> default_presets() { return {{"Shell", ""}}; }

wire::Fallible<std::vector<Preset>> parse_presets(std::string_view text, const std::string& path) {
  std::vector<Preset> presets = default_presets();
  wire::Parsed parsed = wire::parse_json(text);
  if (!parsed.ok()) return bad_file(path, "not valid JSON: " + parsed.failure().text);
  if (!parsed->is_array()) return bad_file(path, "must hold a JSON array of presets");
  for (const wire::Json& entry : *parsed) {
    wire::Fallible<Preset> preset = read_preset(path, entry);
    if (!preset.ok()) return preset.failure();
    put(presets, std::move(*preset));
  }
  return presets;
}

}  // namespace host
