#pragma once
// What the screen of an AI agent's terminal UI says of its work. Such a
// program keeps its input box on the screen the whole time and redraws a
// live region around it several times a second: a spinner with a running
// timer and "esc to interrupt" while it works, a footer of its own, a
// question or a numbered menu when it asks permission. Its process waits on
// the terminal with a timeout between frames whether it works or not (a
// poll of 100 ms, or an event loop with timers pending), so the kernel
// cannot tell its work from its rest; its screen can:
//
//  - A sign of work is a row that animates in place: the same row again
//    but for its digits (a timer, a token count) and one or two spinner
//    glyphs (braille, stars, dots, arrows: symbols that are no letters),
//    with a word in it and a spinner glyph changed, or a row that offers an
//    interrupt ("esc to interrupt"), which agents show only while they work.
//    WorkSigns learns the animated rows from looks at the screen a frame or
//    more apart, and then knows them again when they stand still (an agent
//    that streams its answer may pause for most of a second).
//  - Its idle look is the rows from its input line down (the input box's
//    lower edge, the footer), or, with the cursor hidden and parked below
//    everything, the block of rows just above the cursor, compared by their
//    shape (digits do not count: a footer shows the turn's number).
//  - A numbered menu near the bottom with one item picked ("❯ 1. Yes") asks
//    for a choice.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "screen/screen.h"

namespace host {

/// `row` with every run of digits as "0", every run of spaces as one space
/// and every spinner glyph as "*", without trailing spaces: two frames of
/// one animation have the same shape, and so have a footer that counts
/// turns and the same footer, right-aligned, a turn later.
std::string row_shape(std::string_view row);

/// True when `row` offers to interrupt the work ("esc to interrupt",
/// "ctrl+c to interrupt"), as agents do while they work.
bool offers_interrupt(std::string_view row);

/// True when `after` is a later frame of `before`, which animates as a
/// spinner does: the same shape, another text, a letter in it, and at
/// most two glyphs changed that are spinner glyphs. A timer alone (a clock,
/// a monitor's uptime) is no spinner.
bool spinner_frames(std::string_view before, std::string_view after);

/// The signs of work one terminal has shown, learned from looks at its
/// screen. Bounded: the oldest sign goes first.
class WorkSigns {
 public:
  /// Compares the visible rows `rows` with those of the look before and
  /// learns the rows that animate.
  void observe(const std::vector<std::string>& rows);
  /// True when `row` is a sign of work: one that offers an interrupt, or
  /// of the shape of a row that animated.
  bool is_sign(std::string_view row) const;
  /// True when one of `rows` is a sign of work.
  bool shown(const std::vector<std::string>& rows) const;

  static constexpr std::size_t kKept = 16;

 private:
  std::vector<std::string> last_;
  std::vector<std::string> shapes_;
};

/// The visible rows of `screen` (the last `screen_rows` of its rows).
std::vector<std::string> visible_rows(const ScreenText& screen);

/// The rows around a program's input that stay the same while it is idle,
/// by their shape (row_shape), and where the cursor is among them.
struct InputChrome {
  /// From the cursor's row down to the last row with text; or, when the
  /// program hid the cursor and parked it below all text, the rows of the
  /// block above it.
  std::vector<std::string> rows;
  /// The cursor's column, and how far below the block a parked cursor is
  /// (0 when it is in `rows`).
  int column = 0;
  std::size_t parked_below = 0;

  /// True for a program that draws around its input: rows below the
  /// input line, or a hidden cursor parked below a block of rows. A shell
  /// or a REPL has its prompt on the last row with text.
  bool framed() const { return parked_below > 0 || rows.size() > 1; }
  bool operator==(const InputChrome&) const = default;
};

InputChrome input_chrome(const ScreenText& screen);

/// Where the rows of input_chrome are in `screen.rows`: [first, last).
struct RowRange {
  std::size_t first = 0, last = 0;
};
RowRange input_chrome_rows(const ScreenText& screen);

/// True when the last rows with text on the screen hold a numbered menu
/// with one item picked: two or more rows "1. ...", "2. ...", one of them
/// marked by a pointer ("❯ 1. Yes", "> 2. No").
bool shows_menu(const ScreenText& screen);

}  // namespace host
