#pragma once
// What a terminal shows: libvterm's emulation of the screen, with the
// alternate screen on, plus the scrollback kept here from the lines that
// scroll off the top. Answers to terminal queries (cursor position, device
// attributes) go back to the program through the reply function.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace host {

/// A terminal's text at one instant. Rows have absolute numbers: row n is the
/// n-th row the terminal has shown, and keeps its number when it scrolls off
/// the top of the screen (scrolling adds to the numbers, it never reuses them).
struct ScreenText {
  /// Absolute number of `rows[0]`.
  std::uint64_t first_row = 0;
  /// The kept scrollback, oldest first, then the visible screen; UTF-8.
  std::vector<std::string> rows;
  /// How many of `rows`, at the end, are the visible screen.
  std::size_t screen_rows = 0;
  /// Absolute number of the row the cursor is on.
  std::uint64_t cursor_row = 0;
};

/// The text of the cursor's row in `screen`, empty when it is not in `rows`.
std::string_view cursor_line(const ScreenText& screen);

/// A cell's colour: the terminal's default, one of the 256 of the palette,
/// or a direct RGB colour.
struct CellColor {
  enum class Kind : std::uint8_t { kDefault, kIndexed, kRgb };
  Kind kind = Kind::kDefault;
  /// The palette index, for kIndexed.
  std::uint8_t index = 0;
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const CellColor&) const = default;
};

/// How a cell is drawn.
struct CellStyle {
  CellColor fg, bg;
  bool bold = false, underline = false, italic = false, blink = false, reverse = false, strike = false;
  bool operator==(const CellStyle&) const = default;
};

/// Adjacent cells of one row in one style, as UTF-8 text.
struct StyledRun {
  std::string text;
  CellStyle style;
};

struct Cursor {
  int row = 0, col = 0;
  bool visible = true;
};

/// Keys that are not characters, as a keyboard has them.
enum class Key {
  kEnter,
  kTab,
  kBackspace,
  kEscape,
  kUp,
  kDown,
  kLeft,
  kRight,
  kInsert,
  kDelete,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kF1,
  kF2,
  kF3,
  kF4,
  kF5,
  kF6,
  kF7,
  kF8,
  kF9,
  kF10,
  kF11,
  kF12,
};

/// Modifier keys held with a key.
struct KeyMods {
  bool shift = false, alt = false, ctrl = false;
};

class Screen {
 public:
  /// Receives the bytes the terminal sends back to the program.
  using ReplyFn = std::function<void(std::string_view)>;

  Screen(int rows, int cols, ReplyFn reply);
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  /// Runs the program's output through the emulation.
  void feed(std::string_view bytes);

  /// The last `history` scrollback lines and the visible rows, each without
  /// trailing blanks, joined by line feeds, with trailing empty lines
  /// dropped. Always valid UTF-8.
  std::string text(std::size_t history) const;

  /// The kept scrollback from absolute row `from_row` on (every kept row
  /// when it has scrolled out already) and the whole visible screen, with
  /// the cursor's row: what a turn's output is cut from. Rows are
  /// right-trimmed; their text is not yet checked for valid UTF-8.
  ScreenText snapshot(std::uint64_t from_row) const;

  /// How many lines have scrolled off the top so far.
  std::uint64_t lines_scrolled() const { return scrolled_; }

  /// Changes the size, as the program's terminal window changes.
  void resize(int rows, int cols);
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  /// Visible row `row` (from 0) as runs of one style each, without the
  /// blank cells of the default style at its end. Valid UTF-8.
  std::vector<StyledRun> styled_row(int row) const;
  Cursor cursor() const { return cursor_; }

  /// Damage tracking. Every change of the visible screen (cells, size,
  /// the cursor) has a number, counting up; each row keeps the number of
  /// the last change that touched it. A reader that has drawn the screen
  /// as of change N redraws the rows changed since N.
  std::uint64_t change() const { return change_; }
  /// The last change of row `row`.
  std::uint64_t row_change(int row) const { return row_changes_[static_cast<std::size_t>(row)]; }
  /// The last change of the cursor (its place or its visibility).
  std::uint64_t cursor_change() const { return cursor_change_; }
  /// The last change of the size; every row has changed with it.
  std::uint64_t size_change() const { return size_change_; }

  /// Sends the bytes of a key, as the program's modes want them (cursor
  /// keys in application mode, say), through the reply function.
  void key(Key key, KeyMods mods);
  /// Sends character `c` typed with `mods` (Ctrl-C is 'c' with ctrl).
  void character(char32_t c, KeyMods mods);
  /// Sends `text` as a paste: bracketed when the program asked for that,
  /// with line feeds as carriage returns, as a terminal pastes.
  void paste(std::string_view text);

  /// Most scrollback lines kept.
  static constexpr std::size_t kScrollbackLimit = 5000;

 private:
  /// libvterm's callbacks into this class.
  friend struct ScreenCallbacks;
  void push_line(std::string line);
  std::string row_text(int row) const;
  void damage(int from_row, int to_row);

  struct VTermFree {
    void operator()(VTerm* vt) const;
  };
  std::unique_ptr<VTerm, VTermFree> vt_;
  VTermScreen* screen_ = nullptr;
  int rows_, cols_;
  ReplyFn reply_;
  std::deque<std::string> scrollback_;
  std::uint64_t scrolled_ = 0;
  Cursor cursor_;
  std::uint64_t change_ = 1;
  std::vector<std::uint64_t> row_changes_;
  std::uint64_t cursor_change_ = 1;
  std::uint64_t size_change_ = 1;
};

}  // namespace host
