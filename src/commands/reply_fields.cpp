#include "reply_fields.h"

#include <string>

#include "output.h"

namespace fields {

bool has_text(Value object, std::string_view key, std::string_view& value) {
  std::optional<Value> m = object.find(key);
  if (!m || !m->is_string()) return false;
  value = m->text();
  return true;
}

std::string_view text(Value object, std::string_view key, std::string_view fallback) {
  std::string_view value;
  return has_text(object, key, value) ? value : fallback;
}

bool flag(Value object, std::string_view key) {
  std::optional<Value> m = object.find(key);
  return m && m->is_true();
}

reply::Elements list(Value object, std::string_view key) { return object.find(key).value_or(Value()).elements(); }

void print_named(std::string_view prefix, Value result, std::string_view key) {
  std::string line(prefix);
  line.append(text(result, key, "?")).push_back('\n');
  out::write(line);
}

}  // namespace fields
