#pragma once
// The functions that run welkmora-host's commands, one file each. What each
// command is (its name, usage and options) is in the table of commands
// (cli/table.h); main.cpp binds each row to its function here.

#include <optional>
#include <span>
#include <string_view>

#include "cli/fault.h"
#include "cli/options.h"

namespace host::cli {

/// Each runs its command with the words read against its row's options and
/// returns the exit status, or the Fault that stands in for it.
OrFault<int> run_serve(const Args& args);
OrFault<int> run_workspace(const Args& args);
OrFault<int> run_join(const Args& args);
OrFault<int> run_ls(const Args& args);
OrFault<int> run_attach(const Args& args);
OrFault<int> run_send_keys(const Args& args);
OrFault<int> run_remote(const Args& args);
OrFault<int> run_resume(const Args& args);
OrFault<int> run_forget(const Args& args);
OrFault<int> run_stop(const Args& args);

/// A usage fault unless `args` has between `least` and `most` operands;
/// `missing` is its text when there are too few ("join needs a NAME").
OrFault<void> require_operands(const Args& args, std::size_t least, std::size_t most, std::string_view missing);

}  // namespace host::cli
