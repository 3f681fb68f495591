#pragma once
// The shell that `welkmora-host remote` runs on the other machine, as text.
// Everything there is done by POSIX sh, so that the remote needs nothing but
// sshd; the remote user's login shell only starts `sh`.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host::cli {

/// `text` in single quotes, for sh (and for the login shell that reads
/// ssh's command line first).
std::string sh_quote(std::string_view text);

/// The script that `sh -s VERSION SHA256 ID ARCH` reads from its standard
/// input on the remote. It finds the per-version cache folder and the
/// runtime folder, checks the machine and the copied client, leaves `env`
/// (name and value pairs) in RUNTIME/ID.env, readable by the user alone,
/// writes the bootstrap and the shells' prompt marks into the cache folder,
/// and ends with lines "welkmora:KEY=VALUE": result (ok, nocache, arch,
/// noruntime), dir, run, machine and client (have, copy, own).
std::string probe_script(const std::vector<std::pair<std::string, std::string>>& env, std::string_view id);

/// The rc file the bootstrap starts bash with: it marks its prompts (OSC 133)
/// with the key it finds in WELKMORA_MARK_KEY, which it unsets.
std::string_view marking_bashrc();

}  // namespace host::cli
