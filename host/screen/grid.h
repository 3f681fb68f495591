#pragma once
// The cells of a terminal's screen, and the rows that scrolled off it.
//
// The visible screen is a ring of rows: a scroll of the whole screen moves
// the ring's start and clears one row, so a line feed costs the same on a
// screen of any size. A row that leaves the top is stored at once in the
// form its readers want (its text in UTF-8 and its runs of one style), so
// the scrollback is read without going back to cells.

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace host {

/// A colour as the program chose it: the terminal's default, an entry of
/// the 256-colour palette, or 24-bit RGB.
struct Color {
  enum class Kind : std::uint8_t { kDefault, kIndexed, kRgb };
  Kind kind = Kind::kDefault;
  std::uint8_t index = 0;
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Color&) const = default;
};

/// How a cell is drawn.
struct Style {
  Color fg, bg;
  bool bold = false, italic = false, underline = false, blink = false, reverse = false, strike = false, dim = false;
  bool operator==(const Style&) const = default;
};

/// A run of cells of one style in a row: their characters (UTF-8; a blank
/// cell is a space) and how many columns they take.
struct Span {
  Style style;
  std::string text;
  int columns = 0;
};

/// A style packed for cells, with the protection of the cell (selective
/// erase leaves protected cells alone).
struct Pen {
  enum : std::uint8_t {
    kBold = 1,
    kItalic = 2,
    kUnderline = 4,
    kBlink = 8,
    kReverse = 16,
    kStrike = 32,
    kProtected = 64,
    kFaint = 128
  };
  Color fg, bg;
  std::uint8_t attrs = 0;
  /// All of it at once: storing a row compares the pens of its cells, and
  /// member by member that was a sixth of the host's time under a flood.
  bool operator==(const Pen& other) const { return std::memcmp(this, &other, sizeof(Pen)) == 0; }
  Style style() const;
};
static_assert(std::has_unique_object_representations_v<Pen>, "a pen is compared by its bytes");

/// One cell. `ch` is a code point, 0 for a blank, kWideRight for the right
/// half of a double-width character, or kCombined plus the index of a
/// character with its combining marks (CombinedChars).
struct Cell {
  static constexpr char32_t kWideRight = 0xFFFFFFFF;
  static constexpr char32_t kCombined = 0x80000000;
  char32_t ch = 0;
  Pen pen;
};

/// Characters with combining marks, kept once each as UTF-8. Bounded: past
/// the limit a new combination keeps its base character only.
class CombinedChars {
 public:
  static constexpr std::size_t kLimit = 4096;
  /// The cell value of `chars` (a base and its marks); the base alone when full.
  char32_t intern(const std::uint32_t* chars, int count);
  std::string_view utf8(char32_t cell) const { return texts_[cell & ~Cell::kCombined]; }

 private:
  std::vector<std::string> texts_;
  std::unordered_map<std::string, char32_t> index_;
};

struct Row {
  std::vector<Cell> cells;
  /// Cells from here on are blanks of the default pen.
  int used = 0;
  /// The terminal wrapped the row above into this one at its right margin.
  bool continued = false;
};

/// A row as the scrollback keeps it.
struct StoredRow {
  /// Where a run of one style ends in `text`, and its columns.
  struct Run {
    std::uint32_t end = 0;
    std::uint16_t columns = 0;
    Style style;
  };
  /// The characters up to the last that draws something (trailing blanks
  /// of the default style left out).
  std::string text;
  /// Null when the whole text is in the default style (most rows: they
  /// cost no allocation of their own).
  std::unique_ptr<std::vector<Run>> runs;
  std::uint16_t columns = 0;
  bool continued = false;

  /// The text without trailing blanks of any style.
  std::string_view trimmed() const;
  std::vector<Span> spans() const;
};

/// A row's cells read out: as runs of one style (trailing blanks of the
/// default style left out), as trimmed text, or as a stored row.
std::vector<Span> row_spans(const Row& row, const CombinedChars& combined);
std::string row_text(const Row& row, const CombinedChars& combined);
void store_row(const Row& row, const CombinedChars& combined, StoredRow& out);
/// True when the last cell of `row` that is not blank is drawn in reverse
/// video or faint.
bool ends_emphasized(const Row& row);

/// The visible screen: `rows` rows of `cols` cells, row 0 at the top.
class Grid {
 public:
  Grid(int rows, int cols);

  int rows() const { return static_cast<int>(rows_.size()); }
  int cols() const { return cols_; }
  Row& row(int i) { return rows_[index(i)]; }
  const Row& row(int i) const { return rows_[index(i)]; }

  /// Moves rows [top, bottom) up by one: the top one leaves (the caller has
  /// read it) and comes back at the bottom as blanks of `blank`.
  void scroll_up(int top, int bottom, const Pen& blank);
  /// Moves rows [top, bottom) down by one, blanks coming in at the top.
  void scroll_down(int top, int bottom, const Pen& blank);
  /// Blanks cells [from, to) of row `r` in `pen`; with `selective`,
  /// protected cells stay.
  void erase(int r, int from, int to, const Pen& pen, bool selective = false);
  /// Copies `count` cells from (src_row, src_col) to (dst_row, dst_col).
  void copy(int dst_row, int dst_col, int src_row, int src_col, int count);
  /// Puts a character of `width` columns at (r, col); a double-width
  /// character it overwrites half of loses its other half.
  void put(int r, int col, char32_t ch, int width, const Pen& pen);
  /// Puts printable ASCII at (r, col) in one pen.
  void put_ascii(int r, int col, std::string_view text, const Pen& pen);
  /// Changes the size; rows and columns are cut or added at the bottom
  /// and the right.
  void resize(int rows, int cols);

 private:
  std::size_t index(int i) const { return static_cast<std::size_t>((top_ + i) % rows()); }
  void clear(Row& row, const Pen& pen) const;
  /// Before cells from `col` on are overwritten: a double-width character
  /// whose right half is at `col` loses its left half.
  void mend_start(Row& row, int col) const;
  /// Before cells up to `col` are overwritten: the right half of a
  /// double-width character at `col` goes with its left.
  void mend_end(Row& row, int col) const;

  std::vector<Row> rows_;
  int cols_;
  int top_ = 0;
};

/// The rows that scrolled off, oldest first, bounded; each keeps its
/// absolute number (the n-th row that ever scrolled off is row n).
class Scrollback {
 public:
  explicit Scrollback(std::size_t limit) : limit_(limit) {}
  /// Stores `row` as the newest.
  void push(const Row& row, const CombinedChars& combined);
  std::uint64_t end() const { return end_; }
  std::uint64_t first() const { return end_ - rows_.size(); }
  std::size_t size() const { return rows_.size(); }
  /// Row `n` by absolute number; it must be kept (first() <= n < end()).
  const StoredRow& at(std::uint64_t n) const { return rows_[static_cast<std::size_t>(n - first())]; }

 private:
  std::size_t limit_;
  std::deque<StoredRow> rows_;
  std::uint64_t end_ = 0;
};

}  // namespace host
