#include "web/view.h"

#include <algorithm>
#include <cstdio>

#include "protocol/person.h"

namespace host {
namespace {

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
         (style.strike ? 16 : 0) | (style.blink ? 32 : 0) | (style.dim ? 128 : 0);
}

Json box_json(const Box* box) {
  if (box == nullptr) return nullptr;
  return {{"x", box->x}, {"y", box->y}, {"w", box->w}, {"h", box->h}};
}

/// The first words of an asked prompt, for the page: at most 32 characters
/// (code points) on one line, runs of spaces and control characters as one
/// space, with "…" when there was more.
std::string prompt_start(std::string_view prompt) {
  constexpr std::size_t kShown = 32;
  std::string out;
  std::size_t shown = 0;
  std::size_t i = 0;
  while (i < prompt.size() && shown < kShown) {
    auto c = static_cast<unsigned char>(prompt[i]);
    if (c <= 0x20 || c == 0x7f) {
      ++i;
      if (out.empty() || out.back() == ' ') continue;
      out += ' ';
    } else {
      std::size_t n = std::min<std::size_t>(c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4, prompt.size() - i);
      out.append(prompt.substr(i, n));
      i += n;
    }
    ++shown;
  }
  bool more = prompt.find_first_not_of(" \t\r\n", i) != std::string_view::npos;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (more) out += "\u2026";
  return out;
}

Json terminal_json(const TerminalEntry& entry, Terminal* terminal, const Dispatcher& dispatcher, const Box* box) {
  Json item = {
      {"id", item_id(Item::terminal(entry.name))},
      {"kind", "terminal"},
      {"name", entry.name},
      {"role", entry.role.empty() ? Json(nullptr) : Json(entry.role)},
      {"busy", dispatcher.asks().busy(entry.name)},
      {"asked", dispatcher.asks().busy(entry.name) ? Json(prompt_start(dispatcher.asks().prompt_of(entry.name)))
                                                   : Json(nullptr)},
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
          {"cursor", {cursor.row, cursor.col, cursor.visible}},
          {"mouse", screen.mouse_mode()},
          {"history", {screen.first_kept_row(), screen.lines_scrolled()}}};
}

Json history_json(const Screen& screen, std::uint64_t from, std::uint64_t count) {
  std::uint64_t first = std::max(from, screen.first_kept_row());
  std::uint64_t end = std::min(screen.lines_scrolled(), from + std::min(count, kMaxHistoryRows));
  Json rows = Json::array();
  for (std::uint64_t row = first; row < end; ++row)
    rows.push_back(Json::array({row, row_json(screen.history_row(row))}));
  return {{"history", {screen.first_kept_row(), screen.lines_scrolled()}}, {"rows", std::move(rows)}};
}

Json item_json(const Item& item, const Dispatcher& dispatcher, TerminalSet& terminals) {
  const Canvas& canvas = dispatcher.canvas();
  if (item.kind == ItemKind::kTerminal) {
    const TerminalEntry* entry = canvas.terminal(item.name);
    if (entry == nullptr) return nullptr;
    return terminal_json(*entry, terminals.find(item.name), dispatcher, canvas.box(item));
  }
  auto note = canvas.notes().find(item.name);
  if (note == canvas.notes().end()) return nullptr;
  return {{"id", item_id(item)},
          {"kind", "note"},
          {"name", item.name},
          {"text", note->second},
          {"box", box_json(canvas.box(item))}};
}

Json rope_json(const Rope& rope, const Canvas& canvas) {
  return {{"t", "rope"}, {"a", item_id(rope.a)}, {"b", item_id(rope.b)}, {"on", canvas.ropes().contains(rope)}};
}

Json lists_json(const Dispatcher& dispatcher) {
  Json presets = Json::array();
  for (const Preset& preset : dispatcher.presets()) presets.push_back(preset.name);
  return {{"roles", dispatcher.canvas().role_names()}, {"presets", std::move(presets)}};
}

}  // namespace host
