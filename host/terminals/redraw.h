#pragma once
// A terminal's screen as escape sequences for another terminal: what a
// person's terminal needs to show the screen as it is now (rows with their
// colours and attributes, the cursor) and to send keys as the program
// expects them (its input modes). An attach starts with it.

#include <string>

#include "terminals/screen.h"

namespace host {

/// Clears the other terminal and draws `screen` on it, then places the
/// cursor and sets the input modes (see Screen::input_modes).
std::string redraw(Screen& screen);

/// The SGR sequence ("\x1b[0;1;31m") that sets `style` from scratch.
std::string style_sequence(const Style& style);

}  // namespace host
