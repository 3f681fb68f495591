#pragma once
// Lenient reading of a reply's result: a member that is missing or of
// another JSON type counts as missing and yields the caller's default.

#include <string_view>

#include "reply.h"

namespace fields {

using reply::Value;

/// `object[key]` when `object` is an object and that member is a string,
/// else `fallback`.
std::string_view text(Value object, std::string_view key, std::string_view fallback = {});

/// `object[key]` when it is the boolean true.
bool flag(Value object, std::string_view key);

/// The elements of `object[key]` when it is an array, else none.
reply::Elements list(Value object, std::string_view key);

/// True when `object[key]` is a string; fills `value`.
bool has_text(Value object, std::string_view key, std::string_view& value);

/// Prints "<prefix><name>\n" with the name the result gives under `key`,
/// or "?" when it gives none: the shape of every one-line confirmation.
void print_named(std::string_view prefix, Value result, std::string_view key = "name");

}  // namespace fields
