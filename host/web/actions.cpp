#include "web/actions.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "catalogue.h"
#include "model/refusal.h"
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

/// Browser key names of the keys that are not characters.
constexpr std::pair<std::string_view, Key> kKeys[] = {
    {"Enter", Key::kEnter},   {"Tab", Key::kTab},           {"Backspace", Key::kBackspace}, {"Escape", Key::kEscape},
    {"ArrowUp", Key::kUp},    {"ArrowDown", Key::kDown},    {"ArrowLeft", Key::kLeft},      {"ArrowRight", Key::kRight},
    {"Insert", Key::kInsert}, {"Delete", Key::kDelete},     {"Home", Key::kHome},           {"End", Key::kEnd},
    {"PageUp", Key::kPageUp}, {"PageDown", Key::kPageDown},
};

Item item_of(const Json& message, const char* key) {
  const std::string& id = members::text(message, key);
  std::optional<Item> item = parse_item_id(id);
  if (!item) throw Refusal("not an item: " + id);
  return *item;
}

/// The terminal that `id` names, with a screen to type into.
Terminal& typed_terminal(Context& ctx, const Json& message) {
  Item item = item_of(message, "id");
  if (item.kind != ItemKind::kTerminal) throw Refusal("no such terminal: " + item.name);
  Terminal& terminal = screen_terminal(ctx.canvas, ctx.terminals, item.name);
  require_typable(terminal, item.name);
  return terminal;
}

/// The modifiers held, from the flags "shift", "alt" and "ctrl".
unsigned modifiers_of(const Json& message) {
  return (members::optional_flag(message, "shift") ? kShift : 0) |
         (members::optional_flag(message, "alt") ? kMeta : 0) | (members::optional_flag(message, "ctrl") ? kCtrl : 0);
}

/// The key of a browser's key event: a key by its name (Enter, ArrowUp,
/// F5, ...) or one character, with the modifiers held.
KeyPress key_of(const Json& message) {
  const std::string& name = members::text(message, "key");
  KeyPress press;
  press.modifiers = modifiers_of(message);
  for (auto [key_name, key] : kKeys) {
    if (key_name == name) {
      press.key = key;
      return press;
    }
  }
  if (name.size() >= 2 && name.size() <= 3 && name[0] == 'F' && std::isdigit(static_cast<unsigned char>(name[1]))) {
    int number = std::stoi(name.substr(1));
    if (number >= 1 && number <= 12) {
      press.key = Key::kFunction;
      press.number = number;
      return press;
    }
  }
  std::size_t end = 0;
  char32_t c = name.empty() ? 0 : wire::next_code_point(name, end);
  if (name.empty() || end != name.size()) throw Refusal("unknown key: " + name);
  // Ctrl with a letter is that letter's control code, whatever the case.
  if ((press.modifiers & kCtrl) != 0 && c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
  press.character = c;
  return press;
}

/// The unsigned integer `key` of `message`, at most `most`.
int bounded(const Json& message, const char* key, std::uint64_t most) {
  std::optional<std::uint64_t> n = members::optional_count(message, key);
  if (!n || *n > most) throw Refusal(std::string("mouse needs ") + key + " from 0 to " + std::to_string(most));
  return static_cast<int>(*n);
}

/// The page's mouse over a terminal whose program reads the mouse: the
/// cell (row, col), the button (0 for a move alone, 1 to 3, 4 and 5 the
/// wheel) and whether it went down, with the modifiers held. The screen
/// encodes it as the program asked; a cell off the screen is taken to its
/// edge.
Json mouse(Context& ctx, const Json& message) {
  Terminal& terminal = typed_terminal(ctx, message);
  int row = bounded(message, "row", kMaxRows), col = bounded(message, "col", kMaxCols);
  int button = bounded(message, "button", 5);
  terminal.screen().mouse(row, col, button, members::optional_flag(message, "pressed"), modifiers_of(message));
  return Json::object();
}

Json text(Context& ctx, const Json& message) {
  typed_terminal(ctx, message).send(members::text(message, "text"));
  return Json::object();
}

Json key(Context& ctx, const Json& message) {
  typed_terminal(ctx, message).screen().press(key_of(message));
  return Json::object();
}

Json paste(Context& ctx, const Json& message) {
  typed_terminal(ctx, message).screen().paste(members::text(message, "text"));
  return Json::object();
}

/// The kept scrollback rows {"from", "count"} of terminal `id`.
Json history(Context& ctx, const Json& message) {
  auto id = message.find("id");
  std::optional<Item> item =
      id != message.end() && id->is_string() ? parse_item_id(id->get<std::string>()) : std::nullopt;
  Terminal* t = item && item->kind == ItemKind::kTerminal ? ctx.terminals.find(item->name) : nullptr;
  if (t == nullptr || ctx.canvas.terminal(item->name) == nullptr) throw Refusal("no such terminal");
  auto number = [&](const char* key) {
    auto it = message.find(key);
    if (it == message.end() || !it->is_number_unsigned()) throw Refusal(std::string("history needs ") + key);
    return it->get<std::uint64_t>();
  };
  return history_json(t->screen(), number("from"), number("count"));
}

Item existing(const Canvas& canvas, const Item& item) {
  bool found =
      item.kind == ItemKind::kTerminal ? canvas.terminal(item.name) != nullptr : canvas.notes().contains(item.name);
  if (!found) throw Refusal("no such item: " + item.name);
  return item;
}

int coordinate(const Json& box, const char* key, int low, int high) {
  auto it = box.find(key);
  if (it == box.end() || !it->is_number_integer()) throw Refusal(std::string("box needs the integer ") + key);
  return static_cast<int>(std::clamp<std::int64_t>(it->get<std::int64_t>(), low, high));
}

Json place(Context& ctx, const Json& message) {
  Item item = existing(ctx.canvas, item_of(message, "id"));
  const Json& box_json = members::object(message, "box");
  Box box{coordinate(box_json, "x", -kMaxCoordinate, kMaxCoordinate),
          coordinate(box_json, "y", -kMaxCoordinate, kMaxCoordinate), coordinate(box_json, "w", 0, kMaxCoordinate),
          coordinate(box_json, "h", 0, kMaxCoordinate)};
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
Json tie(Context& ctx, const Json& message, bool rope) {
  Item a = existing(ctx.canvas, item_of(message, "a"));
  Item b = existing(ctx.canvas, item_of(message, "b"));
  if (a == b) throw Refusal("cannot rope an item to itself: " + a.name);
  bool changed = rope ? (ctx.canvas.roped(a, b) ? false : (ctx.canvas.rope(a, b), true)) : ctx.canvas.cut(a, b);
  return Json{{"changed", changed}};
}

Json connect(Context& ctx, const Json& message) { return tie(ctx, message, true); }
Json cut(Context& ctx, const Json& message) { return tie(ctx, message, false); }

Json recruit(Context& ctx, const Json& message) {
  Recruit r{members::text(message, "name"), members::optional_text(message, "role"),
            members::optional_text(message, "preset"), members::optional_text(message, "cmd")};
  return Json{{"name", recruit_terminal(ctx, r, kPerson)}};
}

Json dismiss(Context& ctx, const Json& message) {
  Item item = item_of(message, "id");
  const TerminalEntry* entry = ctx.canvas.terminal(item.name);
  if (item.kind != ItemKind::kTerminal || entry == nullptr) throw Refusal("no such terminal: " + item.name);
  if (entry->joined || entry->persons) throw Refusal("cannot dismiss " + item.name + ": it is the person's shell");
  dismiss_terminal(ctx, item.name, kPerson);
  return Json{{"name", item.name}};
}

Item note_of(const Json& message) {
  Item item = item_of(message, "id");
  if (item.kind != ItemKind::kNote) throw Refusal("not a note: " + item.name);
  return item;
}

Json note_create(Context& ctx, const Json& message) {
  auto name = members::optional_text(message, "name");
  std::string text = members::optional_text(message, "text").value_or("");
  return Json{{"name", ctx.canvas.add_note(name, text)}};
}

Json note_write(Context& ctx, const Json& message) {
  Item note = note_of(message);
  ctx.canvas.set_note(note.name, members::text(message, "text"));
  return Json::object();
}

Json note_delete(Context& ctx, const Json& message) {
  ctx.canvas.remove_note(note_of(message).name);
  return Json::object();
}

/// The handler of each of the catalogue's page actions, by its `op`.
struct Action {
  std::string_view op;
  Json (*serve)(Context& ctx, const Json& message);
};

constexpr Action kActions[] = {
    {"text", text},
    {"key", key},
    {"paste", paste},
    {"mouse", mouse},
    {"history", history},
    {"place", place},
    {"connect", connect},
    {"cut", cut},
    {"recruit", recruit},
    {"dismiss", dismiss},
    {"note-create", note_create},
    {"note-write", note_write},
    {"note-delete", note_delete},
};

constexpr const Action* action_of(std::string_view op) {
  for (const Action& action : kActions) {
    if (action.op == op) return &action;
  }
  return nullptr;
}

consteval bool every_action_is_handled() {
  for (const catalogue::Request& row : catalogue::kRequests) {
    if (row.from == catalogue::From::kPage && action_of(row.command) == nullptr) return false;
  }
  for (const Action& action : kActions) {
    if (catalogue::find(catalogue::From::kPage, action.op) == nullptr) return false;
  }
  return true;
}
static_assert(every_action_is_handled(), "the catalogue's page actions and the handlers here disagree");

}  // namespace

Json perform(Dispatcher& dispatcher, const std::string& op, const Json& message) {
  const catalogue::Request* row = catalogue::find(catalogue::From::kPage, op);
  if (row == nullptr) return error_reply("unknown op: " + op);
  const Action& action = *action_of(op);
  return dispatcher.serve(*row, [&](Context& ctx) { return action.serve(ctx, message); });
}

}  // namespace host
