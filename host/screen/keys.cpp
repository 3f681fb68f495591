#include "screen/keys.h"

#include <array>
#include <utility>

#include "utf8.h"

namespace host {
namespace {

constexpr std::array<std::pair<std::string_view, Key>, 20> kNames = {{
    {"Enter", Key::kEnter},  {"Tab", Key::kTab},           {"BSpace", Key::kBackspace}, {"Escape", Key::kEscape},
    {"Up", Key::kUp},        {"Down", Key::kDown},         {"Left", Key::kLeft},        {"Right", Key::kRight},
    {"IC", Key::kInsert},    {"Insert", Key::kInsert},     {"DC", Key::kDelete},        {"Delete", Key::kDelete},
    {"Home", Key::kHome},    {"End", Key::kEnd},           {"PageUp", Key::kPageUp},    {"PgUp", Key::kPageUp},
    {"PPage", Key::kPageUp}, {"PageDown", Key::kPageDown}, {"PgDn", Key::kPageDown},    {"NPage", Key::kPageDown},
}};

/// The browser's names of the keys that are not characters, but the
/// function keys.
constexpr std::pair<std::string_view, Key> kBrowserNames[] = {
    {"Enter", Key::kEnter},   {"Tab", Key::kTab},           {"Backspace", Key::kBackspace}, {"Escape", Key::kEscape},
    {"ArrowUp", Key::kUp},    {"ArrowDown", Key::kDown},    {"ArrowLeft", Key::kLeft},      {"ArrowRight", Key::kRight},
    {"Insert", Key::kInsert}, {"Delete", Key::kDelete},     {"Home", Key::kHome},           {"End", Key::kEnd},
    {"PageUp", Key::kPageUp}, {"PageDown", Key::kPageDown},
};

/// The function key "F1" to "F12", or 0.
int function_number(std::string_view name) {
  if (name.size() < 2 || name.size() > 3 || name[0] != 'F') return 0;
  int n = 0;
  for (char c : name.substr(1)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return name[1] != '0' && n >= 1 && n <= 12 ? n : 0;
}

/// The key called `name`, without prefixes.
std::optional<KeyPress> named_key(std::string_view name) {
  for (const auto& [word, key] : kNames) {
    if (name == word) return KeyPress{key};
  }
  if (name == "Space") return KeyPress{Key::kNone, U' '};
  if (name == "BTab") return KeyPress{Key::kTab, 0, 0, kShift};
  if (int n = function_number(name)) return KeyPress{Key::kFunction, 0, n};
  return std::nullopt;
}

}  // namespace

std::optional<KeyPress> browser_key(std::string_view name) {
  for (const auto& [word, key] : kBrowserNames) {
    if (name == word) return KeyPress{key};
  }
  if (int n = function_number(name)) return KeyPress{Key::kFunction, 0, n};
  return std::nullopt;
}

std::vector<std::string> browser_key_names() {
  std::vector<std::string> names;
  for (const auto& [word, key] : kBrowserNames) names.emplace_back(word);
  for (int n = 1; n <= 12; ++n) names.push_back("F" + std::to_string(n));
  return names;
}

std::optional<KeyPress> parse_key(std::string_view word) {
  unsigned modifiers = 0;
  while (word.size() > 2 && word[1] == '-' && (word[0] == 'C' || word[0] == 'M' || word[0] == 'S')) {
    modifiers |= word[0] == 'C' ? kCtrl : word[0] == 'M' ? kMeta : kShift;
    word.remove_prefix(2);
  }
  std::optional<KeyPress> press = named_key(word);
  if (!press && modifiers != 0) {
    // One character after a prefix: "C-c", "M-x", "C-ä".
    std::size_t i = 0;
    char32_t c = utf8::next_code_point(word, i);
    if (i == word.size() && c >= 0x20 && c != 0x7F) press = KeyPress{Key::kNone, c};
  }
  if (press) press->modifiers |= modifiers;
  return press;
}

}  // namespace host
