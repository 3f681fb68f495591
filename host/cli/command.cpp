#include "cli/command.h"

#include <string>

namespace host::cli {

OrFault<void> require_operands(const Args& args, std::size_t least, std::size_t most, std::string_view missing) {
  std::size_t n = args.operands().size();
  if (n < least) return usage_fault(std::string(missing));
  if (n > most) return usage_fault("unexpected argument: " + args.operands()[most]);
  return {};
}

}  // namespace host::cli
