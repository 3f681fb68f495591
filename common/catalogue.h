#pragma once
// The catalogue: every request the host serves, one row each, as data that
// both programs read. A row names the request's words (`command`, and `sub`
// for the families role, preset and note), its operands and flags and the
// request members they fill, the client's usage and help lines (byte for
// byte what the client prints), and the policy the dispatcher applies: who
// may send it, whether it needs a caller's credentials, and what it does to
// the workspace.
//
// From these rows the client parses its command line and prints its help,
// the host routes requests (and the canvas page's actions), and the build
// writes the shell completions and the man page's synopsis lines
// (tools/catalogue_files.cpp). A new request is one row here and one handler on
// each side that serves it.
//
// The rows are constexpr, so the tables that bind handlers to them are
// checked while compiling, and reading them costs the client nothing at
// start.

#include <array>
#include <string_view>

namespace catalogue {

/// What a value names: the completions offer the live names of its kind,
/// and the client reads numbers and JSON objects as such.
enum class Kind : unsigned char {
  kText,     // anything
  kPeer,     // a terminal roped to the caller
  kItem,     // a peer or a note
  kNote,     // a note
  kRole,     // a role
  kPreset,   // a launch preset
  kProgram,  // a command line
  kCount,    // an unsigned decimal integer
  kObject,   // a JSON object
};

/// When an operand may be left out.
enum class Need : unsigned char {
  kRequired,
  kOptional,
  /// Optional; when left out, piped standard input stands in.
  kOrStdin,
  /// When left out, piped standard input stands in, and without it the
  /// usage is the answer.
  kRequiredOrStdin,
};

struct Operand {
  /// Its name in the man page's synopsis: NAME, PROMPT.
  std::string_view meta;
  /// The request member it fills.
  std::string_view member;
  Kind kind = Kind::kText;
  Need need = Need::kRequired;
  /// A word that stands for "none": the request gets `none: true` instead.
  std::string_view none = {};
  /// For a JSON object: the shape its refusal shows.
  std::string_view example = {};

  constexpr bool used() const { return !member.empty(); }
};

/// A flag that takes the next word as its value, whatever that word is.
struct Flag {
  std::string_view word;
  std::string_view member;
  std::string_view meta;
  Kind kind = Kind::kText;
  /// One line for the completions.
  std::string_view about = {};

  constexpr bool used() const { return !word.empty(); }
};

/// Who sends a request: an agent (through the client), the person at the
/// host (through welkmora-host's commands), or the person on the canvas
/// page (its messages name the row in `op`).
enum class From : unsigned char { kAgent, kPerson, kPage };

/// What serving a request does to the workspace.
enum class Effect : unsigned char {
  kReads,    // nothing
  kTypes,    // types into a terminal
  kChanges,  // changes the canvas, nothing the state file keeps
  kKeeps,    // changes what the state file keeps: saved, or undone
};

struct Request {
  std::string_view command;
  /// The family's subcommand; empty for a command of its own.
  std::string_view sub = {};
  /// A first operand word that selects this shape of the command
  /// ("--batch"); the host sees one command either way.
  std::string_view form = {};
  From from = From::kAgent;
  /// Whether it must carry a terminal's id and token.
  bool needs_caller = true;
  Effect effect = Effect::kReads;
  std::array<Operand, 3> operands = {};
  /// Flags, after the operands, in pairs of flag and value.
  std::array<Flag, 3> flags = {};
  /// The client's usage error, whole.
  std::string_view usage = {};
  /// The client's help lines, each ending in a line feed.
  std::string_view help = {};
  /// One line for the completions.
  std::string_view about = {};
};

/// role, preset and note: commands whose second word is a subcommand.
struct Family {
  std::string_view command;
  /// The usage error for a missing or unknown subcommand.
  std::string_view usage;
  /// The subcommand when none is given; empty when one is needed.
  std::string_view fallback;
  std::string_view about;
};

inline constexpr std::string_view kRoleUsage =
    "usage: welkmora role list | create \"Name\" \"Prompt\" | show \"Name\" | edit \"Name\" \"old\" \"new\" | "
    "write \"Name\" \"prompt\" | delete \"Name\" | assign \"Recruit\" (\"Role\" | --none)";

inline constexpr Family kFamilies[] = {
    {"role", kRoleUsage, {}, "list, create, show, change, delete or assign roles"},
    {"preset", "usage: welkmora preset list", "list", "list the launch presets"},
    {"note",
     "usage: welkmora note list | create | read | write | edit | delete (see 'welkmora help')",
     {},
     "list, create, read, write, edit or delete notes"},
};

// The agents' rows come in the order of the client's help.
inline constexpr Request kRequests[] = {
    {.command = "list",
     .help = "  welkmora list                 Mit dir verbundene Agenten auflisten\n",
     .about = "list the peers and notes roped to this terminal"},
    {.command = "check",
     .operands = {{{"NAME", "target", Kind::kPeer}}},
     .usage = "usage: welkmora check \"Name\"",
     .help = "  welkmora check \"Name\"          Letzte Ausgabe eines verbundenen Agenten ansehen\n",
     .about = "show the recent screen of a peer"},
    {.command = "ask",
     .effect = Effect::kTypes,
     .operands = {{{"NAME", "target", Kind::kPeer}, {"PROMPT", "prompt"}}},
     .usage = "usage: welkmora ask \"Name\" \"prompt\"  |  welkmora ask --batch '{…}'",
     .help = "  welkmora ask   \"Name\" \"prompt\"  Prompt an einen verbundenen Agenten senden, auf Antwort warten\n",
     .about = "send a prompt to a peer and wait for the answer"},
    {.command = "ask",
     .form = "--batch",
     .effect = Effect::kTypes,
     .operands = {{{"JSON", "batch", Kind::kObject, Need::kRequired, {}, "{\"Name\":\"prompt\"}"}}},
     .usage = "usage: welkmora ask --batch '{\"Name\":\"prompt\", …}'",
     .help = "  welkmora ask --batch '{\"A\":\"…\",\"B\":\"…\"}'  Mehrere verbundene Agenten parallel fragen\n",
     .about = "ask several peers, JSON {\"Name\":\"prompt\"}"},
    {.command = "connect",
     .effect = Effect::kKeeps,
     .operands = {{{"FROM", "from", Kind::kItem}, {"TO", "to", Kind::kItem}}},
     .usage = "usage: welkmora connect \"From\" \"To\"",
     .help = "  welkmora connect \"From\" \"To\"   Ungerichtetes Seil ziehen (Terminals und/oder Notizen)\n",
     .about = "draw a rope between two terminals or notes"},
    {.command = "dismiss",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kPeer}}},
     .usage = "usage: welkmora dismiss \"Name\"",
     .help = "  welkmora dismiss \"Name\"        Ein Terminal entlassen (killen + Seile trennen)\n",
     .about = "end a terminal and cut its ropes"},
    {.command = "role",
     .sub = "list",
     .help = "  welkmora role list            Verfügbare Rollen auflisten\n",
     .about = "list the roles"},
    {.command = "role",
     .sub = "create",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name"}, {"PROMPT", "prompt"}}},
     .usage = "usage: welkmora role create \"Name\" \"Prompt\"",
     .help = "  welkmora role create \"Name\" \"Prompt\"  Wiederverwendbare Rolle anlegen\n",
     .about = "create a role"},
    {.command = "role",
     .sub = "show",
     .operands = {{{"NAME", "name", Kind::kRole}}},
     .usage = "usage: welkmora role show \"Name\"",
     .help = "  welkmora role show \"Name\"      Vollen Rollen-Prompt anzeigen\n",
     .about = "print a role's prompt"},
    {.command = "role",
     .sub = "edit",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kRole}, {"OLD", "old"}, {"NEW", "new"}}},
     .usage = "usage: welkmora role edit \"Name\" \"old\" \"new\"",
     .help = "  welkmora role edit \"Name\" \"old\" \"new\"  Teilstring im Rollen-Prompt ersetzen\n",
     .about = "replace text in a role's prompt"},
    {.command = "role",
     .sub = "write",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kRole}, {"PROMPT", "prompt"}}},
     .usage = "usage: welkmora role write \"Name\" \"new prompt\"",
     .help = "  welkmora role write \"Name\" \"prompt\"  Rollen-Prompt komplett ersetzen\n",
     .about = "replace a role's prompt"},
    {.command = "role",
     .sub = "delete",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kRole}}},
     .usage = "usage: welkmora role delete \"Name\"",
     .help = "  welkmora role delete \"Name\"    Rolle löschen\n",
     .about = "delete a role"},
    {.command = "role",
     .sub = "assign",
     .effect = Effect::kChanges,
     .operands = {{{"RECRUIT", "recruit", Kind::kPeer}, {"ROLE", "role", Kind::kRole, Need::kRequired, "--none"}}},
     .usage = "usage: welkmora role assign \"Recruit\" \"Role\"  |  welkmora role assign \"Recruit\" --none",
     .help = "  welkmora role assign \"Recruit\" (\"Role\" | --none)  Bestehenden Recruit in-place umrollen\n",
     .about = "give a recruit another role, or none"},
    {.command = "preset",
     .sub = "list",
     .usage = "usage: welkmora preset list",
     .help = "  welkmora preset list          Verfügbare Agent-Presets auflisten\n",
     .about = "list the launch presets"},
    {.command = "recruit",
     .effect = Effect::kChanges,
     .operands = {{{"CODENAME", "name"}}},
     .flags = {{{"--role", "role", "ROLE", Kind::kRole, "Role of the recruit"},
                {"--preset", "preset", "PRESET", Kind::kPreset, "Launch preset to start"},
                {"--command", "cmd", "CMD", Kind::kProgram, "Command line to run"}}},
     .usage = "usage: welkmora recruit \"Codename\" [--role \"Role\"] [--command \"cmd\"]",
     .help = "  welkmora recruit \"Codename\" [--role \"Role\"] [--preset \"Claude Code\"] [--command \"cmd\"]\n"
             "                                Neues, verbundenes Terminal (Recruit) spawnen\n",
     .about = "start a new terminal roped to this one"},
    {.command = "note",
     .sub = "list",
     .help = "  welkmora note list            Geteilte Notizen auflisten\n",
     .about = "list the notes"},
    {.command = "note",
     .sub = "create",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kText, Need::kOptional},
                   {"CONTENT", "content", Kind::kText, Need::kOrStdin}}},
     .help = "  welkmora note create [\"Name\"] [\"Inhalt\"]  Neue Notiz anlegen (Inhalt sonst aus stdin)\n",
     .about = "create a note"},
    {.command = "note",
     .sub = "read",
     .operands = {{{"NAME", "name", Kind::kNote}}},
     .flags = {{{"--offset", "offset", "N", Kind::kCount, "Start at this line"},
                {"--limit", "limit", "M", Kind::kCount, "Read at most this many lines"}}},
     .usage = "usage: welkmora note read \"Name\" [--offset N] [--limit M]",
     .help = "  welkmora note read \"Name\" [--offset N] [--limit M]  Notiz lesen\n",
     .about = "print a note"},
    {.command = "note",
     .sub = "write",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kNote}, {"CONTENT", "content", Kind::kText, Need::kRequiredOrStdin}}},
     .usage = "usage: welkmora note write \"Name\" \"content\"",
     .help = "  welkmora note write \"Name\" [\"Inhalt\"]  Inhalt komplett ersetzen (sonst aus stdin)\n",
     .about = "replace a note's content"},
    {.command = "note",
     .sub = "edit",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kNote}, {"OLD", "old"}, {"NEW", "new"}}},
     .usage = "usage: welkmora note edit \"Name\" \"old\" \"new\"",
     .help = "  welkmora note edit \"Name\" \"old\" \"new\"  Erstes Vorkommen ersetzen\n",
     .about = "replace text in a note"},
    {.command = "note",
     .sub = "delete",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kNote}}},
     .usage = "usage: welkmora note delete \"Name\"",
     .help = "  welkmora note delete \"Name\"   Notiz löschen\n",
     .about = "delete a note"},
    {.command = "debug",
     .needs_caller = false,
     .help = "  welkmora debug                Verbindung zur App diagnostizieren\n",
     .about = "check the connection to the app"},

    // The person's requests, made by welkmora-host's own commands. The
    // socket is reachable only by its owner, so no token is asked for; what
    // runs in a recruit's terminal is refused.
    {.command = "join", .from = From::kPerson, .needs_caller = false, .effect = Effect::kChanges},
    {.command = "ls", .from = From::kPerson, .needs_caller = false},
    {.command = "send-keys", .from = From::kPerson, .needs_caller = false, .effect = Effect::kTypes},
    {.command = "attach", .from = From::kPerson, .needs_caller = false, .effect = Effect::kTypes},
    {.command = "resume", .from = From::kPerson, .needs_caller = false, .effect = Effect::kChanges},
    {.command = "forget", .from = From::kPerson, .needs_caller = false, .effect = Effect::kKeeps},
    {.command = "stop", .from = From::kPerson, .needs_caller = false, .effect = Effect::kChanges},

    // What the person does on the canvas page: its messages name the row
    // in `op`, with the members web/actions.h lists.
    {.command = "text", .from = From::kPage, .effect = Effect::kTypes},
    {.command = "key", .from = From::kPage, .effect = Effect::kTypes},
    {.command = "paste", .from = From::kPage, .effect = Effect::kTypes},
    {.command = "mouse", .from = From::kPage, .effect = Effect::kTypes},
    {.command = "history", .from = From::kPage},
    {.command = "search", .from = From::kPage},
    {.command = "place", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "connect", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "cut", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "recruit", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "dismiss", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "resume", .from = From::kPage, .effect = Effect::kChanges},
    {.command = "note-create", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "note-write", .from = From::kPage, .effect = Effect::kKeeps},
    {.command = "note-delete", .from = From::kPage, .effect = Effect::kKeeps},
};

constexpr const Family* find_family(std::string_view command) {
  for (const Family& family : kFamilies) {
    if (family.command == command) return &family;
  }
  return nullptr;
}

/// The row `from` may send with these words; null when there is none. An
/// empty `form` finds the command's plain shape.
constexpr const Request* find(From from, std::string_view command, std::string_view sub = {},
                              std::string_view form = {}) {
  for (const Request& row : kRequests) {
    if (row.from == from && row.command == command && row.sub == sub && row.form == form) return &row;
  }
  return nullptr;
}

/// Whether `from` may send a row with these words. (The checks the
/// compiler runs over the tables use this rather than find(): compilers
/// that instrument pointers for sanitizers do not take a pointer's
/// comparison with null as constant.)
constexpr bool has(From from, std::string_view command, std::string_view sub = {}, std::string_view form = {}) {
  for (const Request& row : kRequests) {
    if (row.from == from && row.command == command && row.sub == sub && row.form == form) return true;
  }
  return false;
}

}  // namespace catalogue
