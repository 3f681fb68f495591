// welkmora-host: a stand-in of the Welkmora app. It serves the client's
// socket protocol with a real canvas and real programs in pseudo-terminals,
// and gives the person at the keyboard a seat: see, type into and interrupt
// any terminal, and follow what happens in the activity log.
//
//   welkmora-host [OPTIONS]            the workspace, your shell in it as "Lead"
//   welkmora-host serve [OPTIONS]
//   welkmora-host join NAME            eval "$(welkmora-host join NAME)"
//   welkmora-host ls | attach NAME | send-keys NAME KEY...
//   welkmora-host remote DESTINATION   a recruit's program on another machine
//   welkmora-host resume NAME | forget NAME | stop
//
// This file binds the table of commands (cli/table.h) to the functions that
// run them, prints their usage and sets the exit statuses: 0 done, 1 failed
// or refused, 2 a mistake on the command line.

#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/fault.h"
#include "cli/table.h"
#include "loop/log.h"

namespace {

using namespace host::cli;

/// A row of the table of commands (cli/table.h) and the function that runs it.
struct Bound {
  const Command* row;
  OrFault<int> (*run)(const Args& args);
};

constexpr Bound kBound[] = {{&kServe, run_serve},   {&kWorkspace, run_workspace}, {&kJoin, run_join},
                            {&kLs, run_ls},         {&kAttach, run_attach},       {&kSendKeys, run_send_keys},
                            {&kRemote, run_remote}, {&kResume, run_resume},       {&kForget, run_forget},
                            {&kStop, run_stop}};

/// True when kBound binds each row of the table once, in its order. It
/// compares the rows' names: under the sanitizers g++ takes no address for
/// a constant, so it could not compare the pointers.
constexpr bool binds_every_row() {
  if (std::size(kBound) != std::size(kCommands)) return false;
  for (std::size_t i = 0; i < std::size(kBound); ++i) {
    if (kBound[i].row->name != kCommands[i]->name) return false;
  }
  return true;
}
static_assert(binds_every_row(), "kBound and the table of commands differ");

const Bound* bound_to(const Command* row) {
  for (const Bound& b : kBound) {
    if (b.row == row) return &b;
  }
  return nullptr;
}

const Bound* find_command(std::string_view name) {
  for (const Bound& b : kBound) {
    if (!b.row->name.empty() && b.row->name == name) return &b;
  }
  return nullptr;
}

std::string usage() {
  std::string out = "usage:";
  for (const Command* c : kCommands)
    out += (out == "usage:" ? " " : "       ") + std::string("welkmora-host ") + std::string(c->synopsis) + "\n";
  out += "       welkmora-host " + std::string(kHelp.synopsis) + "\n\n";
  for (const Command* c : kCommands) {
    std::string name = c->name.empty() ? "(none)" : std::string(c->name);
    out += "  " + name + std::string(11 - name.size(), ' ') + std::string(c->summary) + "\n";
  }
  return out + "\n`welkmora-host help COMMAND` tells more. TIME is a whole number with ms, s or m: 500ms, 2s, 10m.\n";
}

std::string command_usage(const Command& c) {
  std::string text = "usage: welkmora-host " + std::string(c.synopsis) + "\n\n" + std::string(c.description);
  return c.options.empty() ? text : text + "\noptions:\n" + option_lines(c.options);
}

int print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

OrFault<int> help(const std::vector<std::string>& words) {
  if (words.size() < 2) return print(usage());
  const Bound* c = find_command(words[1]);
  if (c == nullptr) return usage_fault("no such command: " + words[1]);
  return print(command_usage(*c->row));
}

bool wants_help(const std::vector<std::string>& words) {
  for (const std::string& w : words) {
    if (w == "--") return false;
    if (w == "--help" || w == "-h") return true;
  }
  return false;
}

/// Runs the command `words` name; `command` is set once it is known, for
/// the usage that follows a mistake on its command line.
OrFault<int> run(const std::vector<std::string>& words, const Command*& command) {
  if (!words.empty() && words[0] == "--version") return print("welkmora-host " WELKMORA_VERSION "\n");
  if (!words.empty() && words[0] == kHelp.name) return help(words);
  if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) return print(usage());
  bool workspace = words.empty() || words[0].starts_with("-");
  const Bound* bound = workspace ? bound_to(&kWorkspace) : find_command(words[0]);
  if (bound == nullptr) return usage_fault("unknown command: " + words[0]);
  command = bound->row;
  std::span<const std::string> rest(words.begin() + (workspace ? 0 : 1), words.end());
  if (wants_help(std::vector<std::string>(rest.begin(), rest.end()))) return print(command_usage(*command));
  std::vector<std::string> operands;
  if (command->verbatim) operands.push_back("--");
  operands.insert(operands.end(), rest.begin(), rest.end());
  OrFault<Args> args = Args::read(operands, command->verbatim ? std::span<const OptionRow>() : command->options);
  if (!args.ok()) return args.failure();
  return bound->run(*args);
}

/// Writes the fault's text and, for a mistake on the command line, the
/// usage of `command` (of every command when none is known yet), before
/// the text for a command that runs on a recruit's screen; returns the
/// exit status.
int report_fault(const Fault& fault, const Command* command) {
  bool last = fault.usage && command != nullptr && command->on_screen;
  if (!last) host::report(fault.text);
  if (!fault.usage) return 1;
  std::fputs((command != nullptr ? command_usage(*command) : usage()).c_str(), stderr);
  std::fflush(stderr);
  if (last) host::report(fault.text);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // A write past the file size limit (ulimit -f) fails with EFBIG and is
  // refused like any failed save, rather than ending the host and every
  // program in it.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  const Command* command = nullptr;
  try {
    OrFault<int> status = run(std::vector<std::string>(argv + 1, argv + argc), command);
    return status.ok() ? *status : report_fault(status.failure(), command);
  } catch (const std::exception& e) {
    // What still throws: a constructor that cannot build its object, the
    // layers below the commands, and memory running out.
    host::report(e.what());
    return 1;
  }
}
