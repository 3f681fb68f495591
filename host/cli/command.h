#pragma once
// One command of welkmora-host, declared as data: its name, usage, options
// and the function that runs it. Each command lives in a file of its own;
// main.cpp holds the table of them.

#include <optional>
#include <span>
#include <string_view>

#include "cli/fault.h"
#include "cli/options.h"

namespace host::cli {

struct Command {
  std::string_view name;
  /// What follows the program's name in the usage line.
  std::string_view synopsis;
  /// What it does, in one line for the usage.
  std::string_view summary;
  /// What it does, a few lines for `help COMMAND`.
  std::string_view description;
  std::span<const OptionSpec> options;
  /// Runs the command; returns the exit status, or the Fault that stands
  /// in for it.
  Result<int> (*run)(const Args& args);
  /// True when every word after the command's name is an operand: the
  /// command reads options that are another program's.
  bool verbatim = false;
  /// True for a command meant as a recruit's program (remote): a mistake on
  /// its command line is written after its usage, so that it is the last
  /// line on the recruit's screen, the one the activity log quotes.
  bool on_screen = false;
};

extern const Command kServe;
extern const Command kWorkspace;
extern const Command kJoin;
extern const Command kLs;
extern const Command kAttach;
extern const Command kSendKeys;
extern const Command kRemote;
extern const Command kResume;
extern const Command kForget;
extern const Command kStop;

/// A usage fault unless `args` has between `least` and `most` operands;
/// `missing` is its text when there are too few ("join needs a NAME").
std::optional<Fault> require_operands(const Args& args, std::size_t least, std::size_t most, std::string_view missing);

}  // namespace host::cli
