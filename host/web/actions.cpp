#include "web/actions.h"

#include <algorithm>
#include <cctype>
#include <utility>

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
Terminal& typed_terminal(const Dispatcher& dispatcher, TerminalSet& terminals, const Json& message) {
  Item item = item_of(message, "id");
  if (item.kind != ItemKind::kTerminal) throw Refusal("no such terminal: " + item.name);
  Terminal& terminal = screen_terminal(dispatcher.canvas(), terminals, item.name);
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
void mouse(Terminal& terminal, const Json& message) {
  int row = bounded(message, "row", kMaxRows), col = bounded(message, "col", kMaxCols);
  int button = bounded(message, "button", 5);
  terminal.screen().mouse(row, col, button, members::optional_flag(message, "pressed"), modifiers_of(message));
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

Json place(Dispatcher& dispatcher, TerminalSet& terminals, const Json& message) {
  Item item = existing(dispatcher.canvas(), item_of(message, "id"));
  const Json& box_json = members::object(message, "box");
  Box box{coordinate(box_json, "x", -kMaxCoordinate, kMaxCoordinate),
          coordinate(box_json, "y", -kMaxCoordinate, kMaxCoordinate), coordinate(box_json, "w", 0, kMaxCoordinate),
          coordinate(box_json, "h", 0, kMaxCoordinate)};
  Terminal* terminal = item.kind == ItemKind::kTerminal ? terminals.find(item.name) : nullptr;
  if (terminal != nullptr && box.w > 0 && box.h > 0) {
    box.w = std::clamp(box.w, kMinCols, kMaxCols);
    box.h = std::clamp(box.h, kMinRows, kMaxRows);
  }
  // Only a new size resizes the pty: a move leaves the size others gave it
  // (an attached window, say) as it is.
  const Box* old = dispatcher.canvas().box(item);
  bool resized =
      terminal != nullptr && box.w > 0 && box.h > 0 && (old == nullptr || old->w != box.w || old->h != box.h);
  dispatcher.act([&](Context& ctx) {
    ctx.canvas.set_box(item, box);
    if (resized) {
      ctx.on_commit.push_back([&terminals, name = item.name, box] {
        winsize size{};
        size.ws_row = static_cast<unsigned short>(box.h);
        size.ws_col = static_cast<unsigned short>(box.w);
        if (Terminal* t = terminals.find(name)) t->resize(size);
      });
    }
    return Json::object();
  });
  return Json::object();
}

Json connect(Dispatcher& dispatcher, const Json& message, bool rope) {
  Item a = existing(dispatcher.canvas(), item_of(message, "a"));
  Item b = existing(dispatcher.canvas(), item_of(message, "b"));
  if (a == b) throw Refusal("cannot rope an item to itself: " + a.name);
  return dispatcher.act([&](Context& ctx) {
    bool changed = rope ? (ctx.canvas.roped(a, b) ? false : (ctx.canvas.rope(a, b), true)) : ctx.canvas.cut(a, b);
    return Json{{"changed", changed}};
  });
}

Json recruit(Dispatcher& dispatcher, const Json& message) {
  Recruit r{members::text(message, "name"), members::optional_text(message, "role"),
            members::optional_text(message, "preset"), members::optional_text(message, "cmd")};
  return dispatcher.act([&](Context& ctx) { return Json{{"name", recruit_terminal(ctx, r, kPerson)}}; });
}

Json dismiss(Dispatcher& dispatcher, const Json& message) {
  Item item = item_of(message, "id");
  const TerminalEntry* entry = dispatcher.canvas().terminal(item.name);
  if (item.kind != ItemKind::kTerminal || entry == nullptr) throw Refusal("no such terminal: " + item.name);
  if (entry->joined || entry->persons) throw Refusal("cannot dismiss " + item.name + ": it is the person's shell");
  return dispatcher.act([&](Context& ctx) {
    dismiss_terminal(ctx, item.name, kPerson);
    return Json{{"name", item.name}};
  });
}

Item note_of(const Json& message) {
  Item item = item_of(message, "id");
  if (item.kind != ItemKind::kNote) throw Refusal("not a note: " + item.name);
  return item;
}

}  // namespace

Json perform(Dispatcher& dispatcher, TerminalSet& terminals, const std::string& op, const Json& message) {
  if (op == "text") {
    typed_terminal(dispatcher, terminals, message).send(members::text(message, "text"));
  } else if (op == "key") {
    typed_terminal(dispatcher, terminals, message).screen().press(key_of(message));
  } else if (op == "mouse") {
    mouse(typed_terminal(dispatcher, terminals, message), message);
  } else if (op == "paste") {
    typed_terminal(dispatcher, terminals, message).screen().paste(members::text(message, "text"));
  } else if (op == "place") {
    return place(dispatcher, terminals, message);
  } else if (op == "connect" || op == "cut") {
    return connect(dispatcher, message, op == "connect");
  } else if (op == "recruit") {
    return recruit(dispatcher, message);
  } else if (op == "dismiss") {
    return dismiss(dispatcher, message);
  } else if (op == "note-create") {
    auto name = members::optional_text(message, "name");
    std::string text = members::optional_text(message, "text").value_or("");
    return dispatcher.act([&](Context& ctx) { return Json{{"name", ctx.canvas.add_note(name, text)}}; });
  } else if (op == "note-write") {
    Item note = note_of(message);
    const std::string& text = members::text(message, "text");
    dispatcher.act([&](Context& ctx) {
      ctx.canvas.set_note(note.name, text);
      return Json::object();
    });
  } else if (op == "note-delete") {
    Item note = note_of(message);
    dispatcher.act([&](Context& ctx) {
      ctx.canvas.remove_note(note.name);
      return Json::object();
    });
  } else {
    throw Refusal("unknown op: " + op);
  }
  return Json::object();
}

}  // namespace host
