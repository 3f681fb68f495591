#pragma once
// The reply the benchmark's stand-in app gives every request, and what
// `welkmora list` prints for it.

#include <string_view>

namespace bench {

/// One reply line, line feed included: two roped agents, no notes.
inline constexpr std::string_view kReplyLine =
    "{\"ok\":true,\"result\":{\"agents\":[{\"name\":\"A\"},{\"name\":\"B\"}],\"notes\":[]}}\n";

/// `welkmora list`'s rendering of kReplyLine.
inline constexpr std::string_view kListOutput = "Verbundene Agenten:\n  - A\n  - B\n";

}  // namespace bench
