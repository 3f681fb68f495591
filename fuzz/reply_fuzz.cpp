// The client's handling of a reply line: reading it (UTF-8 check, parse),
// and every renderer over whatever `result` the line holds.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "reply.h"

namespace {

/// Word lists that select each renderer and each of its branches.
constexpr std::string_view kList[] = {"list"};
constexpr std::string_view kCheck[] = {"check", "Dev"};
constexpr std::string_view kAskBatch[] = {"ask", "--batch", "{}"};
constexpr std::string_view kConnect[] = {"connect", "A", "B"};
constexpr std::string_view kDismiss[] = {"dismiss", "A"};
constexpr std::string_view kRecruit[] = {"recruit", "A"};
constexpr std::string_view kRoles[][3] = {{"role", "list", ""},   {"role", "show", "A"},  {"role", "create", "A"},
                                          {"role", "edit", "A"},  {"role", "write", "A"}, {"role", "delete", "A"},
                                          {"role", "assign", "A"}};
constexpr std::string_view kPreset[] = {"preset", "list"};
constexpr std::string_view kNotes[][3] = {{"note", "list", ""},   {"note", "read", "N"}, {"note", "create", "N"},
                                          {"note", "write", "N"}, {"note", "edit", "N"}, {"note", "delete", "N"}};

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
  Value result = reply.document->root().find("result").value_or(Value());

  render_list(kList, result);
  render_check(kCheck, result);
  render_ask(kAskBatch, result);
  render_connect(kConnect, result);
  render_dismiss(kDismiss, result);
  render_recruit(kRecruit, result);
  for (const auto& words : kRoles) render_role(words, result);
  render_preset(kPreset, result);
  for (const auto& words : kNotes) render_note(words, result);
  // Whatever parsed must also write back (the host and the batch operand
  // rely on the writer for parsed values).
  (void)wire::to_wire(wire::parse_json(line).value.value());
  return 0;
}
