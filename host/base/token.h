#pragma once
// Random tokens: the access tokens of canvas terminals, and the key that
// tells a terminal's own prompt marks from printed ones.

#include <string>
#include <string_view>

#include "status.h"

namespace host {

/// 128 bits from the kernel's random source, as 32 lower-case hex digits.
/// Fails only when the kernel cannot supply them.
wire::Fallible<std::string> new_token();

/// Compares two tokens in time that does not depend on where they differ.
bool same_token(std::string_view a, std::string_view b);

}  // namespace host
