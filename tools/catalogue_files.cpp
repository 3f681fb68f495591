// catalogue_files: writes what the shell completions and the man page say
// about the client's commands from the catalogue (common/catalogue.h), so
// that a new row reaches them without anyone writing it down again.
//
// Each completion file keeps its helpers by hand and has one generated
// region, between a "generated from the catalogue" line and an "end of the
// generated part" line. In the man page, each entry's synopsis line (the
// bold command words and the operands that follow) is generated, but for
// the client's own commands (help, onboard), and an agent's row without an
// entry is an error.
//
//   catalogue_files --check FILE...       exit 1 naming each file that differs
//   catalogue_files --write FILE...       bring the files up to date in place
//   catalogue_files --out DIR FILE...     write the up-to-date files into DIR
//
// A file is recognised by its name: welkmora.bash, welkmora.zsh,
// welkmora.fish or welkmora.1.scd; welkmora-host's files (the same names
// with welkmora-host) are made from its table of commands (host_files.cpp).

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"
#include "generated.h"
#include "host_files.h"

namespace {

using catalogue::From;
using catalogue::Kind;
using catalogue::Need;
using catalogue::Request;
using generated::capitalised;
using generated::single_quoted;

constexpr std::string_view kBegin = "generated from the catalogue (tools/catalogue_files.cpp); do not edit";

bool is_agents(const Request& row) { return row.from == From::kAgent; }

/// A command word with what it does.
struct Word {
  std::string_view word;
  std::string_view about;
};

/// The command words in the order of the help, each once.
std::vector<Word> command_words() {
  std::vector<Word> words;
  for (const Request& row : catalogue::kRequests) {
    if (!is_agents(row) || !row.form.empty()) continue;
    bool seen = false;
    for (const Word& w : words) seen = seen || w.word == row.command;
    if (seen) continue;
    const catalogue::Family* family = catalogue::find_family(row.command);
    words.push_back({row.command, family != nullptr ? family->about : row.about});
  }
  return words;
}

std::vector<std::string_view> subcommands(std::string_view family) {
  std::vector<std::string_view> subs;
  for (const Request& row : catalogue::kRequests) {
    if (is_agents(row) && row.command == family) subs.push_back(row.sub);
  }
  return subs;
}

/// The kinds of names the completions offer for a value of `kind`, as the
/// helpers' words: peers, notes, roles, presets, commands.
std::string_view names_of(Kind kind) {
  switch (kind) {
    case Kind::kPeer: return "peers";
    case Kind::kItem: return "peers notes";
    case Kind::kNote: return "notes";
    case Kind::kRole: return "roles";
    case Kind::kPreset: return "presets";
    case Kind::kProgram: return "commands";
    default: return "";
  }
}

/// "role assign", "ask --batch": the words a row's operands follow.
std::string row_words(const Request& row) {
  std::string words(row.command);
  if (!row.sub.empty()) words.append(" ").append(row.sub);
  if (!row.form.empty()) words.append(" ").append(row.form);
  return words;
}

std::size_t operand_count(const Request& row) {
  std::size_t n = 0;
  while (n < row.operands.size() && row.operands[n].used()) ++n;
  return n;
}

template <class Word>
std::string join(const std::vector<Word>& words, std::string_view separator = " ") {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) text.append(i == 0 ? "" : separator).append(words[i]);
  return text;
}

/// What is offered at one position: kinds of names and plain words.
struct Offer {
  std::string key;  // "note read:1": the row's words, then the operand's place from 1
  std::string names;
  std::vector<std::string_view> words;
};

/// The offers at each operand's place, rows of one command's shapes merged
/// (ask's first place offers peers and the word --batch).
std::vector<Offer> operand_offers() {
  std::vector<Offer> offers;
  auto at = [&](std::string key) -> Offer& {
    for (Offer& o : offers) {
      if (o.key == key) return o;
    }
    return offers.emplace_back(Offer{std::move(key), {}, {}});
  };
  for (const Request& row : catalogue::kRequests) {
    if (!is_agents(row)) continue;
    std::string base(row.command);
    if (!row.sub.empty()) base.append(" ").append(row.sub);
    std::size_t first = row.form.empty() ? 1 : 2;
    if (!row.form.empty()) at(base + ":1").words.push_back(row.form);
    for (std::size_t i = 0; i < operand_count(row); ++i) {
      const catalogue::Operand& operand = row.operands[i];
      Offer& offer = at(base + ":" + std::to_string(first + i));
      if (!row.form.empty()) continue;  // the form's operands are typed, not chosen
      std::string_view names = names_of(operand.kind);
      if (!names.empty()) offer.names.append(offer.names.empty() ? "" : " ").append(names);
      if (!operand.none.empty()) offer.words.push_back(operand.none);
    }
  }
  // A place that offers nothing is kept only where it must shadow the
  // flags that follow it.
  std::erase_if(offers, [](const Offer& o) {
    const Request* row = nullptr;
    for (const Request& r : catalogue::kRequests) {
      std::string base(r.command);
      if (!r.sub.empty()) base.append(" ").append(r.sub);
      if (is_agents(r) && o.key.starts_with(base + ":")) row = &r;
    }
    return o.names.empty() && o.words.empty() && (row == nullptr || !row->flags[0].used());
  });
  return offers;
}

/// The rows with flags: their words, where the flags begin, the flags.
std::vector<const Request*> flag_rows() {
  std::vector<const Request*> rows;
  for (const Request& row : catalogue::kRequests) {
    if (is_agents(row) && row.flags[0].used()) rows.push_back(&row);
  }
  return rows;
}

std::vector<std::string_view> families() {
  std::vector<std::string_view> words;
  for (const catalogue::Family& f : catalogue::kFamilies) words.push_back(f.command);
  return words;
}

// ---- bash ----

std::string bash_region() {
  std::ostringstream s;
  s << "# Offers what word $cword wants, with $at the operand's place after the\n"
       "# command's words.\n"
       "_welkmora_complete() {\n"
       "  if ((cword == 1)); then\n"
       "    _welkmora_words";
  for (const Word& w : command_words()) s << ' ' << w.word;
  s << "\n    return\n  fi\n  local row=${words[1]} at=$((cword - 1))\n  case $row in\n    " << join(families(), " | ")
    << ")\n      if ((cword == 2)); then\n        case $row in\n";
  for (const catalogue::Family& f : catalogue::kFamilies) {
    s << "          " << f.command << ") _welkmora_words " << join(subcommands(f.command)) << " ;;\n";
  }
  s << "        esac\n        return\n      fi\n      row+=\" ${words[2]}\" at=$((cword - 2))\n      ;;\n  esac\n"
       "  case $row:$at in\n";
  for (const Offer& o : operand_offers()) {
    std::vector<std::string> steps;
    if (!o.names.empty()) steps.push_back("_welkmora_offer " + o.names);
    if (!o.words.empty()) steps.push_back("_welkmora_words " + join(o.words));
    s << "    " << single_quoted(o.key) << ")" << (steps.empty() ? "" : " ") << join(steps, "; ") << " ;;\n";
  }
  for (const Request* row : flag_rows()) {
    s << "    "
      << single_quoted(std::string(row->command) + (row->sub.empty() ? "" : " ") + std::string(row->sub) + ":")
      << "*) _welkmora_flags $((at - " << operand_count(*row) + 1 << "))";
    for (const catalogue::Flag& flag : row->flags) {
      if (flag.used()) s << ' ' << flag.word << ' ' << (names_of(flag.kind).empty() ? "-" : names_of(flag.kind));
    }
    s << " ;;\n";
  }
  s << "  esac\n}\n";
  return s.str();
}

// ---- zsh ----

std::string zsh_region() {
  std::ostringstream s;
  s << "# Offers what word $CURRENT wants, with $at the operand's place after the\n"
       "# command's words.\n"
       "_welkmora_complete() {\n"
       "  local -a commands\n"
       "  commands=(\n";
  for (const Word& w : command_words())
    s << "    " << single_quoted(std::string(w.word) + ":" + std::string(w.about)) << '\n';
  s << "  )\n  if (( CURRENT == 2 )); then\n    _describe -t commands 'welkmora command' commands\n    return\n  fi\n"
       "  local row=$words[2] at=$(( CURRENT - 2 )) ret=1\n  case $row in\n    ("
    << join(families(), "|") << ")\n      if (( CURRENT == 3 )); then\n        case $row in\n";
  for (const catalogue::Family& f : catalogue::kFamilies) {
    s << "          (" << f.command << ") compadd -- " << join(subcommands(f.command)) << " ;;\n";
  }
  s << "        esac\n        return\n      fi\n      row+=\" $words[3]\" at=$(( CURRENT - 3 ))\n      ;;\n  esac\n"
       "  case $row:$at in\n";
  for (const Offer& o : operand_offers()) {
    std::vector<std::string> steps;
    if (!o.names.empty()) steps.push_back("_welkmora_offer " + o.names + " && ret=0");
    if (!o.words.empty()) steps.push_back("compadd -- " + join(o.words) + " && ret=0");
    s << "    (" << single_quoted(o.key) << ")" << (steps.empty() ? "" : " ") << join(steps, "; ") << " ;;\n";
  }
  for (const Request* row : flag_rows()) {
    s << "    ("
      << single_quoted(std::string(row->command) + (row->sub.empty() ? "" : " ") + std::string(row->sub) + ":")
      << "*) _welkmora_flags $(( at - " << operand_count(*row) + 1 << " ))";
    for (const catalogue::Flag& flag : row->flags) {
      if (flag.used()) s << ' ' << flag.word << ' ' << (names_of(flag.kind).empty() ? "-" : names_of(flag.kind));
    }
    s << " && ret=0 ;;\n";
  }
  s << "  esac\n  return ret\n}\n";
  return s.str();
}

// ---- fish ----

/// A fish condition: the words typed so far are `words` and `skip` more.
std::string fish_at(std::size_t skip, std::string_view words) {
  return "__welkmora_at " + std::to_string(skip) + (words.empty() ? "" : " ") + std::string(words);
}

std::string fish_region() {
  std::ostringstream s;
  for (const Word& w : command_words()) {
    s << "complete -c welkmora -n " << single_quoted(fish_at(0, "")) << " -a " << w.word << " -d "
      << single_quoted(capitalised(w.about)) << '\n';
  }
  for (const catalogue::Family& f : catalogue::kFamilies) {
    s << "complete -c welkmora -n " << single_quoted(fish_at(0, f.command)) << " -a "
      << single_quoted(join(subcommands(f.command))) << '\n';
  }
  for (const Request& row : catalogue::kRequests) {
    if (!is_agents(row)) continue;
    std::string base(row.command);
    if (!row.sub.empty()) base.append(" ").append(row.sub);
    if (!row.form.empty()) {
      s << "complete -c welkmora -n " << single_quoted(fish_at(0, base)) << " -a " << row.form << " -d "
        << single_quoted(capitalised(row.about)) << '\n';
      continue;
    }
    for (std::size_t i = 0; i < operand_count(row); ++i) {
      const catalogue::Operand& operand = row.operands[i];
      std::string condition = single_quoted(fish_at(i, base));
      std::string_view names = names_of(operand.kind);
      std::istringstream kinds{std::string(names)};
      for (std::string kind; kinds >> kind;) {
        s << "complete -c welkmora -n " << condition << " -a '(__welkmora_names " << kind << ")'\n";
      }
      if (!operand.none.empty()) s << "complete -c welkmora -n " << condition << " -a " << operand.none << '\n';
    }
    if (!row.flags[0].used()) continue;
    std::string after = std::to_string(operand_count(row)) + " " + base;
    for (const catalogue::Flag& flag : row.flags) {
      if (!flag.used()) continue;
      s << "complete -c welkmora -n " << single_quoted("__welkmora_flag_at " + after) << " -a " << flag.word << " -d "
        << single_quoted(flag.about) << '\n';
      std::istringstream kinds{std::string(names_of(flag.kind))};
      for (std::string kind; kinds >> kind;) {
        s << "complete -c welkmora -n " << single_quoted("__welkmora_value_at " + std::string(flag.word) + " " + after)
          << " -a '(__welkmora_names " << kind << ")'\n";
      }
    }
  }
  return s.str();
}

// ---- the man page ----

std::vector<std::string> synopsis(const Request& row) {
  std::string line = "*" + row_words(row) + "*";
  std::string closing;
  std::size_t n = operand_count(row);
  std::string none_line;
  for (std::size_t i = 0; i < n; ++i) {
    const catalogue::Operand& operand = row.operands[i];
    std::string meta = "_" + std::string(operand.meta) + "_";
    if (operand.need == Need::kRequired) {
      line += " " + meta;
    } else {
      line += " [" + meta;
      closing += "]";
    }
    if (!operand.none.empty())
      none_line = line.substr(0, line.size() - meta.size()) + "*" + std::string(operand.none) + "*";
  }
  line += closing;
  for (const catalogue::Flag& flag : row.flags) {
    if (flag.used()) line += " [*" + std::string(flag.word) + "* _" + std::string(flag.meta) + "_]";
  }
  if (none_line.empty()) return {line};
  return {line + "++", none_line};
}

/// The bold words an entry's line begins with: "role assign" for
/// "*role assign* _RECRUIT_".
std::optional<std::string> bold_words(const std::string& line) {
  if (line.size() < 3 || line[0] != '*') return std::nullopt;
  std::size_t end = line.find('*', 1);
  if (end == std::string::npos) return std::nullopt;
  return line.substr(1, end - 1);
}

const Request* entry_row(const std::string& words) {
  for (const Request& row : catalogue::kRequests) {
    if (is_agents(row) && row_words(row) == words) return &row;
  }
  return nullptr;
}

std::optional<std::string> man_page(const std::string& text, std::string& error) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::string out;
  std::vector<const Request*> seen;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::optional<std::string> words = bold_words(lines[i]);
    const Request* row = words ? entry_row(*words) : nullptr;
    if (row == nullptr) {
      out += lines[i] + "\n";
      continue;
    }
    seen.push_back(row);
    if (row->local) {  // the client's own: its entry names every word that asks for it
      out += lines[i] + "\n";
      continue;
    }
    for (const std::string& line : synopsis(*row)) out += line + "\n";
    while (i + 1 < lines.size() && bold_words(lines[i + 1]) == words) ++i;  // the old lines of this entry
  }
  for (const Request& row : catalogue::kRequests) {
    if (!is_agents(row)) continue;
    bool found = false;
    for (const Request* s : seen) found = found || s == &row;
    if (!found) {
      error = "no entry for \"" + row_words(row) + "\"";
      return std::nullopt;
    }
  }
  return out;
}

// ---- files ----

std::optional<std::string> regenerate(const std::filesystem::path& path, const std::string& text, std::string& error) {
  std::string name = path.filename().string();
  if (name.starts_with("welkmora-host.")) return host_files::regenerate(name, text, error);
  if (name == "welkmora.bash") return generated::replace_region(text, kBegin, bash_region(), error);
  if (name == "welkmora.zsh") return generated::replace_region(text, kBegin, zsh_region(), error);
  if (name == "welkmora.fish") return generated::replace_region(text, kBegin, fish_region(), error);
  if (name == "welkmora.1.scd") return man_page(text, error);
  error = "not a file made from the catalogue";
  return std::nullopt;
}

std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

int usage() {
  std::cerr << "usage: catalogue_files (--check | --write | --out DIR) FILE...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return usage();
  std::string mode = args[0];
  std::size_t first = 1;
  std::filesystem::path out_dir;
  if (mode == "--out") {
    out_dir = args[1];
    first = 2;
  } else if (mode != "--check" && mode != "--write") {
    return usage();
  }
  int status = 0;
  for (std::size_t i = first; i < args.size(); ++i) {
    std::filesystem::path path = args[i];
    std::optional<std::string> text = read_file(path);
    std::string error;
    std::optional<std::string> made = text ? regenerate(path, *text, error) : std::nullopt;
    if (!text) error = "cannot be read";
    if (!made) {
      std::cerr << "catalogue_files: " << path.string() << ": " << error << '\n';
      status = 1;
    } else if (mode == "--check" && *made != *text) {
      std::cerr << "catalogue_files: " << path.string()
                << " differs from what the catalogue makes; run catalogue_files --write on it\n";
      status = 1;
    } else if (mode != "--check") {
      std::filesystem::path target = mode == "--out" ? out_dir / path.filename() : path;
      if (!write_file(target, *made)) {
        std::cerr << "catalogue_files: " << target.string() << ": cannot be written\n";
        status = 1;
      }
    }
  }
  return status;
}
