#include "web/view.h"

#include <cstdio>

#include "protocol/person.h"

namespace host {
namespace {

constexpr int kTerminalSlotWidth = 1020;
constexpr int kTerminalSlotHeight = 740;
constexpr int kTerminalsPerRow = 3;
constexpr int kSmallColumn = -320;
constexpr int kSmallSlotHeight = 240;

Json color_json(const Color& color) {
  switch (color.kind) {
    case Color::Kind::kDefault: return nullptr;
    case Color::Kind::kIndexed: return color.index;
    case Color::Kind::kRgb: break;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", color.red, color.green, color.blue);
  return hex;
}

int flags_of(const Style& style) {
  return (style.bold ? 1 : 0) | (style.underline ? 2 : 0) | (style.italic ? 4 : 0) | (style.reverse ? 8 : 0) |
         (style.strike ? 16 : 0) | (style.blink ? 32 : 0);
}

Json box_json(const Box& box) { return {{"x", box.x}, {"y", box.y}, {"w", box.w}, {"h", box.h}}; }

Json terminal_json(const TerminalEntry& entry, Terminal* terminal, const Dispatcher& dispatcher, const Box& box) {
  Json item = {{"id", item_id(Item::terminal(entry.name))},
               {"kind", "terminal"},
               {"name", entry.name},
               {"role", entry.role.empty() ? Json(nullptr) : Json(entry.role)},
               {"busy", dispatcher.asks().busy(entry.name)},
               {"persons", entry.persons},
               {"box", box_json(box)}};
  put_state(item, entry.joined ? nullptr : terminal);
  return item;
}

}  // namespace

std::string item_id(const Item& item) { return (item.kind == ItemKind::kTerminal ? "t:" : "n:") + item.name; }

std::optional<Item> parse_item_id(std::string_view id) {
  if (id.size() < 3 || id[1] != ':') return std::nullopt;
  if (id[0] == 't') return Item::terminal(id.substr(2));
  if (id[0] == 'n') return Item::note(id.substr(2));
  return std::nullopt;
}

Json row_json(const std::vector<Span>& runs) {
  Json row = Json::array();
  for (const Span& run : runs) {
    if (run.style == Style{}) {
      row.push_back(Json::array({run.text}));
    } else {
      row.push_back(Json::array({run.text, color_json(run.style.fg), color_json(run.style.bg), flags_of(run.style)}));
    }
  }
  return row;
}

Json screen_message(const std::string& id, const Screen& screen, std::uint64_t seen) {
  bool all = screen.size_change() > seen;
  Json rows = Json::array();
  for (int row = 0; row < screen.rows(); ++row) {
    if (all || screen.row_change(row) > seen) rows.push_back(Json::array({row, row_json(screen.styled_row(row))}));
  }
  Cursor cursor = screen.cursor();
  return {{"t", "screen"},
          {"id", id},
          {"size", {screen.rows(), screen.cols()}},
          {"rows", std::move(rows)},
          {"cursor", {cursor.row, cursor.col, cursor.visible}}};
}

bool Placer::taken(int x, int y, const Canvas& canvas) const {
  auto at = [&](const Box& box) { return box.x == x && box.y == y; };
  for (const auto& [item, box] : chosen_) {
    if (at(box)) return true;
  }
  for (const auto& [name, entry] : canvas.terminals()) {
    if (const Box* box = canvas.box(Item::terminal(name)); box != nullptr && at(*box)) return true;
  }
  for (const auto& [name, text] : canvas.notes()) {
    if (const Box* box = canvas.box(Item::note(name)); box != nullptr && at(*box)) return true;
  }
  return false;
}

Box Placer::place(const Item& item, const Canvas& canvas) {
  if (const Box* box = canvas.box(item)) return *box;
  if (auto it = chosen_.find(item); it != chosen_.end()) return it->second;
  const TerminalEntry* terminal = item.kind == ItemKind::kTerminal ? canvas.terminal(item.name) : nullptr;
  bool large = terminal != nullptr && !terminal->joined;
  Box box;
  for (int slot = 0;; ++slot) {
    if (large) {
      box.x = (slot % kTerminalsPerRow) * kTerminalSlotWidth;
      box.y = (slot / kTerminalsPerRow) * kTerminalSlotHeight;
    } else {
      box.x = kSmallColumn;
      box.y = slot * kSmallSlotHeight;
    }
    if (!taken(box.x, box.y, canvas)) break;
  }
  chosen_.emplace(item, box);
  return box;
}

CanvasView view_of(const Dispatcher& dispatcher, TerminalSet& terminals, Placer& placer) {
  const Canvas& canvas = dispatcher.canvas();
  CanvasView view;
  for (const auto& [name, entry] : canvas.terminals()) {
    Item item = Item::terminal(name);
    view.items[item_id(item)] = terminal_json(entry, terminals.find(name), dispatcher, placer.place(item, canvas));
  }
  for (const auto& [name, text] : canvas.notes()) {
    Item item = Item::note(name);
    view.items[item_id(item)] = {{"id", item_id(item)},
                                 {"kind", "note"},
                                 {"name", name},
                                 {"text", text},
                                 {"box", box_json(placer.place(item, canvas))}};
  }
  view.ropes = Json::array();
  for (const Rope& rope : canvas.ropes()) {
    if (view.items.contains(item_id(rope.a)) && view.items.contains(item_id(rope.b))) {
      view.ropes.push_back({item_id(rope.a), item_id(rope.b)});
    }
  }
  Json presets = Json::array();
  for (const Preset& preset : dispatcher.presets()) presets.push_back(preset.name);
  view.lists = {{"roles", canvas.role_names()}, {"presets", std::move(presets)}};
  return view;
}

}  // namespace host
