#pragma once
// Typed reading of a request's members. A member that is missing where it is
// required, or has another JSON type, is refused with a message naming it.
// A Reader reads members in order and keeps the first refusal; the values it
// gives after that are empty, so a handler reads what it needs and then
// looks once whether all was there.

#include <cstdint>
#include <optional>
#include <string>

#include "base/refusal.h"
#include "json_text.h"

namespace host::members {

class Reader {
 public:
  explicit Reader(const wire::Json& request) : request_(request) {}

  /// The string member `key`.
  const std::string& text(const char* key);
  /// The string member `key`, if present.
  std::optional<std::string> optional_text(const char* key);
  /// The unsigned integer member `key`, if present.
  std::optional<std::uint64_t> optional_count(const char* key);
  /// The boolean member `key`; false when absent.
  bool optional_flag(const char* key);
  /// The object member `key`.
  const wire::Json& object(const char* key);
  /// True when the request has a member `key`, of any type.
  bool has(const char* key) const;

  /// The first refusal of the reads so far, if any.
  const std::optional<Refusal>& refused() const { return refused_; }

 private:
  /// The member `key`, or null when absent.
  const wire::Json* find(const char* key) const;
  /// Keeps the refusal when it is the first.
  void refuse(std::string text);
  void mistyped(const char* key, const char* type);

  const wire::Json& request_;
  std::optional<Refusal> refused_;
};

}  // namespace host::members
