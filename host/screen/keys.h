#pragma once
// Keys named the way tmux's send-keys names them, for typing into a
// terminal by name: "Enter", "Escape", "C-c", "M-x", "F5", "C-Up"; and as
// the browser names them, for the canvas page's keys. The bytes a
// key sends depend on the terminal's modes (the cursor keys of a full-screen
// program send other bytes), so a key is turned into bytes by the screen
// (Screen::press), not here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

enum class Key : std::uint8_t {
  kNone,  ///< a character, see KeyPress::character
  kEnter,
  kTab,
  kBackspace,
  kEscape,
  kUp,
  kDown,
  kLeft,
  kRight,
  kInsert,
  kDelete,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kFunction,  ///< F1 to F12, see KeyPress::number
};

/// Modifier bits of a key press.
inline constexpr unsigned kShift = 1, kMeta = 2, kCtrl = 4;

struct KeyPress {
  Key key = Key::kNone;
  /// The character when `key` is kNone.
  char32_t character = 0;
  /// 1 to 12 for kFunction.
  int number = 0;
  /// kShift, kMeta and kCtrl.
  unsigned modifiers = 0;
};

/// The key `word` names: an optional run of "C-", "M-" and "S-" prefixes,
/// then a key name (Enter, Escape, Tab, BTab, BSpace, Space, Up, Down,
/// Left, Right, Home, End, IC, DC, PageUp/PgUp/PPage, PageDown/PgDn/NPage,
/// F1 to F12) or, after a prefix, one character ("C-c", "M-x"). Nothing
/// for any other word, which is typed as text.
std::optional<KeyPress> parse_key(std::string_view word);

/// The key a browser names, as KeyboardEvent.key does, when it is not a
/// character: Enter, Tab, Backspace, Escape, ArrowUp/Down/Left/Right,
/// Insert, Delete, Home, End, PageUp, PageDown, F1 to F12. Nothing for any
/// other name.
std::optional<KeyPress> browser_key(std::string_view name);

/// Every name browser_key() takes: the canvas page sends exactly these by
/// name (web/assets/keys.js), which a test holds it to.
std::vector<std::string> browser_key_names();

}  // namespace host
