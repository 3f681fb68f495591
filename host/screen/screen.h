#pragma once
// What a terminal shows. libvterm parses the program's output and keeps the
// terminal's state (cursor, modes, pen, scrolling region); its state layer
// draws into cells kept here (grid.h), where a scroll costs the
// same whatever the size of the screen and the rows that scroll off are
// kept in the form their readers want. Plain printable text skips libvterm's
// path for each character (plain_text.h). libvterm 0.1.4 keeps no
// faint (dim) in its pen: the output filter notes where an SGR turns it on
// or off, and the screen's own pen follows from there. Answers to terminal
// queries (cursor position, device attributes) go back to the program
// through the reply function.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "screen/grid.h"
#include "screen/keys.h"
#include "screen/output_filter.h"
#include "screen/plain_text.h"

struct VTerm;
struct VTermState;

namespace host {

/// What a shell says of its prompts with the OSC 133 marks (A: a prompt
/// starts, B: it ends and input starts, C: a command starts, D: it is done,
/// with its exit status), where it emits them. Only marks that carry the
/// terminal's mark key count (set_mark_key): those of a shell the host's
/// own bootstrap set up, not marks a program prints from a file.
struct PromptMarks {
  /// Prompts marked as drawn (B) so far.
  std::uint64_t prompts = 0;
  /// The last mark was a prompt's: the shell waits at it.
  bool at_prompt = false;
  /// Absolute row where the last marked prompt started (A).
  std::uint64_t prompt_row = 0;
  /// The exit status of the last command marked done, -1 when not given.
  int status = -1;
};

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
  /// For each of `rows`: the terminal wrapped the row before it (which may
  /// be before `rows[0]`) into it at its right margin.
  std::vector<bool> continued;
  /// For each of `rows`: its last character is drawn in reverse video or
  /// faint, as zsh and fish draw their sign of output without a final line
  /// feed ("%", "#", "⏎"). Known for the visible rows only.
  std::vector<bool> emphasized_end{};
  PromptMarks marks{};
  /// The cursor's column, and whether the program shows it.
  int cursor_col = 0;
  bool cursor_visible = true;
};

/// The text of the cursor's row in `screen`, empty when it is not in `rows`.
std::string_view cursor_line(const ScreenText& screen);

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
  /// The key a prompt mark must carry to count (OutputFilter::set_mark_key);
  /// without one, none counts.
  void set_mark_key(std::string key) { filter_.set_mark_key(std::move(key)); }

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
  std::uint64_t lines_scrolled() const { return scrollback_.end(); }
  /// Absolute number of the oldest scrollback row still kept.
  std::uint64_t first_kept_row() const { return scrollback_.first(); }
  /// Kept scrollback row `row` (absolute number) as styled_row gives a
  /// visible one; empty when it is not kept.
  std::vector<Span> history_row(std::uint64_t row) const;
  /// True when the terminal wrapped the row before kept scrollback row
  /// `row` into it (false when it is not kept).
  bool history_continued(std::uint64_t row) const;
  /// True when the terminal wrapped the row above visible row `row` into it.
  bool row_continued(int row) const { return grid().row(row).continued; }

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  /// Visible row `row` as runs of one style each; trailing blank cells of
  /// the default style are left out.
  std::vector<Span> styled_row(int row) const;
  Cursor cursor() const;
  /// True while the program shows its alternate screen.
  bool alternate() const { return alternate_grid_ != nullptr; }
  /// Escape sequences that put another terminal in the input modes the
  /// program has set here (cursor keys, keypad, bracketed paste, mouse), so
  /// that the keys typed there reach the program as it expects them.
  std::string input_modes();

  /// Sends `key` to the program as this terminal encodes it in its current
  /// modes (through the reply function).
  void press(const KeyPress& key);
  /// Sends `text` as a paste: bracketed when the program asked for that,
  /// with line breaks as carriage returns, as a terminal pastes, and
  /// without ESC and the C1 controls, so that no text ends the brackets
  /// early or types keys.
  void paste(std::string_view text);
  /// How the program asked to be told of the mouse (DECSET 1000, 1002,
  /// 1003): 0 not at all, 1 presses and releases, 2 drags too, 3 every move.
  int mouse_mode() const { return mouse_; }
  /// Tells the program of the mouse at visible cell (row, col), 0-based, as
  /// this terminal encodes it in the program's mouse modes (through the
  /// reply function): `button` 1 to 3 pressed or released, 4 and 5 the
  /// wheel up and down, 0 a move alone. Nothing when the program does not
  /// read the mouse.
  void mouse(int row, int col, int button, bool pressed, unsigned modifiers);

  /// Damage tracking. Every change of the visible screen (cells, size,
  /// the cursor, how the program reads the mouse) has a number, counting
  /// up; each row keeps the number of the last change that touched it. A
  /// reader that has drawn the screen as of change N redraws the rows
  /// changed after N.
  std::uint64_t change() const { return change_; }
  /// The last change of visible row `row`.
  std::uint64_t row_change(int row) const {
    return std::max(row_changes_[static_cast<std::size_t>(row)], screen_scroll_change_);
  }
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

  // What libvterm's state layer does to the screen.
  void put_glyph(const std::uint32_t* chars, int width, bool protect, int row, int col);
  void cursor_moved(int row, int col);
  bool scroll_rows(int top, int bottom, int downward);
  void move_cells(int dst_row, int dst_col, int src_row, int src_col, int rows, int cols);
  void erase(int top, int bottom, int left, int right, bool selective);
  void set_property(int prop, int value);
  void state_resized(int rows, int cols, int& row_delta);
  void double_width(int row, bool on);

  // The output path: libvterm's parser finds the text, the plain part is
  // written here and the rest goes to the emulator.
  std::size_t scanned_text(const char* bytes, std::size_t len);
  /// Writes the plain run [p, end) as far as it goes on; returns where the
  /// rest, left to libvterm, starts.
  const char* write_plain(const char* p, const char* end);
  /// Sends the output up to `end` that libvterm has not seen yet.
  void forward(const char* end);
  /// Sets the scrolling margins to the whole screen, the cursor staying.
  void reset_margins();
  /// Acts on a sequence the filter marked, once libvterm has taken it.
  void marked(const OutputFilter::Mark& mark);
  /// Moves a cursor restored outside the screen (saved before it shrank)
  /// back onto it.
  void keep_cursor_on_screen();

  void damage(int from_row, int to_row);
  Grid& grid() { return alternate_grid_ ? *alternate_grid_ : primary_; }
  const Grid& grid() const { return alternate_grid_ ? *alternate_grid_ : primary_; }
  VTermState* state() const;
  /// What the terminal sends the program for `send`, captured instead.
  template <class Fn>
  std::string captured(Fn send);

  struct VTermFree {
    void operator()(VTerm* vt) const;
  };
  /// The terminal: parser, state and keyboard.
  std::unique_ptr<VTerm, VTermFree> vt_;
  /// libvterm's parser alone, run ahead of the terminal's over the same
  /// bytes to find the runs of text.
  std::unique_ptr<VTerm, VTermFree> scanner_;
  int rows_, cols_;
  ReplyFn reply_;
  OutputFilter filter_;
  /// The filter's output for one feed, kept for its capacity.
  std::string filtered_;
  CombinedChars combined_;
  Grid primary_;
  /// While the program shows the alternate screen.
  std::unique_ptr<Grid> alternate_grid_;
  Scrollback scrollback_{kScrollbackLimit};
  Pen pen_;
  PlainText plain_;
  PromptMarks marks_;
  /// Bytes of the output being fed that the emulator has not seen yet.
  const char* unsent_ = nullptr;
  /// Where the last character went, and where that left the cursor: a
  /// character at the start of the next row with no other cursor move in
  /// between is the terminal wrapping the row.
  int glyph_row_ = -1;
  int after_glyph_row_ = -1, after_glyph_col_ = -1;
  bool cursor_visible_ = true;
  int mouse_ = 0;
  /// Set while captured() runs: replies go here instead.
  std::string* capture_ = nullptr;
  std::uint64_t change_ = 1;
  std::vector<std::uint64_t> row_changes_;
  /// The last scroll of the whole screen, which changed every row.
  std::uint64_t screen_scroll_change_ = 0;
  std::uint64_t cursor_change_ = 1;
  std::uint64_t size_change_ = 1;
};

}  // namespace host
