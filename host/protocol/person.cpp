#include "protocol/person.h"

#include <algorithm>

#include "base/refusal.h"

namespace host {
namespace {

using wire::Json;

/// The most bytes one key press types (a modified function key's sequence).
constexpr std::size_t kLongestKey = 16;
/// With less room than this left for its input, a program counts as not
/// reading it (the answers to its queries fill the queue to within a few
/// bytes of the limit). The same as in asks.cpp.
constexpr std::size_t kInputHeadroom = 4096;

Json names(const std::vector<std::string>& list) {
  Json out = Json::array();
  for (const std::string& name : list) out.push_back(name);
  return out;
}

Json terminal_entry(const TerminalEntry& entry, TerminalSet& terminals, const Asks& asks, const Canvas& canvas) {
  Terminal* terminal = entry.joined ? nullptr : terminals.find(entry.name);
  Json out = {{"name", entry.name}};
  put_state(out, terminal);
  if (!entry.role.empty()) out["role"] = entry.role;
  out["busy"] = asks.busy(entry.name);
  out["ropes"] = names(canvas.ropes_of(Item::terminal(entry.name)));
  return out;
}

}  // namespace

void put_state(Json& out, const Terminal* terminal) {
  if (terminal == nullptr) {
    out["state"] = "joined";
  } else if (terminal->held()) {
    out["state"] = "held";
  } else if (terminal->exited()) {
    out["state"] = "exited";
    out["exitCode"] = terminal->exit_code().value_or(-1);
  } else {
    out["state"] = "running";
  }
}

Json everything(const Canvas& canvas, TerminalSet& terminals, const Asks& asks) {
  Json list = Json::array();
  for (const TerminalEntry* entry : canvas.all_terminals())
    list.push_back(terminal_entry(*entry, terminals, asks, canvas));
  Json notes = Json::array();
  for (const auto& [name, bytes] : canvas.note_sizes()) {
    notes.push_back({{"name", name}, {"bytes", bytes}, {"ropes", names(canvas.ropes_of(Item::note(name)))}});
  }
  return {{"terminals", std::move(list)}, {"notes", std::move(notes)}};
}

OrRefusal<Terminal*> screen_terminal(const Canvas& canvas, TerminalSet& terminals, std::string_view name) {
  const TerminalEntry* entry = canvas.terminal(name);
  if (entry == nullptr) return refuse("no such terminal: " + std::string(name));
  Terminal* terminal = entry->joined ? nullptr : terminals.find(name);
  if (terminal == nullptr) return refuse("cannot type into a joined shell: " + std::string(name));
  return terminal;
}

OrRefusal<void> require_typable(const Terminal& terminal, std::string_view name, std::size_t adding) {
  if (!terminal.open()) return refuse("program has ended: " + std::string(name));
  if (adding > Terminal::kMaxPendingInput) {
    return refuse("input too long: " + std::to_string(adding) + " bytes, at most " +
                  std::to_string(Terminal::kMaxPendingInput));
  }
  if (terminal.pending_input() + std::max(adding, kInputHeadroom) > Terminal::kMaxPendingInput) {
    return refuse("terminal is not reading its input: " + std::string(name));
  }
  return {};
}

OrRefusal<void> send_keys(Terminal& terminal, std::string_view name, const std::vector<std::string>& words,
                          bool literal) {
  std::vector<std::optional<KeyPress>> keys;
  std::size_t adding = 0;
  for (const std::string& word : words) {
    keys.push_back(literal ? std::nullopt : parse_key(word));
    adding += keys.back() ? kLongestKey : word.size();
  }
  if (OrRefusal<void> typable = require_typable(terminal, name, adding); !typable.ok()) return typable;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (keys[i]) {
      terminal.screen().press(*keys[i]);
    } else {
      terminal.send(words[i]);
    }
  }
  return {};
}

}  // namespace host
