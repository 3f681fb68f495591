#pragma once
// A terminal's screen as escape sequences for another terminal: what a
// person's terminal needs to show the screen as it is now (rows with their
// colours and attributes, the cursor) and to send keys as the program
// expects them (its input modes). An attach starts with it. Also the
// screen's text as lines with their styles, which a terminal of any size
// shows again when it is fed them: how screens are saved over a restart.

#include <string>

#include "screen/screen.h"

namespace host {

/// Scrollback lines drawn into a person's terminal that keeps its own
/// (redraw_with_history), and kept with a saved screen.
inline constexpr std::size_t kKeptHistory = 2000;

/// Clears the other terminal and draws `screen` on it, then places the
/// cursor and sets the input modes (see Screen::input_modes).
std::string redraw(Screen& screen);

/// The SGR sequence ("\x1b[0;1;31m") that sets `style` from scratch.
std::string style_sequence(const Style& style);

/// `spans` with the SGR sequences that set their styles (none where all
/// are in the default style), the style reset after them.
std::string styled_text(const std::vector<Span>& spans);

/// The last `history` scrollback lines and the visible rows of `screen` as
/// lines with their styles: a row the terminal wrapped is joined to the
/// one before it (so a terminal of another width wraps it again), lines
/// are ended by CR LF, and trailing empty lines are left out. At most
/// `max_bytes`: the oldest lines are left out first.
std::string screen_lines(const Screen& screen, std::size_t history, std::size_t max_bytes);

/// For a person's terminal `view_rows` high (0: as high as `screen`) that
/// keeps its own scrollback:
/// line feeds that move what it showed up into its scrollback, the last
/// `history` scrollback lines of `screen` (scrolled up after it), the
/// visible rows at the bottom, then the cursor and the input modes.
std::string redraw_with_history(Screen& screen, std::size_t history, int view_rows);

}  // namespace host
