#pragma once
// The files about welkmora-host that its table of commands (host/cli/table.h)
// makes: the generated regions of its bash, zsh and fish completions, and
// the synopsis lines and entry lines of its man page. catalogue_files hands
// them here by name.

#include <optional>
#include <string>

namespace host_files {

/// `text`, the file called `name` (welkmora-host.bash, .zsh, .fish or
/// .1.scd), as the table makes it; nothing, with `error` set, for a file
/// it cannot make.
std::optional<std::string> regenerate(const std::string& name, const std::string& text, std::string& error);

}  // namespace host_files
