#include "cli/options.h"

#include <algorithm>

namespace host::cli {
namespace {

/// A word the parser would read as an option rather than as an operand.
bool looks_like_option(const std::string& word) { return word.size() >= 2 && word[0] == '-'; }

}  // namespace

OrFault<Args> Args::read(std::span<const std::string> words, std::span<const OptionRow> table) {
  Args args;
  bool options_end = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_end || !looks_like_option(word)) {
      args.operands_.push_back(word);
      continue;
    }
    if (word == "--") {
      options_end = true;
      continue;
    }
    auto it = std::find_if(table.begin(), table.end(), [&](const OptionRow& o) { return o.flag == word; });
    if (it == table.end()) return usage_fault("unknown option: " + word);
    if (!it->takes_value()) {
      args.values_[word];
      continue;
    }
    // A value that looks like an option is one forgotten, not a value: taken
    // as one, `--web --socket x` would leave "x" as a stray operand.
    if (i + 1 >= words.size() || looks_like_option(words[i + 1])) {
      return usage_fault(word + " needs " + std::string(it->meta()));
    }
    args.values_[word] = words[++i];
  }
  return args;
}

std::optional<std::string> Args::value(std::string_view flag) const {
  auto it = values_.find(std::string(flag));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string option_lines(std::span<const OptionRow> table) {
  std::size_t width = 0;
  for (const OptionRow& o : table) width = std::max(width, o.flag.size() + (o.takes_value() ? o.meta().size() + 1 : 0));
  std::string out;
  for (const OptionRow& o : table) {
    std::string left = std::string(o.flag) + (o.takes_value() ? " " + std::string(o.meta()) : "");
    out += "  " + left + std::string(width - left.size() + 2, ' ') + std::string(o.help) + "\n";
  }
  return out;
}

}  // namespace host::cli
