#pragma once
// The table of welkmora-host's commands, as data: each command's name,
// usage line, texts, options (and the kind of each option's value) and
// operands. The parser reads a command's words against its options, `help`
// prints from the rows, and tools/host_files.cpp writes the shell
// completions and the man page's synopsis lines from them, so that what
// the program accepts and what the completions offer cannot part.
// main.cpp binds each row to the function that runs it.
//
// Nothing here needs more than the standard library: the build tool reads
// this header alone.

#include <span>
#include <string_view>

namespace host::cli {

/// What the completions offer for an option's value or an operand.
enum class Offer : unsigned char {
  kNothing,        // a word of the user's own: a new name, a time, a process id
  kFiles,          // a file or a socket's path
  kTerminals,      // the terminals with a screen: running, exited or held
  kHeldTerminals,  // the held terminals
  kKeys,           // the key names of send-keys (kKeyNames)
  kHosts,          // the machines ssh knows
  kCommands,       // welkmora-host's command words
};

/// The kind of an option's value: its name in the usage, what the
/// completions offer for it, and for a value they cannot offer, what zsh
/// says it wants.
struct Value {
  std::string_view meta;
  Offer offer = Offer::kNothing;
  std::string_view hint = {};
};

inline constexpr Value kPathValue{"PATH", Offer::kFiles};
inline constexpr Value kFileValue{"FILE", Offer::kFiles};
inline constexpr Value kTimeValue{"TIME", Offer::kNothing, "time (500ms, 2s, 10m)"};
inline constexpr Value kPortValue{"[ADDR:]PORT", Offer::kNothing, "[address:]port"};
inline constexpr Value kPidValue{"PID", Offer::kNothing, "process id"};

struct OptionRow {
  std::string_view flag;
  /// The kind of its value; null for a flag without value.
  const Value* value;
  std::string_view help;

  constexpr bool takes_value() const { return value != nullptr; }
  /// The value's name in the usage ("PATH"); empty for a flag.
  constexpr std::string_view meta() const { return value != nullptr ? value->meta : std::string_view(); }
};

struct OperandRow {
  std::string_view meta;
  Offer offer = Offer::kNothing;
  /// True for the last operand when any number of them may follow (KEY...).
  bool repeats = false;
};

struct Command {
  /// Empty for the workspace, which runs when no command is given.
  std::string_view name;
  /// What follows the program's name in the usage line.
  std::string_view synopsis;
  /// What it does, in one line for the usage.
  std::string_view summary;
  /// What it does, a few lines for `help COMMAND`.
  std::string_view description;
  std::span<const OptionRow> options;
  std::span<const OperandRow> operands;
  /// True when every word after the command's name is an operand: the
  /// command reads options that are another program's.
  bool verbatim = false;
  /// True for a command meant as a recruit's program (remote): a mistake on
  /// its command line is written after its usage, so that it is the last
  /// line on the recruit's screen, the one the activity log quotes.
  bool on_screen = false;
};

// ---- options ----

/// The options of serve and of the workspace.
inline constexpr OptionRow kHostOptions[] = {
    {"--socket", &kPathValue, "the socket to listen on"},
    {"--state", &kFileValue, "where notes, roles and their ropes are kept"},
    {"--presets", &kFileValue, "launch presets, a JSON array of {\"name\", \"command\"}"},
    {"--settle", &kTimeValue, "fallback quiet time that ends a turn (default 2s)"},
    {"--max-wait", &kTimeValue, "longest wait for one turn (default 10m)"},
    {"--web", &kPortValue, "serve the canvas page (ADDR 127.0.0.1; PORT 0: any)"},
    {"--web-key-file", &kFileValue, "where the page's key is kept (default: beside the state file)"},
    {"--log", &kFileValue, "append the activity log to FILE"},
    {"--resume", nullptr, "start every terminal kept from before at once, rather than hold it"},
    {"--no-save-screens", nullptr, "keep no screens on disk (terminals come back without them)"},
};

/// The person's commands find the host by --socket.
inline constexpr OptionRow kSocketOption = {"--socket", &kPathValue, "the host's socket"};

inline constexpr OptionRow kJoinOptions[] = {
    kSocketOption, {"--pid", &kPidValue, "the process whose end takes the terminal off (default: this shell)"}};
inline constexpr OptionRow kLsOptions[] = {{"--json", nullptr, "print the listing as one JSON object"}, kSocketOption};
inline constexpr OptionRow kAttachOptions[] = {
    {"--read-only", nullptr, "watch only: keys and window size do not reach the terminal"}, kSocketOption};
inline constexpr OptionRow kSendKeysOptions[] = {{"-l", nullptr, "type every KEY as text, also words that name keys"},
                                                 kSocketOption};
inline constexpr OptionRow kResumeOptions[] = {{"--all", nullptr, "every held terminal"}, kSocketOption};
inline constexpr OptionRow kSocketOnly[] = {kSocketOption};

// ---- operands ----

inline constexpr OperandRow kNewName[] = {{"NAME", Offer::kNothing}};
inline constexpr OperandRow kTerminal[] = {{"NAME", Offer::kTerminals}};
inline constexpr OperandRow kHeldTerminal[] = {{"NAME", Offer::kHeldTerminals}};
inline constexpr OperandRow kTerminalAndKeys[] = {{"NAME", Offer::kTerminals}, {"KEY", Offer::kKeys, true}};
inline constexpr OperandRow kDestination[] = {{"DESTINATION", Offer::kHosts}};
inline constexpr OperandRow kCommandWord[] = {{"COMMAND", Offer::kCommands}};

/// The key names the completions of send-keys offer: the keys of
/// screen/keys.h by their first names, and the Ctrl keys most often sent.
inline constexpr std::string_view kKeyNames[] = {
    "Enter", "Escape", "Tab", "BTab",   "BSpace",   "Space", "Up",  "Down", "Left", "Right", "Home",
    "End",   "IC",     "DC",  "PageUp", "PageDown", "F1",    "F2",  "F3",   "F4",   "F5",    "F6",
    "F7",    "F8",     "F9",  "F10",    "F11",      "F12",   "C-c", "C-d",  "C-z"};

// ---- commands ----

inline constexpr Command kServe = {"serve",
                                   "serve [OPTIONS]",
                                   "run the host in the foreground",
                                   "Runs the host in the foreground until SIGINT, SIGTERM or SIGHUP, writing its\n"
                                   "activity log (one line per event) to standard error or to --log FILE.\n"
                                   "Terminals kept from before a restart come back held (--resume starts them).\n",
                                   kHostOptions,
                                   {}};

inline constexpr Command kWorkspace = {
    "",
    "[OPTIONS]",
    "attach to the workspace, or start one, with your shell as \"Lead\"",
    "Shows the workspace's Lead shell in this terminal: attaches to the host that\n"
    "serves the socket, or starts one detached from this terminal (logging to --log\n"
    "FILE, by default the state file's name with \".log\") with your shell in it as\n"
    "the terminal \"Lead\". Ctrl-\\ or closing this terminal detaches: the workspace\n"
    "goes on. Leaving the shell ends it. The options apply to a workspace it starts.\n",
    kHostOptions,
    {}};

inline constexpr Command kJoin = {"join",
                                  "join NAME [--socket PATH] [--pid PID]",
                                  "put this shell on the canvas",
                                  "Registers this shell as the canvas terminal NAME (a suffix when it is taken)\n"
                                  "and prints the variables that make it one; use it as\n"
                                  "  eval \"$(welkmora-host join NAME)\"\n"
                                  "The terminal leaves the canvas when this shell (or the --pid process) ends.\n",
                                  kJoinOptions,
                                  kNewName};

inline constexpr Command kLs = {"ls",
                                "ls [--json] [--socket PATH]",
                                "list every terminal and note",
                                "Lists every terminal (state, role, whether it is in a turn, ropes) and every\n"
                                "note (size in bytes, ropes) of the running host.\n",
                                kLsOptions,
                                {}};

inline constexpr Command kAttach = {"attach",
                                    "attach NAME [--read-only] [--socket PATH]",
                                    "show a terminal here and type into it",
                                    "Shows terminal NAME in this terminal and passes every key to it, until Ctrl-\\\n"
                                    "detaches or its program ends. Standard input must be a terminal.\n",
                                    kAttachOptions,
                                    kTerminal};

inline constexpr Command kSendKeys = {
    "send-keys",
    "send-keys NAME [-l] KEY... [--socket PATH]",
    "type keys into a terminal",
    "Types KEYs into terminal NAME, one after the other with nothing between them.\n"
    "Key names: Enter, Escape, Tab, BTab, BSpace, Space, Up, Down, Left, Right, Home,\n"
    "End, IC, DC, PageUp, PageDown, F1 to F12, and C-x, M-x, S-x for a key or\n"
    "character with Ctrl, Meta or Shift. Any other word is typed as it is.\n",
    kSendKeysOptions,
    kTerminalAndKeys};

inline constexpr Command kRemote = {
    "remote",
    "remote [SSH-OPTIONS...] DESTINATION [-- COMMAND...]",
    "run a recruit's program on another machine over ssh",
    "Meant as a recruit's command (welkmora recruit Far --command \"welkmora-host remote\n"
    "box -- bash\"). Runs COMMAND, or the remote user's login shell, in a pty on\n"
    "DESTINATION with the host's socket forwarded there and this welkmora client\n"
    "first on its PATH (copied into ~/.cache/welkmora/VERSION when it lacks it).\n"
    "Recruits on one destination share one ssh connection. SSH-OPTIONS are ssh's.\n"
    "Exits with COMMAND's status. The remote needs sshd and nothing else.\n",
    {},
    kDestination,
    true,
    true};

inline constexpr Command kResume = {"resume",
                                    "resume NAME | --all [--socket PATH]",
                                    "start held terminals again",
                                    "Starts terminal NAME (or every held terminal) again: a terminal kept from before\n"
                                    "a restart is held, showing its saved screen, until it is resumed. It runs its\n"
                                    "preset's resume command, else the command it ran, in the directory it ran in.\n",
                                    kResumeOptions,
                                    kHeldTerminal};

inline constexpr Command kForget = {"forget",
                                    "forget NAME [--socket PATH]",
                                    "drop a held terminal",
                                    "Takes held terminal NAME off the canvas, with its ropes and its saved screen,\n"
                                    "without running it again.\n",
                                    kSocketOnly,
                                    kHeldTerminal};

inline constexpr Command kStop = {"stop",
                                  "stop [--socket PATH]",
                                  "stop the running host",
                                  "Stops the host as SIGTERM does: its programs end, its state and terminals are\n"
                                  "saved. Waits until it has ended and says what it ended.\n",
                                  kSocketOnly,
                                  {}};

/// Every command, in the order of the usage.
inline constexpr const Command* kCommands[] = {&kServe,    &kWorkspace, &kJoin,   &kLs,     &kAttach,
                                               &kSendKeys, &kRemote,    &kResume, &kForget, &kStop};

/// `help`, which main() answers itself, and its usage line, which also
/// names --version. Its options (--help, -h) every command has.
inline constexpr Command kHelp = {"help", "help [COMMAND] | --version", "print the usage", {}, {}, kCommandWord};
inline constexpr OptionRow kHelpOption = {"--help", nullptr, "print the usage"};
inline constexpr OptionRow kVersionOption = {"--version", nullptr, "print the version"};

namespace table_check {

/// True when `c`'s usage line names each of its options and operands, or
/// says [OPTIONS].
constexpr bool synopsis_complete(const Command& c) {
  bool any = c.synopsis.find("[OPTIONS]") != std::string_view::npos;
  for (const OptionRow& o : c.options) {
    if (!any && c.synopsis.find(o.flag) == std::string_view::npos) return false;
  }
  for (const OperandRow& o : c.operands) {
    if (c.synopsis.find(o.meta) == std::string_view::npos) return false;
  }
  return c.synopsis.starts_with(c.name);
}

constexpr bool all_complete() {
  for (const Command* c : kCommands) {
    if (!synopsis_complete(*c)) return false;
  }
  return synopsis_complete(kHelp);
}

static_assert(all_complete(), "a usage line lacks one of its command's options or operands");

}  // namespace table_check

}  // namespace host::cli
