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

#include "terminals/keys.h"
#include "terminals/output_filter.h"

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
  /// The program draws on the alternate screen, as full-screen programs do;
  /// nothing scrolls into the scrollback from there.
  bool alternate = false;
};

/// The text of the cursor's row in `screen`, empty when it is not in `rows`.
std::string_view cursor_line(const ScreenText& screen);

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
  bool bold = false, italic = false, underline = false, blink = false, reverse = false, strike = false;
  bool operator==(const Style&) const = default;
};

/// A run of cells of one style in a row: their characters (UTF-8; a blank
/// cell is a space) and how many columns they take.
struct Span {
  Style style;
  std::string text;
  int columns = 0;
};

/// Where the cursor is on the visible screen (0-based) and whether the
/// program shows it.
struct Cursor {
  int row = 0, col = 0;
  bool visible = true;
};

class Screen {
 public:
  /// Receives the bytes the terminal sends back to the program.
  using ReplyFn = std::function<void(std::string_view)>;

  Screen(int rows, int cols, ReplyFn reply);
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  /// Runs the program's output through the emulation, after the filter
  /// (output_filter.h) has made it safe.
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

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  /// Visible row `row` as runs of one style each; trailing blank cells of
  /// the default style are left out.
  std::vector<Span> styled_row(int row) const;
  Cursor cursor() const;
  /// True while the program shows its alternate screen.
  bool alternate() const { return alternate_; }
  /// Escape sequences that put another terminal in the input modes the
  /// program has set here (cursor keys, keypad, bracketed paste, mouse), so
  /// that the keys typed there reach the program as it expects them.
  std::string input_modes();

  /// Sends `key` to the program as this terminal encodes it in its current
  /// modes (through the reply function).
  void press(const KeyPress& key);
  /// Sends `text` as a paste: bracketed when the program asked for that,
  /// with line breaks as carriage returns, as a terminal pastes.
  void paste(std::string_view text);

  /// Damage tracking. Every change of the visible screen (cells, size,
  /// the cursor) has a number, counting up; each row keeps the number of
  /// the last change that touched it. A reader that has drawn the screen
  /// as of change N redraws the rows changed after N.
  std::uint64_t change() const { return change_; }
  /// The last change of visible row `row`.
  std::uint64_t row_change(int row) const { return row_changes_[static_cast<std::size_t>(row)]; }
  /// The last change of the cursor (its place or its visibility).
  std::uint64_t cursor_change() const { return cursor_change_; }
  /// The last change of the size; every row changed with it.
  std::uint64_t size_change() const { return size_change_; }

  /// Changes the size, as the program's terminal window changes.
  void resize(int rows, int cols);

  /// Most scrollback lines kept.
  static constexpr std::size_t kScrollbackLimit = 5000;
  /// The narrowest screen: a double-width character must fit on a row.
  static constexpr int kMinColumns = 2;

 private:
  /// libvterm's callbacks into this class.
  friend struct ScreenCallbacks;
  void push_line(std::string line);
  void set_property(int prop, int value);
  void damage(int from_row, int to_row);
  void cursor_moved() { cursor_change_ = ++change_; }
  std::string row_text(int row) const;
  /// What the terminal sends the program for `send`, captured instead.
  template <class Fn>
  std::string captured(Fn send);

  struct VTermFree {
    void operator()(VTerm* vt) const;
  };
  std::unique_ptr<VTerm, VTermFree> vt_;
  VTermScreen* screen_ = nullptr;
  int rows_, cols_;
  ReplyFn reply_;
  OutputFilter filter_;
  /// The filter's output for one feed, kept for its capacity.
  std::string filtered_;
  std::deque<std::string> scrollback_;
  std::uint64_t scrolled_ = 0;
  bool alternate_ = false;
  bool cursor_visible_ = true;
  int mouse_ = 0;
  /// Set while captured() runs: replies go here instead.
  std::string* capture_ = nullptr;
  std::uint64_t change_ = 1;
  std::vector<std::uint64_t> row_changes_;
  std::uint64_t cursor_change_ = 1;
  std::uint64_t size_change_ = 1;
};

}  // namespace host
