#include "reply_fields.h"

#include <string>

#include "../output.h"

namespace fields {
namespace {

const wire::Json* member(const wire::Json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

}  // namespace

bool has_text(const wire::Json& object, const char* key, std::string_view& value) {
  const wire::Json* m = member(object, key);
  if (m == nullptr || !m->is_string()) return false;
  value = m->get_ref<const std::string&>();
  return true;
}

std::string_view text(const wire::Json& object, const char* key, std::string_view fallback) {
  std::string_view value;
  return has_text(object, key, value) ? value : fallback;
}

bool flag(const wire::Json& object, const char* key) {
  const wire::Json* m = member(object, key);
  return m != nullptr && m->is_boolean() && m->get<bool>();
}

const wire::Json& list(const wire::Json& object, const char* key) {
  static const wire::Json kEmpty = wire::Json::array();
  const wire::Json* m = member(object, key);
  return m != nullptr && m->is_array() ? *m : kEmpty;
}

void print_named(std::string_view prefix, const wire::Json& result, const char* key) {
  std::string line(prefix);
  line.append(text(result, key, "?")).push_back('\n');
  out::write(line);
}

}  // namespace fields
