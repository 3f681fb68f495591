// The client's handling of a reply line: reading it (UTF-8 check, parse),
// and every renderer over whatever `result` the line holds.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "reply.h"

namespace {

/// Words that reach every branch of the renderers: the row's command and
/// subcommand, then operands.
std::vector<std::string_view> words_for(const catalogue::Request& row) {
  std::vector<std::string_view> words = {row.command};
  if (!row.sub.empty()) words.push_back(row.sub);
  words.insert(words.end(), {"A", "B", "C"});
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Renderers write to standard output; keep the fuzzer's console quiet.
  int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close(null);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  reply::Reading reply = reply::read(wire::Buffer(line));
  if (!reply.ok()) return 0;
  Value result = reply->root().find("result").value_or(Value());

  for (const catalogue::Bound<RenderFn>& entry : kRenderers) {
    if (entry.handler != nullptr) entry.handler(words_for(catalogue::row(entry.id)), result);
  }
  // Whatever parsed must also write back (the host and the batch operand
  // rely on the writer for parsed values).
  wire::Parsed again = wire::parse_json(line);
  if (!again.ok()) __builtin_trap();
  (void)wire::to_wire(*again);
  return 0;
}
