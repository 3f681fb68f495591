#include "protocol/members.h"

#include "model/refusal.h"

namespace host::members {
namespace {

using wire::Json;

/// The member `key`, or null when absent.
const Json* find(const Json& request, const char* key) {
  auto it = request.find(key);
  return it == request.end() ? nullptr : &*it;
}

[[noreturn]] void mistyped(const char* key, const char* type) {
  throw Refusal(std::string("member ") + key + " must be " + type);
}

const Json& required(const Json& request, const char* key) {
  const Json* value = find(request, key);
  if (value == nullptr) throw Refusal(std::string("missing member: ") + key);
  return *value;
}

}  // namespace

const std::string& text(const Json& request, const char* key) {
  const Json& value = required(request, key);
  if (!value.is_string()) mistyped(key, "a string");
  return value.get_ref<const std::string&>();
}

std::optional<std::string> optional_text(const Json& request, const char* key) {
  if (!has(request, key)) return std::nullopt;
  return text(request, key);
}

std::optional<std::uint64_t> optional_count(const Json& request, const char* key) {
  const Json* value = find(request, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number_unsigned()) mistyped(key, "an unsigned integer");
  return value->get<std::uint64_t>();
}

bool optional_flag(const Json& request, const char* key) {
  const Json* value = find(request, key);
  if (value == nullptr) return false;
  if (!value->is_boolean()) mistyped(key, "a boolean");
  return value->get<bool>();
}

const Json& object(const Json& request, const char* key) {
  const Json& value = required(request, key);
  if (!value.is_object()) mistyped(key, "an object");
  return value;
}

bool has(const Json& request, const char* key) { return find(request, key) != nullptr; }

}  // namespace host::members
