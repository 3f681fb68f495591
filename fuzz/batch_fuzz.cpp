// The `ask --batch` operand: any text an agent types is parsed, and an
// object is written back into the request without throwing or recursing
// past the nesting bound.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json_text.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view operand(reinterpret_cast<const char*>(data), size);
  // Arguments that are not UTF-8 are refused before a command looks at them.
  if (!utf8::is_valid_utf8(operand)) return 0;
  wire::Parsed parsed = wire::parse_json(operand);
  if (!parsed.ok() || !parsed->is_object()) return 0;
  wire::Json envelope = {{"command", "ask"}, {"terminalId", "T"}, {"token", ""}};
  envelope["batch"] = std::move(*parsed);
  std::string line = wire::to_wire(envelope);
  // The line must read back to the same request.
  if (wire::Parsed back = wire::parse_json(line); !back.ok() || *back != envelope) __builtin_trap();
  return 0;
}
