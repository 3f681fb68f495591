#include "screen/live_region.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "utf8.h"

namespace host {
namespace {

/// The rows a parked cursor's block may have: an input box, a footer.
constexpr std::size_t kLongestBlock = 8;
/// How far from the bottom a menu may stand.
constexpr std::size_t kMenuRows = 12;

bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

bool is_ascii_letter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }

/// The symbols spinners are drawn with: none is a letter or a digit.
bool is_glyph(char32_t c) {
  if (c < 0x80) return c == U'|' || c == U'/' || c == U'-' || c == U'\\' || c == U'*' || c == U'+';
  return c == 0xB7 || c == 0x2022 || (c >= 0x2190 && c <= 0x23FF) || (c >= 0x2500 && c <= 0x27BF) ||
         (c >= 0x2800 && c <= 0x28FF) || (c >= 0x2B00 && c <= 0x2BFF) || (c >= 0x1F300 && c <= 0x1FAFF);
}

/// A letter of a word: ASCII, or beyond Latin-1's symbols and not a glyph
/// or general punctuation ("…").
bool is_word_char(char32_t c) {
  return is_ascii_letter(c) || (c >= 0xC0 && !is_glyph(c) && !(c >= 0x2000 && c <= 0x206F));
}

std::vector<char32_t> code_points(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) out.push_back(utf8::next_code_point(s, i));
  return out;
}

std::string_view rtrim(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool blank(std::string_view s) { return rtrim(s).empty(); }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

/// The item number of a menu row ("❯ 1. Yes", "  2) No", "│ > 3. Skip │"),
/// 0 when it is none; `pointed` tells whether a pointer marks it.
int menu_item(std::string_view row, bool& pointed) {
  std::vector<char32_t> c = code_points(row);
  std::size_t i = 0;
  auto skip_frame = [&] {
    while (i < c.size() && (c[i] == U' ' || (c[i] >= 0x2500 && c[i] <= 0x257F))) ++i;
  };
  skip_frame();
  pointed = i < c.size() &&
            (c[i] == U'>' || c[i] == U'*' || c[i] == 0xBB || c[i] == 0x203A || (c[i] > 0x7F && is_glyph(c[i])));
  if (pointed) ++i;
  skip_frame();
  int number = 0;
  std::size_t digits = 0;
  for (; i < c.size() && is_digit(c[i]) && digits < 3; ++i, ++digits)
    number = number * 10 + static_cast<int>(c[i] - U'0');
  if (digits == 0 || i + 2 >= c.size() || (c[i] != U'.' && c[i] != U')') || c[i + 1] != U' ') return 0;
  return c[i + 2] == U' ' ? 0 : number;
}

}  // namespace

namespace {

/// A row's characters, each run of digits and each run of spaces as one.
struct Unit {
  char32_t c;  ///< U'0' for a run of digits, U' ' for a run of spaces
  char32_t raw;
  bool operator==(const Unit&) const = default;
};

std::vector<Unit> units_of(std::string_view row) {
  std::vector<Unit> units;
  for (std::size_t i = 0; i < row.size();) {
    char32_t c = utf8::next_code_point(row, i);
    char32_t kind = is_digit(c) ? U'0' : c == U' ' ? U' ' : c;
    if (kind == U'0' || kind == U' ') {
      if (units.empty() || units.back().c != kind) units.push_back({kind, kind});
      continue;
    }
    units.push_back({is_glyph(c) ? U'*' : c, c});
  }
  while (!units.empty() && units.back().c == U' ') units.pop_back();
  return units;
}

}  // namespace

std::string row_shape(std::string_view row) {
  std::string out;
  for (const Unit& u : units_of(row)) utf8::append_utf8(out, u.c);
  return out;
}

bool offers_interrupt(std::string_view row) { return lowered(row).find("to interrupt") != std::string::npos; }

bool spinner_frames(std::string_view before, std::string_view after) {
  if (before == after) return false;
  std::vector<Unit> a = units_of(before), b = units_of(after);
  if (a.size() != b.size()) return false;
  std::size_t changed = 0;
  bool word = false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].c != b[i].c) return false;  // another shape
    word = word || is_word_char(a[i].raw);
    if (a[i].raw != b[i].raw) ++changed;  // two glyphs
  }
  return word && changed >= 1 && changed <= 2;
}

void WorkSigns::observe(const std::vector<std::string>& rows) {
  std::vector<std::string> last_shapes;
  for (const std::string& row : rows) {
    if (blank(row) || std::find(last_.begin(), last_.end(), row) != last_.end()) continue;
    if (last_shapes.empty()) std::transform(last_.begin(), last_.end(), std::back_inserter(last_shapes), row_shape);
    std::string shape = row_shape(row);
    bool animates = false;
    for (std::size_t i = 0; i < last_.size() && !animates; ++i) {
      animates = last_shapes[i] == shape && spinner_frames(last_[i], row);
    }
    if (!animates) continue;
    auto known = std::find(shapes_.begin(), shapes_.end(), shape);
    if (known != shapes_.end()) shapes_.erase(known);
    shapes_.push_back(std::move(shape));
    if (shapes_.size() > kKept) shapes_.erase(shapes_.begin());
  }
  last_ = rows;
}

bool WorkSigns::is_sign(std::string_view row) const {
  if (blank(row)) return false;
  if (offers_interrupt(row)) return true;
  return !shapes_.empty() && std::find(shapes_.begin(), shapes_.end(), row_shape(row)) != shapes_.end();
}

bool WorkSigns::shown(const std::vector<std::string>& rows) const {
  return std::any_of(rows.begin(), rows.end(), [this](const std::string& row) { return is_sign(row); });
}

std::vector<std::string> visible_rows(const ScreenText& screen) {
  std::size_t from = screen.rows.size() - std::min(screen.screen_rows, screen.rows.size());
  return {screen.rows.begin() + static_cast<std::ptrdiff_t>(from), screen.rows.end()};
}

namespace {

/// input_chrome's rows among the visible `rows`, and how far below them a
/// parked cursor is. A visible cursor below all text is a line program's
/// at its (empty) prompt, not parked.
RowRange chrome_rows(const std::vector<std::string>& rows, std::size_t cursor, bool hidden, std::size_t& parked_below) {
  std::size_t last = rows.size();
  while (last > 0 && blank(rows[last - 1])) --last;
  parked_below = 0;
  if (cursor < last) return {cursor, last};
  if (!hidden) return {cursor, cursor + 1};
  // Parked below everything: the block of rows just above.
  std::size_t from = last;
  while (from > 0 && !blank(rows[from - 1]) && last - from < kLongestBlock) --from;
  if (from == last) return {cursor, cursor + 1};
  parked_below = cursor - last + 1;
  return {from, last};
}

/// The cursor's index among the visible rows, or none.
std::optional<std::size_t> visible_cursor(const ScreenText& screen, std::size_t visible) {
  std::uint64_t top = screen.first_row + screen.rows.size() - visible;
  if (screen.cursor_row < top || screen.cursor_row - top >= visible) return std::nullopt;
  return static_cast<std::size_t>(screen.cursor_row - top);
}

}  // namespace

InputChrome input_chrome(const ScreenText& screen) {
  std::vector<std::string> rows = visible_rows(screen);
  InputChrome chrome;
  chrome.column = screen.cursor_col;
  std::optional<std::size_t> cursor = visible_cursor(screen, rows.size());
  if (!cursor) return chrome;
  RowRange range = chrome_rows(rows, *cursor, !screen.cursor_visible, chrome.parked_below);
  for (std::size_t i = range.first; i < range.last; ++i) chrome.rows.push_back(row_shape(rows[i]));
  return chrome;
}

RowRange input_chrome_rows(const ScreenText& screen) {
  std::vector<std::string> rows = visible_rows(screen);
  std::optional<std::size_t> cursor = visible_cursor(screen, rows.size());
  if (!cursor) return {};
  std::size_t parked = 0;
  RowRange range = chrome_rows(rows, *cursor, !screen.cursor_visible, parked);
  std::size_t offset = screen.rows.size() - rows.size();
  return {range.first + offset, range.last + offset};
}

bool shows_menu(const ScreenText& screen) {
  std::vector<std::string> rows = visible_rows(screen);
  std::size_t last = rows.size();
  while (last > 0 && blank(rows[last - 1])) --last;
  std::size_t from = last > kMenuRows ? last - kMenuRows : 0;
  int next = 1, pointers = 0;
  for (std::size_t i = from; i < last; ++i) {
    bool pointed = false;
    int item = menu_item(rows[i], pointed);
    if (item == 0) continue;
    if (item == 1) {
      next = 1;
      pointers = 0;
    }
    if (item != next) continue;
    ++next;
    pointers += pointed ? 1 : 0;
  }
  return next > 2 && pointers == 1;
}

}  // namespace host
