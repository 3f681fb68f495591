#pragma once
// The command line of welkmora-host: each command declares its options in
// the table of commands (cli/table.h, tmux's way), and one parser reads any
// command's words against them.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/fault.h"
#include "cli/table.h"

namespace host::cli {

/// The words of one command, read against its options.
class Args {
 public:
  /// Reads `words`: options of `table` (with their values) anywhere, other
  /// words as operands in order; "--" ends the options. A usage fault for
  /// an option `table` does not name, or one that lacks its value (the end
  /// of the words, or a word that looks like an option, is no value).
  static OrFault<Args> read(std::span<const std::string> words, std::span<const OptionRow> table);

  bool has(std::string_view flag) const { return values_.contains(std::string(flag)); }
  std::optional<std::string> value(std::string_view flag) const;
  const std::vector<std::string>& operands() const { return operands_; }

 private:
  Args() = default;

  std::map<std::string, std::string> values_;
  std::vector<std::string> operands_;
};

/// The options' lines of a usage text, aligned.
std::string option_lines(std::span<const OptionRow> table);

}  // namespace host::cli
