#include "model/canvas.h"

#include <algorithm>
#include <utility>

#include "model/refusal.h"
#include "model/text_edit.h"
#include "model/token.h"

namespace host {
namespace {

constexpr std::size_t kMaxNameBytes = 256;

/// Refuses with "<problem>: <name>".
[[noreturn]] void refuse(std::string_view problem, std::string_view name) {
  throw Refusal(std::string(problem).append(": ").append(name));
}

/// Refuses access with "<problem>: <name>".
[[noreturn]] void deny(std::string_view problem, std::string_view name) {
  throw AccessRefusal(std::string(problem).append(": ").append(name));
}

template <class Map>
auto find_in(Map& map, std::string_view name) -> decltype(&map.begin()->second) {
  auto it = map.find(name);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

Rope Rope::between(Item x, Item y) {
  if (y < x) std::swap(x, y);
  return {std::move(x), std::move(y)};
}

void check_name(std::string_view what, std::string_view name) {
  if (name.empty()) throw Refusal(std::string(what) + " must not be empty");
  if (name.size() > kMaxNameBytes) {
    throw Refusal(std::string(what) + " is longer than " + std::to_string(kMaxNameBytes) + " bytes");
  }
  for (char c : name) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) throw Refusal(std::string(what) + " must not contain control characters");
  }
}

// --- terminals ---------------------------------------------------------------

std::string Canvas::free_terminal_name(std::string_view wanted) const {
  std::string name(wanted);
  for (int n = 2; terminals_.contains(name); ++n) name = std::string(wanted) + "-" + std::to_string(n);
  return name;
}

void Canvas::add_terminal(TerminalEntry entry) {
  std::string name = entry.name;
  terminals_.emplace(std::move(name), std::move(entry));
}

void Canvas::remove_terminal(std::string_view name) {
  auto it = terminals_.find(name);
  if (it == terminals_.end()) return;
  cut_ropes(Item::terminal(name));
  terminals_.erase(it);
}

const TerminalEntry* Canvas::terminal(std::string_view name) const { return find_in(terminals_, name); }

std::vector<const TerminalEntry*> Canvas::all_terminals() const {
  std::vector<const TerminalEntry*> out;
  for (const auto& [name, entry] : terminals_) out.push_back(&entry);
  return out;
}

bool Canvas::authenticate(std::string_view id, std::string_view token) const {
  const TerminalEntry* entry = terminal(id);
  return entry != nullptr && same_token(entry->token, token);
}

std::vector<std::string> Canvas::peers(std::string_view caller) const {
  Item self = Item::terminal(caller);
  std::vector<std::string> names;
  for (const Rope& rope : ropes_) {
    if (!rope.touches(self)) continue;
    const Item& other = rope.other(self);
    if (other.kind == ItemKind::kTerminal && terminals_.contains(other.name)) names.push_back(other.name);
  }
  return names;  // ropes are ordered, so names come sorted
}

const TerminalEntry& Canvas::peer(std::string_view caller, std::string_view name) const {
  const TerminalEntry* entry = terminal(name);
  if (entry == nullptr || name == caller || !roped(Item::terminal(caller), Item::terminal(name))) {
    deny("no such peer", name);
  }
  return *entry;
}

void Canvas::assign_role(std::string_view caller, std::string_view recruit, const std::optional<std::string>& role) {
  if (recruit != caller) peer(caller, recruit);
  auto it = terminals_.find(recruit);
  if (it == terminals_.end()) refuse("no such peer", recruit);
  if (role && !roles_.contains(*role)) refuse("no such role", *role);
  it->second.role = role.value_or("");
}

// --- ropes -------------------------------------------------------------------

Item Canvas::resolve(std::string_view name) const {
  if (terminals_.contains(name)) return Item::terminal(name);
  if (notes_.contains(name)) return Item::note(name);
  refuse("no such item", name);
}

void Canvas::require_reachable(std::string_view caller, const Item& item) const {
  Item self = Item::terminal(caller);
  if (item == self || roped(self, item)) return;
  // A terminal out of reach is not admitted to exist; notes are listed anyway.
  if (item.kind == ItemKind::kTerminal) deny("no such item", item.name);
  deny("note not roped to you", item.name);
}

bool Canvas::connect(std::string_view caller, std::string_view from, std::string_view to) {
  Item x = resolve(from), y = resolve(to);
  require_reachable(caller, x);
  require_reachable(caller, y);
  if (x == y) refuse("cannot rope an item to itself", from);
  bool fresh = !roped(x, y);
  rope(x, y);
  return fresh;
}

void Canvas::rope(const Item& x, const Item& y) { ropes_.insert(Rope::between(x, y)); }

bool Canvas::roped(const Item& x, const Item& y) const { return ropes_.contains(Rope::between(x, y)); }

std::vector<std::string> Canvas::ropes_of(const Item& item) const {
  std::vector<std::string> names;
  for (const Rope& rope : ropes_) {
    if (!rope.touches(item)) continue;
    const Item& other = rope.other(item);
    bool present = other.kind == ItemKind::kTerminal ? terminals_.contains(other.name) : notes_.contains(other.name);
    if (present) names.push_back(other.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void Canvas::cut_ropes(const Item& item) {
  std::erase_if(ropes_, [&](const Rope& r) { return r.touches(item); });
}

// --- notes -------------------------------------------------------------------

std::vector<NoteListing> Canvas::notes_for(std::string_view caller) const {
  Item self = Item::terminal(caller);
  std::vector<NoteListing> out;
  for (const auto& [name, content] : notes_) out.push_back({name, roped(self, Item::note(name))});
  return out;
}

std::vector<std::pair<std::string, std::size_t>> Canvas::note_sizes() const {
  std::vector<std::pair<std::string, std::size_t>> out;
  for (const auto& [name, content] : notes_) out.emplace_back(name, content.size());
  return out;
}

std::string Canvas::create_note(std::string_view caller, std::optional<std::string> name, std::string content) {
  if (name) {
    check_name("note name", *name);
    if (notes_.contains(*name)) refuse("note already exists", *name);
  } else {
    int n = 1;
    do name = "note-" + std::to_string(n++);
    while (notes_.contains(*name));
  }
  notes_.emplace(*name, std::move(content));
  rope(Item::terminal(caller), Item::note(*name));
  return *name;
}

std::string& Canvas::reachable_note(std::string_view caller, std::string_view name) {
  auto it = notes_.find(name);
  if (it == notes_.end()) refuse("no such note", name);
  if (!roped(Item::terminal(caller), Item::note(name))) deny("note not roped to you", name);
  return it->second;
}

const std::string& Canvas::note(std::string_view caller, std::string_view name) const {
  return const_cast<Canvas*>(this)->reachable_note(caller, name);
}

void Canvas::write_note(std::string_view caller, std::string_view name, std::string content) {
  reachable_note(caller, name) = std::move(content);
}

void Canvas::edit_note(std::string_view caller, std::string_view name, std::string_view old_text,
                       std::string_view new_text) {
  std::string& content = reachable_note(caller, name);
  if (old_text.empty()) throw Refusal("old text must not be empty");
  auto edited = replace_first(content, old_text, new_text);
  if (!edited) refuse("text not found in note", name);
  content = std::move(*edited);
}

void Canvas::delete_note(std::string_view caller, std::string_view name) {
  reachable_note(caller, name);
  cut_ropes(Item::note(name));
  notes_.erase(notes_.find(name));
}

// --- roles -------------------------------------------------------------------

std::vector<std::string> Canvas::role_names() const {
  std::vector<std::string> names;
  for (const auto& [name, prompt] : roles_) names.push_back(name);
  return names;
}

std::string& Canvas::existing_role(std::string_view name) {
  auto it = roles_.find(name);
  if (it == roles_.end()) refuse("no such role", name);
  return it->second;
}

const std::string& Canvas::role(std::string_view name) const { return const_cast<Canvas*>(this)->existing_role(name); }

void Canvas::create_role(std::string_view name, std::string prompt) {
  check_name("role name", name);
  if (roles_.contains(name)) refuse("role already exists", name);
  roles_.emplace(std::string(name), std::move(prompt));
}

void Canvas::write_role(std::string_view name, std::string prompt) { existing_role(name) = std::move(prompt); }

void Canvas::edit_role(std::string_view name, std::string_view old_text, std::string_view new_text) {
  std::string& prompt = existing_role(name);
  if (old_text.empty()) throw Refusal("old text must not be empty");
  auto edited = replace_first(prompt, old_text, new_text);
  if (!edited) refuse("text not found in role", name);
  prompt = std::move(*edited);
}

void Canvas::delete_role(std::string_view name) {
  existing_role(name);
  roles_.erase(roles_.find(name));
}

// --- persistence -------------------------------------------------------------

Snapshot Canvas::snapshot() const {
  Snapshot s{notes_, roles_, {}};
  for (const Rope& rope : ropes_) {
    if (rope.has_note()) s.ropes.insert(rope);
  }
  return s;
}

void Canvas::restore(Snapshot saved) {
  std::erase_if(ropes_, [](const Rope& r) { return r.has_note(); });
  ropes_.merge(saved.ropes);
  notes_ = std::move(saved.notes);
  roles_ = std::move(saved.roles);
}

}  // namespace host
