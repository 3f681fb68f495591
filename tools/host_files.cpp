// host_files: writes what welkmora-host's shell completions and man page say
// about its commands from its table of commands (host/cli/table.h), so that
// they offer exactly the commands, options and operands the program reads.
//
// Each completion file keeps its helpers and its way of reading the command
// line by hand; its generated region holds the tables: the command words,
// each command's options (which take a file, which another value) and what
// each operand's place offers. In the man page, the SYNOPSIS is a generated
// region, and the first line of each command's entry (COMMANDS) and of each
// option's (OPTIONS) is generated; a command or option without an entry is
// an error.

#include "host_files.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>
#include <vector>

#include "cli/table.h"
#include "generated.h"

namespace host_files {
namespace {

using generated::capitalised;
using generated::single_quoted;
using host::cli::Command;
using host::cli::Offer;
using host::cli::OperandRow;
using host::cli::OptionRow;

constexpr std::string_view kBegin =
    "generated from welkmora-host's table of commands (tools/host_files.cpp); do not edit";
constexpr std::string_view kProgram = "welkmora-host";

/// Every row: the commands in the order of the usage, then help.
std::vector<const Command*> rows() {
  std::vector<const Command*> all(std::begin(host::cli::kCommands), std::end(host::cli::kCommands));
  all.push_back(&host::cli::kHelp);
  return all;
}

/// The command words, in the order of the usage.
std::vector<std::string_view> command_words() {
  std::vector<std::string_view> words;
  for (const Command* c : rows()) {
    if (!c->name.empty()) words.push_back(c->name);
  }
  return words;
}

/// The options a command's line may hold: its own, then --help (which
/// every command but help and the verbatim ones reads) and, with no
/// command, --version.
std::vector<OptionRow> options_of(const Command& c) {
  std::vector<OptionRow> options(c.options.begin(), c.options.end());
  if (!c.verbatim && &c != &host::cli::kHelp) options.push_back(host::cli::kHelpOption);
  if (c.name.empty()) options.push_back(host::cli::kVersionOption);
  return options;
}

bool offers_files(const OptionRow& o) { return o.takes_value() && o.value->offer == Offer::kFiles; }
bool offers_other(const OptionRow& o) { return o.takes_value() && o.value->offer != Offer::kFiles; }

template <class Word>
std::string join(const std::vector<Word>& words, std::string_view separator = " ") {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) text.append(i == 0 ? "" : separator).append(words[i]);
  return text;
}

std::vector<std::string_view> flags_where(const Command& c, bool (*keep)(const OptionRow&)) {
  std::vector<std::string_view> flags;
  for (const OptionRow& o : options_of(c)) {
    if (keep == nullptr || keep(o)) flags.push_back(o.flag);
  }
  return flags;
}

/// What one shell does to offer what an operand's place wants; empty for
/// nothing.
struct Steps {
  std::string terminals, held, keys, hosts, commands;
  std::string_view operator()(Offer offer) const {
    switch (offer) {
      case Offer::kTerminals: return terminals;
      case Offer::kHeldTerminals: return held;
      case Offer::kKeys: return keys;
      case Offer::kHosts: return hosts;
      case Offer::kCommands: return commands;
      default: return {};
    }
  }
};

std::vector<std::string_view> key_names() { return {std::begin(host::cli::kKeyNames), std::end(host::cli::kKeyNames)}; }

/// A case label's word for a command: '' for none.
std::string label(const Command& c) { return c.name.empty() ? "''" : std::string(c.name); }

/// The operand places of every command as `case` arms, "cmd:N" patterns
/// sharing one arm when their steps are the same; a repeated operand's
/// "cmd:*" comes after the places before it. A command without operands
/// offers its options at any place.
std::vector<std::pair<std::vector<std::string>, std::string>> operand_arms(const Steps& steps,
                                                                           std::string_view offer_flags) {
  std::vector<std::pair<std::vector<std::string>, std::string>> arms, last;
  auto add = [](auto& list, std::string pattern, std::string step) {
    for (auto& [patterns, s] : list) {
      if (s == step) return patterns.push_back(std::move(pattern));
    }
    list.push_back({{std::move(pattern)}, std::move(step)});
  };
  for (const Command* c : rows()) {
    if (c->operands.empty() && !c->verbatim) add(arms, label(*c) + ":*", std::string(offer_flags));
    for (std::size_t i = 0; i < c->operands.size(); ++i) {
      const OperandRow& o = c->operands[i];
      std::string step(steps(o.offer));
      if (step.empty()) continue;
      if (o.repeats) {
        add(last, label(*c) + ":*", step);
      } else {
        add(arms, label(*c) + ":" + std::to_string(i), step);
      }
    }
  }
  arms.insert(arms.end(), last.begin(), last.end());
  return arms;
}

// ---- bash ----

std::string bash_region() {
  std::ostringstream s;
  s << "_welkmora_host_commands=(" << join(command_words()) << ")\n\n"
    << "# Sets the options of command $1 ('' for none): flags, all of them; files,\n"
       "# those whose value is a file; values, those with another value.\n"
       "_welkmora_host_options() {\n  case $1 in\n";
  for (const Command* c : rows()) {
    s << "    " << label(*c) << ")\n      flags=(" << join(flags_where(*c, nullptr)) << ")\n      files=("
      << join(flags_where(*c, offers_files)) << ")\n      values=(" << join(flags_where(*c, offers_other))
      << ")\n      ;;\n";
  }
  s << "    *) flags=() files=() values=() ;;\n  esac\n}\n\n"
    << "# Offers what operand $2 (0 the first) of command $1 wants.\n"
       "_welkmora_host_operand() {\n  case $1:$2 in\n";
  Steps steps{"_welkmora_host_offer_terminals 'running|exited|held' \"${socket[@]}\"",
              "_welkmora_host_offer_terminals held \"${socket[@]}\"", "_welkmora_host_words " + join(key_names()),
              "_welkmora_host_hosts", "_welkmora_host_words \"${_welkmora_host_commands[@]}\""};
  for (const auto& [patterns, step] : operand_arms(steps, "_welkmora_host_words \"${flags[@]}\"")) {
    s << "    " << join(patterns, " | ") << ") " << step << " ;;\n";
  }
  s << "  esac\n}\n";
  return s.str();
}

// ---- zsh ----

std::string zsh_described(std::string_view word, std::string_view about) {
  return single_quoted(std::string(word) + ":" + std::string(about));
}

std::string zsh_region() {
  std::ostringstream s;
  s << "# Sets commands, the command words with what they do, and the options of\n"
       "# command $1 ('' for none): flags, all of them with what they do; files,\n"
       "# those whose value is a file; values, the others with a value, with what\n"
       "# they want.\n"
       "_welkmora_host_table() {\n  commands=(\n";
  for (const Command* c : rows()) {
    if (!c->name.empty()) s << "    " << zsh_described(c->name, c->summary) << '\n';
  }
  s << "  )\n  case $1 in\n";
  for (const Command* c : rows()) {
    s << "    (" << label(*c) << ")\n      flags=(" << (options_of(*c).empty() ? "" : "\n");
    for (const OptionRow& o : options_of(*c)) s << "        " << zsh_described(o.flag, o.help) << '\n';
    s << (options_of(*c).empty() ? "" : "      ") << ")\n      files=(" << join(flags_where(*c, offers_files))
      << ")\n      values=(";
    std::vector<std::string> values;
    for (const OptionRow& o : options_of(*c)) {
      if (offers_other(o)) values.push_back(std::string(o.flag) + " " + single_quoted(o.value->hint));
    }
    s << join(values) << ")\n      ;;\n";
  }
  s << "    (*) flags=() files=() values=() ;;\n  esac\n}\n\n"
    << "# Offers what operand $2 (0 the first) of command $1 wants.\n"
       "_welkmora_host_operand() {\n  case $1:$2 in\n";
  Steps steps{"_welkmora_host_offer_terminals terminal 'running|exited|held'",
              "_welkmora_host_offer_terminals 'held terminal' held",
              "_wanted keys expl key compadd -- " + join(key_names()), "_hosts",
              "_describe -t commands 'welkmora-host command' commands"};
  for (const auto& [patterns, step] : operand_arms(steps, "_describe -t options option flags")) {
    s << "    (" << join(patterns, "|") << ") " << step << " ;;\n";
  }
  s << "  esac\n}\n";
  return s.str();
}

// ---- fish ----

/// "__welkmora_host_at 0" for no command, else `test` N over the commands.
std::string fish_condition(const std::vector<const Command*>& commands, std::string_view test, std::size_t n) {
  std::vector<std::string> parts;
  std::vector<std::string_view> named;
  for (const Command* c : commands) {
    if (c->name.empty()) {
      parts.push_back("__welkmora_host_at 0");
    } else {
      named.push_back(c->name);
    }
  }
  if (!named.empty()) parts.push_back(std::string(test) + " " + std::to_string(n) + " " + join(named));
  return single_quoted(join(parts, "; or "));
}

std::string fish_option(const OptionRow& o) {
  std::string_view flag = o.flag;
  std::string out =
      flag.starts_with("--") ? " -l " + std::string(flag.substr(2)) : " -s " + std::string(flag.substr(1));
  if (offers_files(o)) out += " -r -F";
  if (offers_other(o)) out += " -x";
  return out + " -d " + single_quoted(capitalised(o.help));
}

std::string fish_region() {
  std::ostringstream s;
  std::vector<std::string_view> valued;
  for (const Command* c : rows()) {
    for (const OptionRow& o : options_of(*c)) {
      if (o.takes_value() && std::find(valued.begin(), valued.end(), o.flag) == valued.end()) valued.push_back(o.flag);
    }
  }
  s << "# True when $argv[1] is an option that takes a value.\nfunction __welkmora_host_valued\n    contains -- "
       "$argv[1] "
    << join(valued) << "\nend\n\n";
  for (const Command* c : rows()) {
    if (c->name.empty()) continue;
    s << "complete -c welkmora-host -n '__welkmora_host_at 0' -a " << c->name << " -d "
      << single_quoted(capitalised(c->summary)) << '\n';
  }
  // Each option once, for every command that has it.
  std::vector<std::pair<OptionRow, std::vector<const Command*>>> options;
  for (const Command* c : rows()) {
    for (const OptionRow& o : options_of(*c)) {
      auto same = [&](const auto& entry) {
        return entry.first.flag == o.flag && entry.first.value == o.value && entry.first.help == o.help;
      };
      auto it = std::find_if(options.begin(), options.end(), same);
      if (it == options.end()) it = options.insert(options.end(), {o, {}});
      it->second.push_back(c);
    }
  }
  for (const auto& [o, commands] : options) {
    s << "complete -c welkmora-host -n " << fish_condition(commands, "__welkmora_host_from", 0) << fish_option(o)
      << '\n';
  }
  Steps steps{"-a \"(__welkmora_host_terminals 'running|exited|held')\" -d Terminal",
              "-a '(__welkmora_host_terminals held)' -d 'Held terminal'",
              "-a " + single_quoted(join(key_names())) + " -d Key", "-a '(__fish_print_hostnames)' -d Host",
              "-a " + single_quoted(join(command_words())) + " -d Command"};
  // The operand places, those that offer the same at the same place on one line.
  std::vector<std::pair<std::pair<std::size_t, const OperandRow*>, std::vector<const Command*>>> places;
  for (const Command* c : rows()) {
    for (std::size_t i = 0; i < c->operands.size(); ++i) {
      const OperandRow& o = c->operands[i];
      if (steps(o.offer).empty()) continue;
      auto same = [&](const auto& entry) {
        return entry.first.first == i && entry.first.second->offer == o.offer &&
               entry.first.second->repeats == o.repeats;
      };
      auto it = std::find_if(places.begin(), places.end(), same);
      if (it == places.end()) it = places.insert(places.end(), {{i, &o}, {}});
      it->second.push_back(c);
    }
  }
  for (const auto& [place, commands] : places) {
    std::string_view test = place.second->repeats ? "__welkmora_host_from" : "__welkmora_host_at";
    s << "complete -c welkmora-host -n " << fish_condition(commands, test, place.first) << ' '
      << steps(place.second->offer) << '\n';
  }
  return s.str();
}

// ---- the man page ----

bool is_upper(char c) { return std::isupper(static_cast<unsigned char>(c)) != 0 || c == '-' || std::isdigit(c); }
bool is_lower(char c) { return std::islower(static_cast<unsigned char>(c)) != 0 || c == '-' || std::isdigit(c); }

/// A usage's words in scdoc: names in capitals underlined, command words,
/// options and ':' bold, brackets, bars and dots as they are.
std::string marked(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    std::size_t j = i + 1;
    if (std::isupper(static_cast<unsigned char>(c)) != 0) {
      while (j < text.size() && is_upper(text[j])) ++j;
      out += "_" + std::string(text.substr(i, j - i)) + "_";
    } else if (is_lower(c)) {
      while (j < text.size() && is_lower(text[j])) ++j;
      out += "*" + std::string(text.substr(i, j - i)) + "*";
    } else if (c == ':') {
      out += "*:*";
    } else {
      out += c;
    }
    i = j;
  }
  return out;
}

/// "*welkmora-host join* _NAME_ ...", or without the program's name
/// "*join* _NAME_ ...".
std::string usage_line(const Command& c, bool program) {
  std::string head = program ? std::string(kProgram) : "";
  if (!c.name.empty()) head += (head.empty() ? "" : " ") + std::string(c.name);
  std::string rest = c.name.empty() ? " " + std::string(c.synopsis) : std::string(c.synopsis.substr(c.name.size()));
  return "*" + head + "*" + marked(rest);
}

std::string synopsis_region() {
  std::string out;
  for (const Command* c : rows()) out += usage_line(*c, true) + "\n\n";
  return out + "*" + std::string(kProgram) + "* _COMMAND_ *" + std::string(host::cli::kHelpOption.flag) + "*\n";
}

/// The bold word a line begins with: "join" for "*join* _NAME_".
std::string_view bold_word(std::string_view line) {
  if (line.size() < 3 || line[0] != '*') return {};
  std::size_t end = line.find('*', 1);
  return end == std::string_view::npos ? std::string_view() : line.substr(1, end - 1);
}

/// The entry line for `word` in `section`, if it is an entry of the table.
std::optional<std::string> entry_line(std::string_view section, std::string_view word) {
  if (section == "COMMANDS") {
    for (const Command* c : host::cli::kCommands) {
      if (!c->name.empty() && c->name == word) return usage_line(*c, false);
    }
  }
  if (section == "OPTIONS") {
    for (const OptionRow& o : host::cli::kHostOptions) {
      if (o.flag == word) return marked(o.flag) + (o.takes_value() ? " " + marked(o.meta()) : "");
    }
  }
  return std::nullopt;
}

std::optional<std::string> man_page(const std::string& text, std::string& error) {
  std::optional<std::string> page = generated::replace_region(text, kBegin, synopsis_region(), error);
  if (!page) return std::nullopt;
  std::istringstream in(*page);
  std::string out, section;
  std::vector<std::string> seen;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("# ")) section = line.substr(2);
    std::optional<std::string> entry = entry_line(section, bold_word(line));
    if (entry) seen.push_back(std::string(section) + " " + std::string(bold_word(line)));
    out += (entry ? *entry : line) + "\n";
  }
  auto lacks = [&](std::string_view section_name, std::string_view word) {
    return std::find(seen.begin(), seen.end(), std::string(section_name) + " " + std::string(word)) == seen.end();
  };
  for (const Command* c : host::cli::kCommands) {
    if (!c->name.empty() && lacks("COMMANDS", c->name)) error = "no entry for \"" + std::string(c->name) + "\"";
  }
  for (const OptionRow& o : host::cli::kHostOptions) {
    if (lacks("OPTIONS", o.flag)) error = "no entry for \"" + std::string(o.flag) + "\"";
  }
  if (!error.empty()) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> regenerate(const std::string& name, const std::string& text, std::string& error) {
  if (name == "welkmora-host.bash") return generated::replace_region(text, kBegin, bash_region(), error);
  if (name == "welkmora-host.zsh") return generated::replace_region(text, kBegin, zsh_region(), error);
  if (name == "welkmora-host.fish") return generated::replace_region(text, kBegin, fish_region(), error);
  if (name == "welkmora-host.1.scd") return man_page(text, error);
  error = "not a file made from welkmora-host's table of commands";
  return std::nullopt;
}

}  // namespace host_files
