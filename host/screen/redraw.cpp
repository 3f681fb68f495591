#include "screen/redraw.h"

#include <algorithm>

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

/// Columns `spans` take.
int columns_of(const std::vector<Span>& spans) {
  int n = 0;
  for (const Span& span : spans) n += span.columns;
  return n;
}

/// Rows gathered into lines: a row that continues the one before it is
/// appended to that line, which is first filled to the width `cols` with
/// the blanks its text lost.
class Lines {
 public:
  explicit Lines(int cols) : cols_(cols) {}
  void add(const std::vector<Span>& spans, bool continued) {
    if (continued && !lines_.empty()) {
      if (width_ < cols_) lines_.back().append(static_cast<std::size_t>(cols_ - width_), ' ');
      lines_.back() += styled_text(spans);
    } else {
      lines_.push_back(styled_text(spans));
    }
    width_ = columns_of(spans);
  }
  std::vector<std::string>& lines() { return lines_; }

 private:
  int cols_;
  int width_ = 0;
  std::vector<std::string> lines_;
};

/// The newest `history` kept scrollback rows of `screen` added to `lines`.
void add_history(const Screen& screen, std::size_t history, Lines& lines) {
  std::uint64_t end = screen.lines_scrolled();
  std::uint64_t first = std::max(screen.first_kept_row(), end - std::min<std::uint64_t>(end, history));
  for (std::uint64_t row = first; row < end; ++row) {
    lines.add(screen.history_row(row), row > first && screen.history_continued(row));
  }
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

std::string styled_text(const std::vector<Span>& spans) {
  std::string out;
  bool styled = false;
  for (const Span& span : spans) {
    if (span.style != Style{} || styled) out += style_sequence(span.style);
    styled = styled || span.style != Style{};
    out += span.text;
  }
  return styled ? out + "\x1b[0m" : out;
}

std::string screen_lines(const Screen& screen, std::size_t history, std::size_t max_bytes) {
  Lines gathered(screen.cols());
  add_history(screen, history, gathered);
  for (int row = 0; row < screen.rows(); ++row) gathered.add(screen.styled_row(row), screen.row_continued(row));
  std::vector<std::string>& lines = gathered.lines();
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t first = lines.size(), bytes = 0;
  while (first > 0 && bytes + lines[first - 1].size() + 2 <= max_bytes) bytes += lines[--first].size() + 2;
  std::string out;
  out.reserve(bytes);
  for (std::size_t i = first; i < lines.size(); ++i) out.append(lines[i]).append("\r\n");
  return out;
}

std::string redraw_with_history(Screen& screen, std::size_t history, int view_rows) {
  if (view_rows <= 0) view_rows = screen.rows();
  std::string out = "\x1b[0m\r" + std::string(static_cast<std::size_t>(view_rows), '\n');
  Lines gathered(screen.cols());
  add_history(screen, history, gathered);
  for (const std::string& line : gathered.lines()) out.append(line).append("\r\n");
  // The visible rows row by row, the last of them on the view's last row.
  for (int row = 0; row < screen.rows(); ++row) {
    out += styled_text(screen.styled_row(row));
    if (row + 1 < screen.rows()) out += "\r\n";
  }
  Cursor cursor = screen.cursor();
  out += move_to(std::max(cursor.row + view_rows - screen.rows(), 0), cursor.col);
  out += cursor.visible ? "\x1b[?25h" : "\x1b[?25l";
  return out + screen.input_modes();
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
