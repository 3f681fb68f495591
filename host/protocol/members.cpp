#include "protocol/members.h"

namespace host::members {

using wire::Json;

namespace {

const std::string kNoText;
const Json kNoObject = Json::object();

}  // namespace

const Json* Reader::find(const char* key) const {
  auto it = request_.find(key);
  return it == request_.end() ? nullptr : &*it;
}

void Reader::refuse(std::string text) {
  if (!refused_) refused_ = host::refuse(std::move(text));
}

void Reader::mistyped(const char* key, const char* type) { refuse(std::string("member ") + key + " must be " + type); }

const std::string& Reader::text(const char* key) {
  const Json* value = find(key);
  if (value == nullptr) {
    refuse(std::string("missing member: ") + key);
    return kNoText;
  }
  if (!value->is_string()) {
    mistyped(key, "a string");
    return kNoText;
  }
  return value->get_ref<const std::string&>();
}

std::optional<std::string> Reader::optional_text(const char* key) {
  if (!has(key)) return std::nullopt;
  return text(key);
}

std::optional<std::uint64_t> Reader::optional_count(const char* key) {
  const Json* value = find(key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number_unsigned()) {
    mistyped(key, "an unsigned integer");
    return std::nullopt;
  }
  return value->get<std::uint64_t>();
}

bool Reader::optional_flag(const char* key) {
  const Json* value = find(key);
  if (value == nullptr) return false;
  if (!value->is_boolean()) {
    mistyped(key, "a boolean");
    return false;
  }
  return value->get<bool>();
}

const Json& Reader::object(const char* key) {
  const Json* value = find(key);
  if (value == nullptr) {
    refuse(std::string("missing member: ") + key);
    return kNoObject;
  }
  if (!value->is_object()) {
    mistyped(key, "an object");
    return kNoObject;
  }
  return *value;
}

bool Reader::has(const char* key) const { return find(key) != nullptr; }

}  // namespace host::members
