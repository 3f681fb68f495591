#include "store/versioned_json.h"

#include <cstdint>

namespace host {

Read<wire::Json> read_versioned(std::string_view text, int version) {
  wire::Parsed parsed = wire::parse_json(text);
  if (!parsed.ok()) return Corrupt{"not valid JSON: " + parsed.failure().text};
  if (!parsed->is_object()) return Corrupt{"not a JSON object"};
  auto found = parsed->find("version");
  if (found == parsed->end() || !found->is_number_integer() || found->get<std::int64_t>() != version) {
    return Corrupt{"unknown \"version\" (this host reads version " + std::to_string(version) + ")"};
  }
  return std::move(*parsed);
}

}  // namespace host
