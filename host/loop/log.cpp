#include "loop/log.h"

#include <unistd.h>

#include <string>

#include "io.h"

namespace host {

void report(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 16);
  line.append("welkmora-host: ").append(text).push_back('\n');
  (void)wire::write_all(STDERR_FILENO, line);
}

}  // namespace host
