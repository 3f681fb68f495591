// The client's reply reader against the shared parser, which is the
// reference: on every line both take, the same value; on every other line,
// the reader refuses it too and reports the parser's error text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "json_text.h"
#include "reply.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  // The link refuses a line that is not UTF-8 before reading it.
  if (!wire::is_valid_utf8(line)) return 0;
  wire::Result reference = wire::parse_json(line);
  std::optional<reply::Document> indexed = reply::Document::index(line);
  if (indexed.has_value() != reference.ok()) __builtin_trap();
  if (indexed && reply::to_json(indexed->root()) != *reference.value) __builtin_trap();
  reply::Reading read = reply::read(line);
  if (read.ok() != reference.ok() || read.error != reference.error) __builtin_trap();
  return 0;
}
