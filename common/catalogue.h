#pragma once
// The catalogue: every request the host serves, one row each, as data that
// both programs read. A row names the request's words (`command`, and `sub`
// for the families role, preset and note), its operands and flags and the
// request members they fill, the client's usage and help lines (byte for
// byte what the client prints), and the policy the dispatcher applies: who
// may send it, whether it needs a caller's credentials, and what it does to
// the workspace.
//
// From these rows the client parses its command line and prints its help
// and its families' usage lines, the host routes requests (and the canvas
// page's actions), and the build writes the shell completions and the man
// page's synopsis lines (tools/catalogue_files.cpp). A new request is one
// row here, its id, and one handler on each side that serves it.
//
// The rows are constexpr, so the tables that bind handlers to them,
// indexed by the rows' ids, are checked both ways while compiling (see
// binds()), and reading them costs the client nothing at start.

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>

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
  kId,       // an item on the canvas page: "t:" or "n:" and its name
  kFlag,     // true when given (a key's modifier held)
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

/// Each row's name, in the rows' order: the tables that bind handlers to
/// rows are indexed by it (see Bound).
enum class Id : unsigned char {
  // the agents'
  kOnboard,
  kList,
  kCheck,
  kAsk,
  kAskBatch,
  kConnect,
  kDismiss,
  kRoleList,
  kRoleCreate,
  kRoleShow,
  kRoleEdit,
  kRoleWrite,
  kRoleDelete,
  kRoleAssign,
  kPresetList,
  kRecruit,
  kNoteList,
  kNoteCreate,
  kNoteRead,
  kNoteWrite,
  kNoteEdit,
  kNoteDelete,
  kDebug,
  kHelp,
  // the person's
  kJoin,
  kLs,
  kSendKeys,
  kAttach,
  kResume,
  kForget,
  kStop,
  // the canvas page's
  kPageText,
  kPageKey,
  kPagePaste,
  kPageMouse,
  kPageHistory,
  kPageSearch,
  kPagePlace,
  kPageConnect,
  kPageCut,
  kPageRecruit,
  kPageDismiss,
  kPageResume,
  kPageNoteCreate,
  kPageNoteWrite,
  kPageNoteDelete,
  kPageAck,
  kPageSeen,
};

struct Request {
  Id id;
  std::string_view command;
  /// The family's subcommand; empty for a command of its own.
  std::string_view sub = {};
  /// A first operand word that selects this shape of the command
  /// ("--batch"); the host sees one command either way.
  std::string_view form = {};
  From from = From::kAgent;
  /// Whether it must carry a terminal's id and token.
  bool needs_caller = true;
  /// Answered where it arrives, never by the dispatcher: by the client
  /// itself (onboard, help) or by the page's feed (ack, seen).
  bool local = false;
  Effect effect = Effect::kReads;
  /// The operands in their order on the command line; a page row's
  /// members of its message.
  std::array<Operand, 8> operands = {};
  /// Flags, after the operands, in pairs of flag and value.
  std::array<Flag, 3> flags = {};
  /// The client's usage error, whole.
  std::string_view usage = {};
  /// The client's help lines, each ending in a line feed.
  std::string_view help = {};
  /// One line for the completions; for a page row, what it does.
  std::string_view about = {};
};

/// The item a page message acts on.
inline constexpr Operand kPageId = {"ID", "id", Kind::kId};
/// The modifiers a page's key or mouse message holds.
inline constexpr Operand kHeld[] = {{"CTRL", "ctrl", Kind::kFlag, Need::kOptional},
                                    {"ALT", "alt", Kind::kFlag, Need::kOptional},
                                    {"SHIFT", "shift", Kind::kFlag, Need::kOptional}};

// The agents' rows come in the order of the client's help, and the rows
// in the order of their ids.
inline constexpr Request kRequests[] = {
    {.id = Id::kOnboard,
     .command = "onboard",
     .needs_caller = false,
     .local = true,
     .help = "  welkmora onboard              Identität, verbundene Peers und Kernbefehle ausgeben\n",
     .about = "print who this terminal is, its peers and the core commands"},
    {.id = Id::kList,
     .command = "list",
     .help = "  welkmora list                 Mit dir verbundene Agenten auflisten\n",
     .about = "list the peers and notes roped to this terminal"},
    {.id = Id::kCheck,
     .command = "check",
     .operands = {{{"NAME", "target", Kind::kPeer}}},
     .usage = "usage: welkmora check \"Name\"",
     .help = "  welkmora check \"Name\"          Letzte Ausgabe eines verbundenen Agenten ansehen\n",
     .about = "show the recent screen of a peer"},
    {.id = Id::kAsk,
     .command = "ask",
     .effect = Effect::kTypes,
     .operands = {{{"NAME", "target", Kind::kPeer}, {"PROMPT", "prompt"}}},
     .usage = "usage: welkmora ask \"Name\" \"prompt\"  |  welkmora ask --batch '{…}'",
     .help = "  welkmora ask   \"Name\" \"prompt\"  Prompt an einen verbundenen Agenten senden, auf Antwort warten\n",
     .about = "send a prompt to a peer and wait for the answer"},
    {.id = Id::kAskBatch,
     .command = "ask",
     .form = "--batch",
     .effect = Effect::kTypes,
     .operands = {{{"JSON", "batch", Kind::kObject, Need::kRequired, {}, "{\"Name\":\"prompt\"}"}}},
     .usage = "usage: welkmora ask --batch '{\"Name\":\"prompt\", …}'",
     .help = "  welkmora ask --batch '{\"A\":\"…\",\"B\":\"…\"}'  Mehrere verbundene Agenten parallel fragen\n",
     .about = "ask several peers, JSON {\"Name\":\"prompt\"}"},
    {.id = Id::kConnect,
     .command = "connect",
     .effect = Effect::kKeeps,
     .operands = {{{"FROM", "from", Kind::kItem}, {"TO", "to", Kind::kItem}}},
     .usage = "usage: welkmora connect \"From\" \"To\"",
     .help = "  welkmora connect \"From\" \"To\"   Ungerichtetes Seil ziehen (Terminals und/oder Notizen)\n",
     .about = "draw a rope between two terminals or notes"},
    {.id = Id::kDismiss,
     .command = "dismiss",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kPeer}}},
     .usage = "usage: welkmora dismiss \"Name\"",
     .help = "  welkmora dismiss \"Name\"        Ein Terminal entlassen (killen + Seile trennen)\n",
     .about = "end a terminal and cut its ropes"},
    {.id = Id::kRoleList,
     .command = "role",
     .sub = "list",
     .help = "  welkmora role list            Verfügbare Rollen auflisten\n",
     .about = "list the roles"},
    {.id = Id::kRoleCreate,
     .command = "role",
     .sub = "create",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name"}, {"PROMPT", "prompt"}}},
     .usage = "usage: welkmora role create \"Name\" \"Prompt\"",
     .help = "  welkmora role create \"Name\" \"Prompt\"  Wiederverwendbare Rolle anlegen\n",
     .about = "create a role"},
    {.id = Id::kRoleShow,
     .command = "role",
     .sub = "show",
     .operands = {{{"NAME", "name", Kind::kRole}}},
     .usage = "usage: welkmora role show \"Name\"",
     .help = "  welkmora role show \"Name\"      Vollen Rollen-Prompt anzeigen\n",
     .about = "print a role's prompt"},
    {.id = Id::kRoleEdit,
     .command = "role",
     .sub = "edit",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kRole}, {"OLD", "old"}, {"NEW", "new"}}},
     .usage = "usage: welkmora role edit \"Name\" \"old\" \"new\"",
     .help = "  welkmora role edit \"Name\" \"old\" \"new\"  Teilstring im Rollen-Prompt ersetzen\n",
     .about = "replace text in a role's prompt"},
    {.id = Id::kRoleWrite,
     .command = "role",
     .sub = "write",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kRole}, {"PROMPT", "prompt"}}},
     .usage = "usage: welkmora role write \"Name\" \"new prompt\"",
     .help = "  welkmora role write \"Name\" \"prompt\"  Rollen-Prompt komplett ersetzen\n",
     .about = "replace a role's prompt"},
    {.id = Id::kRoleDelete,
     .command = "role",
     .sub = "delete",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kRole}}},
     .usage = "usage: welkmora role delete \"Name\"",
     .help = "  welkmora role delete \"Name\"    Rolle löschen\n",
     .about = "delete a role"},
    {.id = Id::kRoleAssign,
     .command = "role",
     .sub = "assign",
     .effect = Effect::kChanges,
     .operands = {{{"RECRUIT", "recruit", Kind::kPeer}, {"ROLE", "role", Kind::kRole, Need::kRequired, "--none"}}},
     .usage = "usage: welkmora role assign \"Recruit\" \"Role\"  |  welkmora role assign \"Recruit\" --none",
     .help = "  welkmora role assign \"Recruit\" (\"Role\" | --none)  Bestehenden Recruit in-place umrollen\n",
     .about = "give a recruit another role, or none"},
    {.id = Id::kPresetList,
     .command = "preset",
     .sub = "list",
     .usage = "usage: welkmora preset list",
     .help = "  welkmora preset list          Verfügbare Agent-Presets auflisten\n",
     .about = "list the launch presets"},
    {.id = Id::kRecruit,
     .command = "recruit",
     .effect = Effect::kChanges,
     .operands = {{{"CODENAME", "name"}}},
     .flags = {{{"--role", "role", "ROLE", Kind::kRole, "Role of the recruit"},
                {"--preset", "preset", "PRESET", Kind::kPreset, "Launch preset to start"},
                {"--command", "cmd", "CMD", Kind::kProgram, "Command line to run"}}},
     .usage = "usage: welkmora recruit \"Codename\" [--role \"Role\"] [--command \"cmd\"]",
     .help = "  welkmora recruit \"Codename\" [--role \"Role\"] [--preset \"Claude Code\"] [--command \"cmd\"]\n"
             "                                Neues, verbundenes Terminal (Recruit) spawnen\n",
     .about = "start a new terminal roped to this one"},
    {.id = Id::kNoteList,
     .command = "note",
     .sub = "list",
     .help = "  welkmora note list            Geteilte Notizen auflisten\n",
     .about = "list the notes"},
    {.id = Id::kNoteCreate,
     .command = "note",
     .sub = "create",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kText, Need::kOptional},
                   {"CONTENT", "content", Kind::kText, Need::kOrStdin}}},
     .help = "  welkmora note create [\"Name\"] [\"Inhalt\"]  Neue Notiz anlegen (Inhalt sonst aus stdin)\n",
     .about = "create a note"},
    {.id = Id::kNoteRead,
     .command = "note",
     .sub = "read",
     .operands = {{{"NAME", "name", Kind::kNote}}},
     .flags = {{{"--offset", "offset", "N", Kind::kCount, "Start at this line"},
                {"--limit", "limit", "M", Kind::kCount, "Read at most this many lines"}}},
     .usage = "usage: welkmora note read \"Name\" [--offset N] [--limit M]",
     .help = "  welkmora note read \"Name\" [--offset N] [--limit M]  Notiz lesen\n",
     .about = "print a note"},
    {.id = Id::kNoteWrite,
     .command = "note",
     .sub = "write",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kNote}, {"CONTENT", "content", Kind::kText, Need::kRequiredOrStdin}}},
     .usage = "usage: welkmora note write \"Name\" \"content\"",
     .help = "  welkmora note write \"Name\" [\"Inhalt\"]  Inhalt komplett ersetzen (sonst aus stdin)\n",
     .about = "replace a note's content"},
    {.id = Id::kNoteEdit,
     .command = "note",
     .sub = "edit",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kNote}, {"OLD", "old"}, {"NEW", "new"}}},
     .usage = "usage: welkmora note edit \"Name\" \"old\" \"new\"",
     .help = "  welkmora note edit \"Name\" \"old\" \"new\"  Erstes Vorkommen ersetzen\n",
     .about = "replace text in a note"},
    {.id = Id::kNoteDelete,
     .command = "note",
     .sub = "delete",
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kNote}}},
     .usage = "usage: welkmora note delete \"Name\"",
     .help = "  welkmora note delete \"Name\"   Notiz löschen\n",
     .about = "delete a note"},
    {.id = Id::kDebug,
     .command = "debug",
     .needs_caller = false,
     .help = "  welkmora debug                Verbindung zur App diagnostizieren\n",
     .about = "check the connection to the app"},
    {.id = Id::kHelp,
     .command = "help",
     .needs_caller = false,
     .local = true,
     .help = "  welkmora help                 Diese Hilfe\n",
     .about = "print the list of commands"},

    // The person's requests, made by welkmora-host's own commands. The
    // socket is reachable only by its owner, so no token is asked for; what
    // runs in a recruit's terminal is refused.
    {.id = Id::kJoin, .command = "join", .from = From::kPerson, .needs_caller = false, .effect = Effect::kChanges},
    {.id = Id::kLs, .command = "ls", .from = From::kPerson, .needs_caller = false},
    {.id = Id::kSendKeys,
     .command = "send-keys",
     .from = From::kPerson,
     .needs_caller = false,
     .effect = Effect::kTypes},
    {.id = Id::kAttach, .command = "attach", .from = From::kPerson, .needs_caller = false, .effect = Effect::kTypes},
    {.id = Id::kResume, .command = "resume", .from = From::kPerson, .needs_caller = false, .effect = Effect::kChanges},
    {.id = Id::kForget, .command = "forget", .from = From::kPerson, .needs_caller = false, .effect = Effect::kKeeps},
    {.id = Id::kStop, .command = "stop", .from = From::kPerson, .needs_caller = false, .effect = Effect::kChanges},

    // What the person does on the canvas page: its messages name the row
    // in `op`; their members are the operands. Terminals are named by
    // their item ids; `ack` and `seen` are the page's feed's own.
    {.id = Id::kPageText,
     .command = "text",
     .from = From::kPage,
     .effect = Effect::kTypes,
     .operands = {{kPageId, {"TEXT", "text"}}},
     .about = "type text into terminal id"},
    {.id = Id::kPageKey,
     .command = "key",
     .from = From::kPage,
     .effect = Effect::kTypes,
     .operands = {{kPageId, {"KEY", "key"}, kHeld[0], kHeld[1], kHeld[2]}},
     .about = "a key by its name in the browser (Enter, Escape, ArrowUp, F5, ...) or a character"},
    {.id = Id::kPagePaste,
     .command = "paste",
     .from = From::kPage,
     .effect = Effect::kTypes,
     .operands = {{kPageId, {"TEXT", "text"}}},
     .about = "paste text, bracketed when the program wants"},
    {.id = Id::kPageMouse,
     .command = "mouse",
     .from = From::kPage,
     .effect = Effect::kTypes,
     .operands = {{kPageId,
                   {"ROW", "row", Kind::kCount},
                   {"COL", "col", Kind::kCount},
                   {"BUTTON", "button", Kind::kCount},
                   {"PRESSED", "pressed", Kind::kFlag, Need::kOptional},
                   kHeld[0],
                   kHeld[1],
                   kHeld[2]}},
     .about = "the mouse over a terminal whose program reads it: 0 a move, 1 to 3, 4 and 5 the wheel"},
    {.id = Id::kPageHistory,
     .command = "history",
     .from = From::kPage,
     .operands = {{kPageId, {"FROM", "from", Kind::kCount}, {"COUNT", "count", Kind::kCount}}},
     .about = "kept scrollback rows of terminal id"},
    {.id = Id::kPageSearch,
     .command = "search",
     .from = From::kPage,
     .operands = {{{"TEXT", "text"}}},
     .about = "the rows of every terminal that hold text"},
    {.id = Id::kPagePlace,
     .command = "place",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{kPageId, {"BOX", "box", Kind::kObject, Need::kRequired, {}, "{\"x\":0,\"y\":0,\"w\":80,\"h\":24}"}}},
     .about = "move or resize an item; a terminal's w and h are columns and rows, its pty follows"},
    {.id = Id::kPageConnect,
     .command = "connect",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{{"A", "a", Kind::kId}, {"B", "b", Kind::kId}}},
     .about = "rope two items"},
    {.id = Id::kPageCut,
     .command = "cut",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{{"A", "a", Kind::kId}, {"B", "b", Kind::kId}}},
     .about = "unrope two items"},
    {.id = Id::kPageRecruit,
     .command = "recruit",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name"},
                   {"ROLE", "role", Kind::kRole, Need::kOptional},
                   {"PRESET", "preset", Kind::kPreset, Need::kOptional},
                   {"CMD", "cmd", Kind::kProgram, Need::kOptional}}},
     .about = "start a new terminal"},
    {.id = Id::kPageDismiss,
     .command = "dismiss",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{kPageId}},
     .about = "end a recruit, not a shell of the person's"},
    {.id = Id::kPageResume,
     .command = "resume",
     .from = From::kPage,
     .effect = Effect::kChanges,
     .operands = {{kPageId}},
     .about = "start a held terminal again"},
    {.id = Id::kPageNoteCreate,
     .command = "note-create",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{{"NAME", "name", Kind::kText, Need::kOptional}, {"TEXT", "text", Kind::kText, Need::kOptional}}},
     .about = "create a note"},
    {.id = Id::kPageNoteWrite,
     .command = "note-write",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{kPageId, {"TEXT", "text"}}},
     .about = "replace a note's text"},
    {.id = Id::kPageNoteDelete,
     .command = "note-delete",
     .from = From::kPage,
     .effect = Effect::kKeeps,
     .operands = {{kPageId}},
     .about = "delete a note"},
    {.id = Id::kPageAck,
     .command = "ack",
     .from = From::kPage,
     .local = true,
     .operands = {{{"SCREENS", "screens", Kind::kCount}}},
     .about = "the page drew this many of the screens sent"},
    {.id = Id::kPageSeen,
     .command = "seen",
     .from = From::kPage,
     .local = true,
     .operands = {{kPageId}},
     .about = "the person looked at terminal id: what it finished is read"},
};

/// role, preset and note: commands whose second word is a subcommand.
struct Family {
  std::string_view command;
  /// Whether its usage line (see usage()) shows each subcommand with its
  /// operands, as the help does, or by its word alone.
  bool operands_in_usage = false;
  /// What the usage line ends with, after the subcommands.
  std::string_view usage_tail = {};
  /// The subcommand when none is given; empty when one is needed.
  std::string_view fallback = {};
  std::string_view about = {};
};

inline constexpr Family kFamilies[] = {
    {.command = "role", .operands_in_usage = true, .about = "list, create, show, change, delete or assign roles"},
    {.command = "preset", .fallback = "list", .about = "list the launch presets"},
    {.command = "note",
     .usage_tail = " (see 'welkmora help')",
     .about = "list, create, read, write, edit or delete notes"},
};

/// Whether `command` names a family. Compile-time checks use this, not a
/// comparison of find_family() with null: under the sanitizers g++ does
/// not take the address of a row for a constant.
constexpr bool is_family(std::string_view command) {
  for (const Family& family : kFamilies) {
    if (family.command == command) return true;
  }
  return false;
}

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

constexpr std::size_t index(Id id) { return static_cast<std::size_t>(id); }
inline constexpr std::size_t kRowCount = std::size(kRequests);

constexpr const Request& row(Id id) { return kRequests[index(id)]; }

consteval bool rows_in_order_of_ids() {
  for (std::size_t i = 0; i < kRowCount; ++i) {
    if (index(kRequests[i].id) != i) return false;
  }
  return true;
}
static_assert(rows_in_order_of_ids(), "each row must sit at the place its id names");

// ---- the tables that bind handlers to rows ----

/// One entry of a table that binds what serves a row (a handler, a
/// renderer) to the row.
template <class Handler>
struct Bound {
  Id id;
  Handler handler;
};

/// Whether `table` binds each row that `picks` selects exactly once, in
/// the rows' order, and no other row. Each side checks its table with it
/// while compiling, so that a row without its handler, a handler whose row
/// is gone (its id is gone with it) and a handler for another side's row
/// all fail to compile.
template <class Handler, std::size_t N, class Pick>
consteval bool binds(const Bound<Handler> (&table)[N], Pick picks) {
  std::size_t at = 0;
  for (const Request& row : kRequests) {
    if (!picks(row)) continue;
    if (at == N || table[at].id != row.id) return false;
    ++at;
  }
  return at == N;
}

/// `table` indexed by the rows' ids; the rows it leaves out get Handler{}.
template <class Handler, std::size_t N>
consteval std::array<Handler, kRowCount> by_id(const Bound<Handler> (&table)[N]) {
  std::array<Handler, kRowCount> handlers{};
  for (const Bound<Handler>& entry : table) handlers[index(entry.id)] = entry.handler;
  return handlers;
}

// ---- the families' usage lines, made from their rows ----

namespace spelling {

/// What a family's usage line says of `row`: its subcommand, or what its
/// help line shows of it ("create \"Name\" \"Prompt\"").
constexpr std::string_view listed(const Family& family, const Request& row) {
  if (!family.operands_in_usage) return row.sub;
  std::string_view line = row.help.substr(std::string_view("  welkmora ").size() + family.command.size() + 1);
  return line.substr(0, line.find("  "));
}

/// Writes the usage line of `family` into `out` unless it is null;
/// returns its length.
constexpr std::size_t spell_usage(const Family& family, char* out) {
  std::size_t n = 0;
  auto put = [&](std::string_view text) {
    for (char c : text) {
      if (out != nullptr) out[n] = c;
      ++n;
    }
  };
  put("usage: welkmora ");
  put(family.command);
  std::string_view separator = " ";
  for (const Request& row : kRequests) {
    if (row.from != From::kAgent || row.command != family.command) continue;
    put(separator);
    put(listed(family, row));
    separator = " | ";
  }
  put(family.usage_tail);
  return n;
}

template <std::size_t I>
inline constexpr auto kUsageText = [] {
  std::array<char, spell_usage(kFamilies[I], nullptr)> text{};
  spell_usage(kFamilies[I], text.data());
  return text;
}();

template <std::size_t... I>
constexpr std::array<std::string_view, sizeof...(I)> usages(std::index_sequence<I...>) {
  return {std::string_view(kUsageText<I>.data(), kUsageText<I>.size())...};
}

inline constexpr auto kUsages = usages(std::make_index_sequence<std::size(kFamilies)>());

/// Whether each family row's help line begins with its words, where
/// listed() looks for its operands.
consteval bool helps_name_their_rows() {
  for (const Request& row : kRequests) {
    if (row.from != From::kAgent || !is_family(row.command)) continue;
    std::string_view words = row.help.substr(0, 11 + row.command.size() + 1 + row.sub.size());
    if (words.substr(0, 11) != "  welkmora " || words.substr(11, row.command.size()) != row.command ||
        words.substr(11 + row.command.size() + 1) != row.sub) {
      return false;
    }
  }
  return true;
}
static_assert(helps_name_their_rows(), "a family row's help line must begin with its words");

}  // namespace spelling

/// The usage error of `family`, for a missing or unknown subcommand:
/// "usage: welkmora note list | create | ...".
constexpr std::string_view usage(const Family& family) {
  for (std::size_t i = 0; i < std::size(kFamilies); ++i) {
    if (kFamilies[i].command == family.command) return spelling::kUsages[i];
  }
  return {};
}

inline constexpr std::string_view kRoleUsage = usage(kFamilies[0]);

}  // namespace catalogue
