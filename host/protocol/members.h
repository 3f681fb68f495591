#pragma once
// Typed reading of a request's members. A member that is missing where it is
// required, or has another JSON type, is refused with a message naming it.

#include <cstdint>
#include <optional>
#include <string>

#include "json_text.h"

namespace host::members {

/// The string member `key`.
const std::string& text(const wire::Json& request, const char* key);
/// The string member `key`, if present.
std::optional<std::string> optional_text(const wire::Json& request, const char* key);
/// The unsigned integer member `key`, if present.
std::optional<std::uint64_t> optional_count(const wire::Json& request, const char* key);
/// The boolean member `key`; false when absent.
bool optional_flag(const wire::Json& request, const char* key);
/// The object member `key`.
const wire::Json& object(const wire::Json& request, const char* key);
/// True when the request has a member `key`, of any type.
bool has(const wire::Json& request, const char* key);

}  // namespace host::members
