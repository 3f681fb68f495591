#pragma once
// What the canvas page is sent, as JSON: the items (terminals and notes)
// with their state and place, the ropes, the role and preset names, and
// the rows of a terminal's screen. The page keeps items by id: "t:NAME"
// for a terminal, "n:NAME" for a note (a terminal and a note may share a
// name).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "model/canvas.h"
#include "protocol/dispatcher.h"
#include "pty/terminal_set.h"
#include "screen/screen.h"

namespace host {

using Json = wire::Json;

std::string item_id(const Item& item);
/// The item an id names; nullopt for a malformed id.
std::optional<Item> parse_item_id(std::string_view id);

/// One screen row as the page draws it: a list of runs, [text] in the
/// default style or [text, fg, bg, flags]; a colour is null (the default),
/// a palette index or "#rrggbb"; flags: 1 bold, 2 underline, 4 italic,
/// 8 reverse, 16 strike, 32 blink, 128 dim.
Json row_json(const std::vector<Span>& runs);

/// {"t":"screen","id","size":[rows,cols],"rows":[[row,runs]...],
/// "cursor":[row,col,visible],"mouse":mode,"history":[first,scrolled]}: the
/// rows changed after change `seen` (every row when the size changed after
/// it), how the program reads the mouse (Screen::mouse_mode, 0 when it does
/// not) and the kept scrollback's absolute rows (as history_json).
Json screen_message(const std::string& id, const Screen& screen, std::uint64_t seen);

/// Most scrollback rows one history message carries.
inline constexpr std::uint64_t kMaxHistoryRows = 5000;

/// {"history":[first,scrolled],"rows":[[row,runs]...]}: the kept scrollback
/// rows from absolute row `from` on, at most `count` (and kMaxHistoryRows).
/// `first` is the oldest kept row, `scrolled` one past the newest.
Json history_json(const Screen& screen, std::uint64_t from, std::uint64_t count);

/// The item as the page draws it: {"id","kind","name","box",...}, with
/// "box" null until the item is placed; null when no such item is on the
/// canvas.
Json item_json(const Item& item, const Dispatcher& dispatcher, TerminalSet& terminals);

/// {"t":"rope","a":id,"b":id,"on":bool}: whether the rope is tied now.
Json rope_json(const Rope& rope, const Canvas& canvas);

/// {"roles":[...],"presets":[...]}: names for the recruit form.
Json lists_json(const Dispatcher& dispatcher);

}  // namespace host
