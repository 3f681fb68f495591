#pragma once

#include <string_view>

/// Names of the variables the app sets in each of its terminals.
inline constexpr const char* kSocketVar = "WELKMORA_SOCKET";
inline constexpr const char* kTerminalIdVar = "WELKMORA_TERMINAL_ID";
inline constexpr const char* kTokenVar = "WELKMORA_TOKEN";

/// The value of environment variable `name`; empty when it is unset, empty or
/// not valid UTF-8, which all count as unset.
std::string_view env_text(const char* name);
