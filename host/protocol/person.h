#pragma once
// What the person at the host may see and do, whatever the ropes: the
// listing of every terminal and note, and typing into any terminal that has
// a screen. Agents never reach these; the dispatcher serves them only to the
// person (see the person routes in dispatcher.cpp), and the canvas page acts
// with the same rights.

#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "model/canvas.h"
#include "pty/terminal_set.h"
#include "turns/asks.h"

namespace host {

/// Every terminal and note:
///   {"terminals":[{"name","state","exitCode"?,"role"?,"busy","ropes":[...]}],
///    "notes":[{"name","bytes","ropes":[...]}]}
/// `state` is "running", "exited" (with `exitCode`), "held" (back from a
/// saved state, waiting to be resumed) or "joined"; `role` only when set;
/// rope lists hold the names at the other end.
wire::Json everything(const Canvas& canvas, TerminalSet& terminals, const Asks& asks);

/// Sets `state` in `out` as above, and `exitCode` for an exited terminal;
/// `terminal` is null for a joined shell.
void put_state(wire::Json& out, const Terminal* terminal);

/// Terminal `name` with a screen the person can type into or watch; refuses
/// an unknown name ("no such terminal: NAME") and a joined shell ("cannot
/// type into a joined shell: NAME").
OrRefusal<Terminal*> screen_terminal(const Canvas& canvas, TerminalSet& terminals, std::string_view name);

/// Refuses "program has ended: NAME" when `terminal` takes no more input,
/// "input too long: N bytes, at most M" when `adding` bytes are more than
/// it may ever queue, and "terminal is not reading its input: NAME" when
/// what waits for the program already leaves no room for them (nor for
/// 4 KiB more).
OrRefusal<void> require_typable(const Terminal& terminal, std::string_view name, std::size_t adding = 0);

/// Types `words` into `terminal`: each word that names a key (see
/// parse_key) as that key, any other word as its text; with `literal`,
/// every word as text. Refuses as require_typable does.
OrRefusal<void> send_keys(Terminal& terminal, std::string_view name, const std::vector<std::string>& words,
                          bool literal);

}  // namespace host
