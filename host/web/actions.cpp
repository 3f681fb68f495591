#include "web/actions.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "catalogue.h"
#include "protocol/handlers.h"
#include "protocol/members.h"
#include "protocol/person.h"
#include "utf8.h"
#include "web/view.h"

namespace host {
namespace {

constexpr int kMaxCoordinate = 1 << 24;
/// Who acts, in the activity log: the person, from the canvas page.
const std::string kPerson = "page";
constexpr int kMinRows = 2, kMaxRows = 500, kMinCols = 10, kMaxCols = 1000;

OrRefusal<Item> item_of(const Json& message, const char* key) {
  members::Reader in(message);
  const std::string& id = in.text(key);
  if (in.refused()) return *in.refused();
  std::optional<Item> item = parse_item_id(id);
  if (!item) return refuse("not an item: " + id);
  return std::move(*item);
}

/// The terminal that `id` names, with a screen to type into.
OrRefusal<Terminal*> typed_terminal(Context& ctx, const Json& message) {
  OrRefusal<Item> item = item_of(message, "id");
  if (!item.ok()) return item.failure();
  if (item->kind != ItemKind::kTerminal) return refuse("no such terminal: " + item->name);
  OrRefusal<Terminal*> terminal = screen_terminal(ctx.canvas, ctx.terminals, item->name);
  if (!terminal.ok()) return terminal;
  if (OrRefusal<void> typable = require_typable(**terminal, item->name); !typable.ok()) return typable.failure();
  return terminal;
}

/// The modifiers held, from the flags "shift", "alt" and "ctrl".
unsigned modifiers_of(members::Reader& in) {
  unsigned shift = in.optional_flag("shift") ? kShift : 0;
  unsigned alt = in.optional_flag("alt") ? kMeta : 0;
  return shift | alt | (in.optional_flag("ctrl") ? kCtrl : 0);
}

/// The key of a browser's key event: a key by its name (Enter, ArrowUp,
/// F5, ...) or one character, with the modifiers held.
OrRefusal<KeyPress> key_of(const Json& message) {
  members::Reader in(message);
  const std::string& name = in.text("key");
  KeyPress press;
  press.modifiers = modifiers_of(in);
  if (in.refused()) return *in.refused();
  if (std::optional<KeyPress> named = browser_key(name)) {
    press.key = named->key;
    press.number = named->number;
    return press;
  }
  std::size_t end = 0;
  char32_t c = name.empty() ? 0 : utf8::next_code_point(name, end);
  if (name.empty() || end != name.size()) return refuse("unknown key: " + name);
  // Ctrl with a letter is that letter's control code, whatever the case.
  if ((press.modifiers & kCtrl) != 0 && c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
  press.character = c;
  return press;
}

/// The unsigned integer `key` of `message`, at most `most`.
OrRefusal<int> bounded(members::Reader& in, const char* key, std::uint64_t most) {
  std::optional<std::uint64_t> n = in.optional_count(key);
  if (in.refused()) return *in.refused();
  if (!n || *n > most) return refuse(std::string("mouse needs ") + key + " from 0 to " + std::to_string(most));
  return static_cast<int>(*n);
}

/// The page's mouse over a terminal whose program reads the mouse: the
/// cell (row, col), the button (0 for a move alone, 1 to 3, 4 and 5 the
/// wheel) and whether it went down, with the modifiers held. The screen
/// encodes it as the program asked; a cell off the screen is taken to its
/// edge.
OrRefusal<Json> mouse(Context& ctx, const Json& message) {
  OrRefusal<Terminal*> terminal = typed_terminal(ctx, message);
  if (!terminal.ok()) return terminal.failure();
  members::Reader in(message);
  OrRefusal<int> row = bounded(in, "row", kMaxRows);
  if (!row.ok()) return row.failure();
  OrRefusal<int> col = bounded(in, "col", kMaxCols);
  if (!col.ok()) return col.failure();
  OrRefusal<int> button = bounded(in, "button", 5);
  if (!button.ok()) return button.failure();
  bool pressed = in.optional_flag("pressed");
  unsigned modifiers = modifiers_of(in);
  if (in.refused()) return *in.refused();
  (*terminal)->screen().mouse(*row, *col, *button, pressed, modifiers);
  return Json::object();
}

/// Sends what the `text` member holds to the typed terminal with `type`.
template <class Type>
OrRefusal<Json> typed_text(Context& ctx, const Json& message, Type type) {
  OrRefusal<Terminal*> terminal = typed_terminal(ctx, message);
  if (!terminal.ok()) return terminal.failure();
  members::Reader in(message);
  const std::string& text = in.text("text");
  if (in.refused()) return *in.refused();
  type(**terminal, text);
  return Json::object();
}

OrRefusal<Json> text(Context& ctx, const Json& message) {
  return typed_text(ctx, message, [](Terminal& t, const std::string& text) { t.send(text); });
}

OrRefusal<Json> paste(Context& ctx, const Json& message) {
  return typed_text(ctx, message, [](Terminal& t, const std::string& text) { t.screen().paste(text); });
}

OrRefusal<Json> key(Context& ctx, const Json& message) {
  OrRefusal<Terminal*> terminal = typed_terminal(ctx, message);
  if (!terminal.ok()) return terminal.failure();
  OrRefusal<KeyPress> press = key_of(message);
  if (!press.ok()) return press.failure();
  (*terminal)->screen().press(*press);
  return Json::object();
}

/// The kept scrollback rows {"from", "count"} of terminal `id`.
OrRefusal<Json> history(Context& ctx, const Json& message) {
  auto id = message.find("id");
  std::optional<Item> item =
      id != message.end() && id->is_string() ? parse_item_id(id->get<std::string>()) : std::nullopt;
  Terminal* t = item && item->kind == ItemKind::kTerminal ? ctx.terminals.find(item->name) : nullptr;
  if (t == nullptr || ctx.canvas.terminal(item->name) == nullptr) return refuse("no such terminal");
  std::uint64_t from = 0, count = 0;
  for (auto [key, into] : {std::pair{"from", &from}, std::pair{"count", &count}}) {
    auto it = message.find(key);
    if (it == message.end() || !it->is_number_unsigned()) return refuse(std::string("history needs ") + key);
    *into = it->get<std::uint64_t>();
  }
  return history_json(t->screen(), from, count);
}

/// `text` with ASCII letters in lower case.
std::string folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

/// The rows of every terminal's kept scrollback and screen that hold
/// `text` (ASCII letters in either case), newest first, at most
/// kSearchRows a terminal: {"terminals":[{"id","lines":[[row,text]...]}],
/// "more":bool}, `more` when a terminal had more.
OrRefusal<Json> search(Context& ctx, const Json& message) {
  constexpr std::size_t kSearchRows = 100;
  members::Reader in(message);
  std::string needle = folded(in.text("text"));
  if (in.refused()) return *in.refused();
  if (needle.empty()) return refuse("search needs text");
  Json terminals = Json::array();
  bool more = false;
  for (const auto& [name, entry] : ctx.canvas.terminals()) {
    Terminal* t = entry.joined ? nullptr : ctx.terminals.find(name);
    if (t == nullptr) continue;
    ScreenText text = t->screen_snapshot(0);
    Json lines = Json::array();
    for (std::size_t i = text.rows.size(); i-- > 0;) {
      if (folded(text.rows[i]).find(needle) == std::string::npos) continue;
      if (lines.size() == kSearchRows) {
        more = true;
        break;
      }
      lines.push_back(Json::array({text.first_row + i, text.rows[i]}));
    }
    if (!lines.empty()) terminals.push_back({{"id", item_id(Item::terminal(name))}, {"lines", std::move(lines)}});
  }
  return Json{{"terminals", std::move(terminals)}, {"more", more}};
}

/// The item `key` names, when it is on the canvas.
OrRefusal<Item> existing(const Canvas& canvas, const Json& message, const char* key) {
  OrRefusal<Item> item = item_of(message, key);
  if (!item.ok()) return item;
  bool found =
      item->kind == ItemKind::kTerminal ? canvas.terminal(item->name) != nullptr : canvas.notes().contains(item->name);
  if (!found) return refuse("no such item: " + item->name);
  return item;
}

/// The box {x, y, w, h} of a `place`, its numbers taken into their ranges.
OrRefusal<Box> box_of(const Json& message) {
  members::Reader in(message);
  const Json& box = in.object("box");
  if (in.refused()) return *in.refused();
  int values[4];
  const char* keys[4] = {"x", "y", "w", "h"};
  for (int i = 0; i < 4; ++i) {
    auto it = box.find(keys[i]);
    if (it == box.end() || !it->is_number_integer()) return refuse(std::string("box needs the integer ") + keys[i]);
    int low = i < 2 ? -kMaxCoordinate : 0;
    values[i] = static_cast<int>(std::clamp<std::int64_t>(it->get<std::int64_t>(), low, kMaxCoordinate));
  }
  return Box{values[0], values[1], values[2], values[3]};
}

OrRefusal<Json> place(Context& ctx, const Json& message) {
  OrRefusal<Item> found = existing(ctx.canvas, message, "id");
  if (!found.ok()) return found.failure();
  const Item& item = *found;
  OrRefusal<Box> placed = box_of(message);
  if (!placed.ok()) return placed.failure();
  Box box = *placed;
  Terminal* terminal = item.kind == ItemKind::kTerminal ? ctx.terminals.find(item.name) : nullptr;
  if (terminal != nullptr && box.w > 0 && box.h > 0) {
    box.w = std::clamp(box.w, kMinCols, kMaxCols);
    box.h = std::clamp(box.h, kMinRows, kMaxRows);
  }
  // Only a new size resizes the pty: a move leaves the size others gave it
  // (an attached window, say) as it is.
  const Box* old = ctx.canvas.box(item);
  bool resized =
      terminal != nullptr && box.w > 0 && box.h > 0 && (old == nullptr || old->w != box.w || old->h != box.h);
  ctx.canvas.set_box(item, box);
  if (resized) {
    ctx.on_commit.push_back([&terminals = ctx.terminals, name = item.name, box] {
      winsize size{};
      size.ws_row = static_cast<unsigned short>(box.h);
      size.ws_col = static_cast<unsigned short>(box.w);
      if (Terminal* t = terminals.find(name)) t->resize(size);
    });
  }
  return Json::object();
}

/// Ropes (`rope`) or unropes the items `a` and `b`.
OrRefusal<Json> tie(Context& ctx, const Json& message, bool rope) {
  OrRefusal<Item> a = existing(ctx.canvas, message, "a");
  if (!a.ok()) return a.failure();
  OrRefusal<Item> b = existing(ctx.canvas, message, "b");
  if (!b.ok()) return b.failure();
  if (*a == *b) return refuse("cannot rope an item to itself: " + a->name);
  bool changed = rope ? (ctx.canvas.roped(*a, *b) ? false : (ctx.canvas.rope(*a, *b), true)) : ctx.canvas.cut(*a, *b);
  return Json{{"changed", changed}};
}

OrRefusal<Json> connect(Context& ctx, const Json& message) { return tie(ctx, message, true); }
OrRefusal<Json> cut(Context& ctx, const Json& message) { return tie(ctx, message, false); }

OrRefusal<Json> recruit(Context& ctx, const Json& message) {
  members::Reader in(message);
  Recruit r{in.text("name"), in.optional_text("role"), in.optional_text("preset"), in.optional_text("cmd")};
  if (in.refused()) return *in.refused();
  OrRefusal<std::string> name = recruit_terminal(ctx, r, kPerson);
  if (!name.ok()) return name.failure();
  return Json{{"name", *name}};
}

OrRefusal<Json> dismiss(Context& ctx, const Json& message) {
  OrRefusal<Item> item = item_of(message, "id");
  if (!item.ok()) return item.failure();
  const TerminalEntry* entry = ctx.canvas.terminal(item->name);
  if (item->kind != ItemKind::kTerminal || entry == nullptr) return refuse("no such terminal: " + item->name);
  if (entry->joined || entry->persons) return refuse("cannot dismiss " + item->name + ": it is the person's shell");
  dismiss_terminal(ctx, item->name, kPerson);
  return Json{{"name", item->name}};
}

OrRefusal<Json> resume(Context& ctx, const Json& message) {
  OrRefusal<Item> item = item_of(message, "id");
  if (!item.ok()) return item.failure();
  if (item->kind != ItemKind::kTerminal) return refuse("no such terminal: " + item->name);
  if (OrRefusal<void> done = resume_terminal(ctx, item->name, kPerson); !done.ok()) return done.failure();
  return Json{{"name", item->name}};
}

OrRefusal<Item> note_of(const Json& message) {
  OrRefusal<Item> item = item_of(message, "id");
  if (item.ok() && item->kind != ItemKind::kNote) return refuse("not a note: " + item->name);
  return item;
}

/// An empty result once `done` went through, else its refusal.
OrRefusal<Json> nothing(const OrRefusal<void>& done) {
  if (!done.ok()) return done.failure();
  return Json::object();
}

OrRefusal<Json> note_create(Context& ctx, const Json& message) {
  members::Reader in(message);
  std::optional<std::string> name = in.optional_text("name");
  std::string text = in.optional_text("text").value_or("");
  if (in.refused()) return *in.refused();
  OrRefusal<std::string> created = ctx.canvas.add_note(name, text);
  if (!created.ok()) return created.failure();
  return Json{{"name", *created}};
}

OrRefusal<Json> note_write(Context& ctx, const Json& message) {
  OrRefusal<Item> note = note_of(message);
  if (!note.ok()) return note.failure();
  members::Reader in(message);
  const std::string& text = in.text("text");
  if (in.refused()) return *in.refused();
  return nothing(ctx.canvas.set_note(note->name, text));
}

OrRefusal<Json> note_delete(Context& ctx, const Json& message) {
  OrRefusal<Item> note = note_of(message);
  if (!note.ok()) return note.failure();
  return nothing(ctx.canvas.remove_note(note->name));
}

using catalogue::Id;
using Action = OrRefusal<Json> (*)(Context& ctx, const Json& message);

/// Whether the dispatcher serves `row` as a page action (the feed answers
/// the page's own `ack` and `seen`).
constexpr bool performed(const catalogue::Request& row) { return row.from == catalogue::From::kPage && !row.local; }

constexpr catalogue::Bound<Action> kActions[] = {
    {Id::kPageText, text},
    {Id::kPageKey, key},
    {Id::kPagePaste, paste},
    {Id::kPageMouse, mouse},
    {Id::kPageHistory, history},
    {Id::kPageSearch, search},
    {Id::kPagePlace, place},
    {Id::kPageConnect, connect},
    {Id::kPageCut, cut},
    {Id::kPageRecruit, recruit},
    {Id::kPageDismiss, dismiss},
    {Id::kPageResume, resume},
    {Id::kPageNoteCreate, note_create},
    {Id::kPageNoteWrite, note_write},
    {Id::kPageNoteDelete, note_delete},
};
static_assert(catalogue::binds(kActions, performed), "the catalogue's page actions and the handlers here disagree");

constexpr std::array<Action, catalogue::kRowCount> kActionOf = catalogue::by_id(kActions);

}  // namespace

Json perform(Dispatcher& dispatcher, const catalogue::Request& row, const Json& message) {
  Action action = kActionOf[catalogue::index(row.id)];
  if (action == nullptr) return error_reply("not an action: " + std::string(row.command));
  return dispatcher.serve(row, [&](Context& ctx) { return action(ctx, message); });
}

}  // namespace host
