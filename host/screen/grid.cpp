#include "screen/grid.h"

#include <algorithm>

#include "utf8.h"

namespace host {

Style Pen::style() const {
  Style s;
  s.fg = fg;
  s.bg = bg;
  s.bold = attrs & kBold;
  s.italic = attrs & kItalic;
  s.underline = attrs & kUnderline;
  s.blink = attrs & kBlink;
  s.reverse = attrs & kReverse;
  s.strike = attrs & kStrike;
  s.dim = attrs & kFaint;
  return s;
}

char32_t CombinedChars::intern(const std::uint32_t* chars, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) utf8::append_utf8(text, chars[i]);
  if (auto it = index_.find(text); it != index_.end()) return it->second;
  if (texts_.size() >= kLimit) return chars[0];
  char32_t cell = Cell::kCombined | static_cast<char32_t>(texts_.size());
  texts_.push_back(text);
  index_.emplace(std::move(text), cell);
  return cell;
}

namespace {

void append_char(std::string& out, char32_t ch, const CombinedChars& combined) {
  if (ch == 0) {
    out.push_back(' ');
  } else if (ch < 0x80) {
    out.push_back(static_cast<char>(ch));
  } else if (ch & Cell::kCombined) {
    out.append(combined.utf8(ch));
  } else {
    utf8::append_utf8(out, ch);
  }
}

/// Calls `visit(cell, columns)` for each character of `row` up to its last
/// used cell (the right half of a double-width character is its left's).
template <class Visit>
void for_each_char(const Row& row, Visit visit) {
  const int used = row.used;
  for (int col = 0; col < used; ++col) {
    const Cell& cell = row.cells[static_cast<std::size_t>(col)];
    if (cell.ch == Cell::kWideRight) continue;
    bool wide = col + 1 < used && row.cells[static_cast<std::size_t>(col) + 1].ch == Cell::kWideRight;
    visit(cell, wide ? 2 : 1);
  }
}

std::size_t trailing_spaces(std::string_view text) {
  std::size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? text.size() : text.size() - end - 1;
}

/// Trailing blanks of the default style draw nothing (as in row_spans).
void trim_default_blanks(std::string& text, std::vector<StoredRow::Run>& runs) {
  while (!runs.empty() && runs.back().style == Style{}) {
    StoredRow::Run& run = runs.back();
    std::size_t begin = runs.size() > 1 ? runs[runs.size() - 2].end : 0;
    std::size_t blanks = std::min(trailing_spaces(text), run.end - begin);
    text.resize(text.size() - blanks);
    run.end = static_cast<std::uint32_t>(text.size());
    run.columns = static_cast<std::uint16_t>(run.columns - blanks);
    if (run.end > begin) break;
    runs.pop_back();
  }
}

}  // namespace

std::vector<Span> row_spans(const Row& row, const CombinedChars& combined) {
  std::vector<Span> spans;
  const Pen* last = nullptr;
  for_each_char(row, [&](const Cell& cell, int columns) {
    if (last == nullptr || !(*last == cell.pen)) spans.push_back({cell.pen.style(), {}, 0});
    last = &cell.pen;
    append_char(spans.back().text, cell.ch, combined);
    spans.back().columns += columns;
  });
  // Trailing blanks of the default style draw nothing.
  while (!spans.empty() && spans.back().style == Style{}) {
    Span& span = spans.back();
    std::size_t blanks = trailing_spaces(span.text);
    span.columns -= static_cast<int>(blanks);
    span.text.resize(span.text.size() - blanks);
    if (!span.text.empty()) break;
    spans.pop_back();
  }
  return spans;
}

std::string row_text(const Row& row, const CombinedChars& combined) {
  std::string text;
  for_each_char(row, [&](const Cell& cell, int) { append_char(text, cell.ch, combined); });
  text.resize(text.size() - trailing_spaces(text));
  return text;
}

bool ends_emphasized(const Row& row) {
  for (int col = std::min(row.used, static_cast<int>(row.cells.size())); col-- > 0;) {
    const Cell& cell = row.cells[static_cast<std::size_t>(col)];
    if (cell.ch == 0 || cell.ch == U' ' || cell.ch == Cell::kWideRight) continue;
    return (cell.pen.attrs & (Pen::kReverse | Pen::kFaint)) != 0;
  }
  return false;
}

void store_row(const Row& row, const CombinedChars& combined, StoredRow& out) {
  static std::vector<StoredRow::Run> runs;  // reused: the host has one thread
  runs.clear();
  out.text.clear();
  out.text.reserve(static_cast<std::size_t>(row.used));
  out.continued = row.continued;
  const Cell* cells = row.cells.data();
  for (int col = 0; col < row.used;) {
    // One run: the cells of the pen of the first.
    const Pen& pen = cells[col].pen;
    int columns = 0;
    for (; col < row.used && cells[col].pen == pen; ++col) {
      char32_t ch = cells[col].ch;
      if (ch == Cell::kWideRight) {
        ++columns;
      } else if (ch != 0 && ch < 0x80) {
        out.text.push_back(static_cast<char>(ch));
        ++columns;
      } else {
        append_char(out.text, ch, combined);
        ++columns;
      }
    }
    runs.push_back({static_cast<std::uint32_t>(out.text.size()), static_cast<std::uint16_t>(columns), pen.style()});
  }
  trim_default_blanks(out.text, runs);
  out.columns = 0;
  for (const StoredRow::Run& run : runs) out.columns = static_cast<std::uint16_t>(out.columns + run.columns);
  if (runs.empty() || (runs.size() == 1 && runs[0].style == Style{})) {
    out.runs.reset();
  } else if (out.runs) {
    *out.runs = runs;
  } else {
    out.runs = std::make_unique<std::vector<StoredRow::Run>>(runs);
  }
}

std::string_view StoredRow::trimmed() const {
  std::string_view view(text);
  return view.substr(0, view.size() - trailing_spaces(view));
}

std::vector<Span> StoredRow::spans() const {
  std::vector<Span> spans;
  if (!runs) {
    if (!text.empty()) spans.push_back({Style{}, text, columns});
    return spans;
  }
  std::size_t begin = 0;
  for (const Run& run : *runs) {
    spans.push_back({run.style, text.substr(begin, run.end - begin), run.columns});
    begin = run.end;
  }
  return spans;
}

Grid::Grid(int rows, int cols) : rows_(static_cast<std::size_t>(rows)), cols_(cols) {
  for (Row& row : rows_) row.cells.resize(static_cast<std::size_t>(cols));
}

void Grid::clear(Row& row, const Pen& pen) const {
  bool plain = pen == Pen{};
  std::fill_n(row.cells.begin(), plain ? row.used : cols_, Cell{0, pen});
  row.used = plain ? 0 : cols_;
  row.continued = false;
}

void Grid::scroll_up(int top, int bottom, const Pen& blank) {
  if (top == 0 && bottom == rows()) {
    clear(row(0), blank);
    top_ = (top_ + 1) % rows();
    return;
  }
  Row leaving = std::move(row(top));
  for (int r = top; r + 1 < bottom; ++r) row(r) = std::move(row(r + 1));
  clear(leaving, blank);
  row(bottom - 1) = std::move(leaving);
}

void Grid::scroll_down(int top, int bottom, const Pen& blank) {
  Row leaving = std::move(row(bottom - 1));
  for (int r = bottom - 1; r > top; --r) row(r) = std::move(row(r - 1));
  clear(leaving, blank);
  row(top) = std::move(leaving);
}

void Grid::mend_start(Row& row, int col) const {
  if (col > 0 && col < cols_ && row.cells[static_cast<std::size_t>(col)].ch == Cell::kWideRight) {
    row.cells[static_cast<std::size_t>(col) - 1].ch = 0;
  }
}

void Grid::mend_end(Row& row, int col) const {
  if (col > 0 && col < cols_ && row.cells[static_cast<std::size_t>(col)].ch == Cell::kWideRight) {
    row.cells[static_cast<std::size_t>(col)].ch = 0;
  }
}

void Grid::erase(int r, int from, int to, const Pen& pen, bool selective) {
  Row& target = row(r);
  from = std::clamp(from, 0, cols_);
  to = std::clamp(to, from, cols_);
  if (from == 0 && to == cols_ && !selective) {
    clear(target, pen);
    return;
  }
  mend_start(target, from);
  mend_end(target, to);
  for (int col = from; col < to; ++col) {
    Cell& cell = target.cells[static_cast<std::size_t>(col)];
    if (!selective || !(cell.pen.attrs & Pen::kProtected)) cell = Cell{0, pen};
  }
  if (!(pen == Pen{})) {
    target.used = std::max(target.used, to);
  } else if (to >= target.used) {
    target.used = std::min(target.used, from);
  }
}

void Grid::copy(int dst_row, int dst_col, int src_row, int src_col, int count) {
  if (count <= 0) return;
  Row& src = row(src_row);
  Row& dst = row(dst_row);
  auto from = src.cells.begin() + src_col;
  auto to = dst.cells.begin() + dst_col;
  if (&src == &dst && dst_col > src_col) {
    std::copy_backward(from, from + count, to + count);
  } else {
    std::copy(from, from + count, to);
  }
  dst.used = std::max(dst.used, std::min(dst_col + count, cols_));
}

void Grid::put(int r, int col, char32_t ch, int width, const Pen& pen) {
  Row& target = row(r);
  width = std::clamp(width, 1, cols_ - col);
  mend_start(target, col);
  mend_end(target, col + width);
  target.cells[static_cast<std::size_t>(col)] = Cell{ch, pen};
  if (width > 1) target.cells[static_cast<std::size_t>(col) + 1] = Cell{Cell::kWideRight, pen};
  target.used = std::max(target.used, col + width);
}

void Grid::put_ascii(int r, int col, std::string_view text, const Pen& pen) {
  Row& target = row(r);
  int end = col + static_cast<int>(text.size());
  mend_start(target, col);
  mend_end(target, end);
  Cell* cell = target.cells.data() + col;
  Cell drawn{0, pen};
  for (char c : text) {
    drawn.ch = static_cast<unsigned char>(c);
    *cell++ = drawn;
  }
  target.used = std::max(target.used, end);
}

void Grid::resize(int rows, int cols) {
  std::rotate(rows_.begin(), rows_.begin() + top_, rows_.end());
  top_ = 0;
  rows_.resize(static_cast<std::size_t>(rows));
  for (Row& row : rows_) {
    // A double-width character cut in half at the new right edge goes.
    if (cols < static_cast<int>(row.cells.size()) && row.cells[static_cast<std::size_t>(cols)].ch == Cell::kWideRight) {
      row.cells[static_cast<std::size_t>(cols) - 1].ch = 0;
    }
    row.cells.resize(static_cast<std::size_t>(cols));
    row.used = std::min(row.used, cols);
  }
  cols_ = cols;
}

void Scrollback::push(const Row& row, const CombinedChars& combined) {
  ++end_;
  if (limit_ == 0) return;
  StoredRow stored;
  if (rows_.size() >= limit_) {
    stored = std::move(rows_.front());  // its memory is reused
    rows_.pop_front();
  }
  store_row(row, combined, stored);
  rows_.push_back(std::move(stored));
}

}  // namespace host
