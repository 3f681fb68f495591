#include "cli/command.h"

#include <string>

namespace host::cli {

void require_operands(const Args& args, std::size_t least, std::size_t most, std::string_view missing) {
  std::size_t n = args.operands().size();
  if (n < least) throw UsageError(std::string(missing));
  if (n > most) throw UsageError("unexpected argument: " + args.operands()[most]);
}

}  // namespace host::cli
