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
  /// The program draws on the alternate screen, as full-screen programs do;
  /// nothing scrolls into the scrollback from there.
  bool alternate = false;
};

/// The text of the cursor's row in `screen`, empty when it is not in `rows`.
std::string_view cursor_line(const ScreenText& screen);

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

  /// Most scrollback lines kept.
  static constexpr std::size_t kScrollbackLimit = 5000;

 private:
  /// libvterm's callbacks into this class.
  friend struct ScreenCallbacks;
  void push_line(std::string line);
  void set_alternate(bool on) { alternate_ = on; }
  std::string row_text(int row) const;

  struct VTermFree {
    void operator()(VTerm* vt) const;
  };
  std::unique_ptr<VTerm, VTermFree> vt_;
  VTermScreen* screen_ = nullptr;
  int rows_, cols_;
  ReplyFn reply_;
  std::deque<std::string> scrollback_;
  std::uint64_t scrolled_ = 0;
  bool alternate_ = false;
};

}  // namespace host
