#include "terminals/redraw.h"

namespace host {
namespace {

/// The SGR parameters of a foreground (`base` 30) or background (40) colour.
std::string color_parameters(const Color& color, int base) {
  switch (color.kind) {
    case Color::Kind::kDefault: return std::to_string(base + 9);
    case Color::Kind::kIndexed:
      if (color.index < 8) return std::to_string(base + color.index);
      if (color.index < 16) return std::to_string(base + 60 + color.index - 8);
      return std::to_string(base + 8) + ";5;" + std::to_string(color.index);
    case Color::Kind::kRgb:
      return std::to_string(base + 8) + ";2;" + std::to_string(color.red) + ";" + std::to_string(color.green) + ";" +
             std::to_string(color.blue);
  }
  return {};
}

std::string move_to(int row, int col) {
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
}

}  // namespace

std::string style_sequence(const Style& style) {
  std::string out = "\x1b[0";
  if (style.bold) out += ";1";
  if (style.dim) out += ";2";
  if (style.italic) out += ";3";
  if (style.underline) out += ";4";
  if (style.blink) out += ";5";
  if (style.reverse) out += ";7";
  if (style.strike) out += ";9";
  out += ";" + color_parameters(style.fg, 30) + ";" + color_parameters(style.bg, 40) + "m";
  return out;
}

std::string redraw(Screen& screen) {
  std::string out = "\x1b[0m\x1b[H\x1b[2J";
  for (int row = 0; row < screen.rows(); ++row) {
    std::vector<Span> spans = screen.styled_row(row);
    if (spans.empty()) continue;
    out += move_to(row, 0);
    for (const Span& span : spans) out += style_sequence(span.style) + span.text;
  }
  Cursor cursor = screen.cursor();
  out += "\x1b[0m" + move_to(cursor.row, cursor.col);
  out += cursor.visible ? "\x1b[?25h" : "\x1b[?25l";
  return out + screen.input_modes();
}

}  // namespace host
