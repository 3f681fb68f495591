#pragma once
// What the canvas page is sent, as JSON: the items (terminals and notes)
// with their state and place, the ropes, the role and preset names, and
// the rows of a terminal's screen. The page keeps items by id: "t:NAME"
// for a terminal, "n:NAME" for a note (a terminal and a note may share a
// name).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "model/canvas.h"
#include "protocol/dispatcher.h"
#include "terminals/screen.h"
#include "terminals/terminal_set.h"

namespace host {

using Json = wire::Json;

std::string item_id(const Item& item);
/// The item an id names; nullopt for a malformed id.
std::optional<Item> parse_item_id(std::string_view id);

/// One screen row as the page draws it: a list of runs, [text] in the
/// default style or [text, fg, bg, flags]; a colour is null (the default),
/// a palette index or "#rrggbb"; flags: 1 bold, 2 underline, 4 italic,
/// 8 reverse, 16 strike, 32 blink.
Json row_json(const std::vector<Span>& runs);

/// {"t":"screen","id","size":[rows,cols],"rows":[[row,runs]...],
/// "cursor":[row,col,visible]}: the rows changed after change `seen` (every
/// row when the size changed after it).
Json screen_message(const std::string& id, const Screen& screen, std::uint64_t seen);

/// Places for items that were never placed on the page: terminals with a
/// screen in rows of three, notes and joined shells (small, with no screen)
/// in a column on their left. Kept for the host's run (not in the state
/// file), so an item does not jump until the person moves it.
class Placer {
 public:
  Box place(const Item& item, const Canvas& canvas);

 private:
  bool taken(int x, int y, const Canvas& canvas) const;
  std::map<Item, Box> chosen_;
};

/// What the page shows of the canvas at one instant.
struct CanvasView {
  /// Each item's JSON by id.
  std::map<std::string, Json> items;
  /// [[id, id]...]: the ropes between items on the canvas.
  Json ropes;
  /// {"roles":[...],"presets":[...]}: names for the recruit form.
  Json lists;
};

CanvasView view_of(const Dispatcher& dispatcher, TerminalSet& terminals, Placer& placer);

}  // namespace host
