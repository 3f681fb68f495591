// The client's reply reader against the reference: the UTF-8 check and the
// shared parser. On every line both take, the same value; on every other
// line, the reader refuses it too, with the reference's error text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "json_text.h"
#include "reply.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  std::optional<wire::Json> expected;
  std::string expected_error = "stream did not contain valid UTF-8";
  if (utf8::is_valid_utf8(line)) {
    wire::Parsed reference = wire::parse_json(line);
    if (reference.ok()) expected = *reference;
    expected_error = reference.ok() ? "" : "bad response: " + reference.failure().text;
  }
  std::optional<reply::Document> indexed = reply::Document::index(line);
  if (indexed.has_value() != expected.has_value()) __builtin_trap();
  if (indexed && reply::to_json(indexed->root()) != *expected) __builtin_trap();
  reply::Reading read = reply::read(wire::Buffer(line));
  if (read.ok() != expected.has_value() || (read.ok() ? "" : read.failure()) != expected_error) __builtin_trap();
  return 0;
}
