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

#include "turn.h"

struct VTerm;
struct VTermScreen;

namespace host {

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

  /// How many lines have scrolled off so far; a mark for text_since().
  std::uint64_t lines_scrolled() const { return scrolled_; }

  /// The scrollback lines that scrolled off after `mark` (as far as they
  /// are still kept) and the visible rows, shaped like text().
  std::string text_since(std::uint64_t mark) const;

  /// The kept scrollback from absolute row `from_row` on (every kept row
  /// when it has scrolled out already) and the whole visible screen, with
  /// the cursor's row: what a turn's output is cut from. Rows are
  /// right-trimmed; their text is not yet checked for valid UTF-8.
  ScreenText snapshot(std::uint64_t from_row) const;

  /// Changes the size, as the program's terminal window changes.
  void resize(int rows, int cols);

  /// Most scrollback lines kept.
  static constexpr std::size_t kScrollbackLimit = 5000;

 private:
  /// libvterm's callbacks into this class.
  friend struct ScreenCallbacks;
  void push_line(std::string line);
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
};

}  // namespace host
