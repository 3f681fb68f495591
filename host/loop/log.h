#pragma once
// The host's one way to report: every line it writes about itself goes
// through report(), as "welkmora-host: <text>" on standard error.

#include <string_view>

namespace host {

/// Writes "welkmora-host: <text>" and a line feed to standard error, in one
/// write so that lines of concurrent writers never interleave. A failed
/// write is ignored: there is nowhere else to report it.
void report(std::string_view text);

}  // namespace host
