#include "output.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace out {

void write(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string on_screen(std::string_view text) {
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  return terminal ? utf8::escape_controls(text, "\t\n") : std::string(text);
}

void warn(std::string_view text) {
  std::fflush(stdout);
  // One write per message, so concurrent runs never interleave within it.
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stderr);
}

void error_line(std::string_view message) {
  std::string line;
  line.reserve(message.size() + 11);
  line.append("welkmora: ").append(message).push_back('\n');
  warn(line);
}

void flush() { std::fflush(stdout); }

int finish(int status) {
  bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  return failed ? 1 : status;
}

int report(const Failure& failure) {
  for (const std::string& message : failure.messages) error_line(message);
  return finish(1);
}

}  // namespace out
