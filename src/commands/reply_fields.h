#pragma once
// Lenient reading of a reply's result: a member that is missing or of
// another JSON type counts as missing and yields the caller's default.

#include <string_view>

#include "json_text.h"

namespace fields {

/// `object[key]` when `object` is an object and that member is a string,
/// else `fallback`.
std::string_view text(const wire::Json& object, const char* key, std::string_view fallback = {});

/// `object[key]` when it is the boolean true.
bool flag(const wire::Json& object, const char* key);

/// `object[key]` when it is an array, else an empty array.
const wire::Json& list(const wire::Json& object, const char* key);

/// True when `object[key]` is a string; fills `value`.
bool has_text(const wire::Json& object, const char* key, std::string_view& value);

/// Prints "<prefix><name>\n" with the name the result gives under `key`,
/// or "?" when it gives none: the shape of every one-line confirmation.
void print_named(std::string_view prefix, const wire::Json& result, const char* key = "name");

}  // namespace fields
