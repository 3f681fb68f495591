#include "environment.h"

#include <cstdlib>

#include "utf8.h"

std::string_view env_text(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return {};
  std::string_view text(value);
  return utf8::is_valid_utf8(text) ? text : std::string_view{};
}
