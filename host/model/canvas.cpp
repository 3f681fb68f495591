#include "model/canvas.h"

#include <algorithm>
#include <utility>

#include "base/refusal.h"
#include "base/token.h"
#include "model/text_edit.h"
#include "utf8.h"

namespace host {
namespace {

constexpr std::size_t kMaxNameBytes = 256;

/// The refusal "<problem>: <name>".
Refusal refuse_named(std::string_view problem, std::string_view name) {
  return host::refuse(std::string(problem).append(": ").append(name));
}

/// The refusal of access "<problem>: <name>".
Refusal deny_named(std::string_view problem, std::string_view name) {
  return host::deny(std::string(problem).append(": ").append(name));
}

template <class Map>
auto find_in(Map& map, std::string_view name) -> decltype(&map.begin()->second) {
  auto it = map.find(name);
  return it == map.end() ? nullptr : &it->second;
}

/// The marks and overrides that reorder text around them, so that a name
/// would read otherwise than it is ("A\u202Eevil" shows as "Alive").
bool is_bidi_control(char32_t cp) {
  return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

Rope Rope::between(Item x, Item y) {
  if (y < x) std::swap(x, y);
  return {std::move(x), std::move(y)};
}

OrRefusal<void> check_name(std::string_view what, std::string_view name) {
  if (name.empty()) return host::refuse(std::string(what) + " must not be empty");
  if (name.size() > kMaxNameBytes) {
    return host::refuse(std::string(what) + " is longer than " + std::to_string(kMaxNameBytes) + " bytes");
  }
  for (std::size_t i = 0; i < name.size();) {
    char32_t cp = utf8::next_code_point(name, i);
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      return host::refuse(std::string(what) + " must not contain control characters");
    }
    if (is_bidi_control(cp)) return host::refuse(std::string(what) + " must not contain bidirectional controls");
  }
  return {};
}

// --- names -------------------------------------------------------------------

namespace {

/// `base` followed by "-N", with `base` cut short at a character boundary
/// where the whole would be longer than kMaxNameBytes.
std::string suffixed(std::string_view base, unsigned n) {
  std::string suffix = "-" + std::to_string(n);
  std::size_t keep = std::min(base.size(), kMaxNameBytes - suffix.size());
  while (keep > 0 && keep < base.size() && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  return std::string(base.substr(0, keep)) + suffix;
}

}  // namespace

std::string Canvas::free_terminal_name(std::string_view wanted) const {
  return taken(wanted) ? free_suffixed(wanted, 2) : std::string(wanted);
}

std::string Canvas::free_suffixed(std::string_view base, unsigned first) const {
  auto hint = next_suffix_.find(base);
  unsigned n = hint == next_suffix_.end() ? first : std::max(first, hint->second);
  std::string name = suffixed(base, n);
  while (taken(name)) name = suffixed(base, ++n);
  if (hint == next_suffix_.end()) {
    next_suffix_.emplace(std::string(base), n);
  } else {
    hint->second = n;
  }
  return name;
}

void Canvas::name_freed(std::string_view name) {
  std::size_t dash = name.rfind('-');
  if (dash == std::string_view::npos || dash + 1 == name.size() || name[dash + 1] == '0') return;
  unsigned n = 0;
  for (char c : name.substr(dash + 1)) {
    if (c < '0' || c > '9' || n > 100'000'000) return;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  auto hint = next_suffix_.find(name.substr(0, dash));
  if (hint != next_suffix_.end() && n < hint->second) hint->second = n;
}

// --- changes -----------------------------------------------------------------

Canvas::Change::Change(Canvas& canvas) : canvas_(canvas) {
  canvas_.journal_.clear();
  canvas_.recording_ = true;
  canvas_.kept_changed_ = false;
}

Canvas::Change::~Change() {
  std::vector<Undo> journal = std::move(canvas_.journal_);
  canvas_.journal_.clear();
  canvas_.recording_ = false;
  canvas_.kept_changed_ = false;
  if (keep_) return;
  for (auto undo = journal.rbegin(); undo != journal.rend(); ++undo) (*undo)(canvas_);
}

void Canvas::Change::keep() { keep_ = true; }

void Canvas::record(bool kept, Undo undo) {
  if (!recording_) return;
  journal_.push_back(std::move(undo));
  kept_changed_ = kept_changed_ || kept;
}

// --- terminals ---------------------------------------------------------------

void Canvas::add_terminal(TerminalEntry entry) {
  std::string name = entry.name;
  record(false, [name](Canvas& c) { c.erase_terminal(name); });
  touched(Item::terminal(name));
  terminals_.emplace(std::move(name), std::move(entry));
}

void Canvas::erase_terminal(std::string_view name) {
  auto it = terminals_.find(name);
  if (it == terminals_.end()) return;
  terminals_.erase(it);
  name_freed(name);
  touched(Item::terminal(name));
}

void Canvas::remove_terminal(std::string_view name) {
  auto it = terminals_.find(name);
  if (it == terminals_.end()) return;
  cut_ropes(Item::terminal(name));
  record(false, [entry = it->second](Canvas& c) { c.terminals_.emplace(entry.name, entry); });
  erase_terminal(name);
}

void Canvas::forget_terminal(std::string_view name) {
  auto it = terminals_.find(name);
  if (it == terminals_.end()) return;
  cut_ropes(Item::terminal(name), true);
  record(false, [entry = it->second](Canvas& c) { c.terminals_.emplace(entry.name, entry); });
  erase_terminal(name);
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

OrRefusal<const TerminalEntry*> Canvas::peer(std::string_view caller, std::string_view name) const {
  const TerminalEntry* entry = terminal(name);
  if (entry == nullptr || name == caller || !roped(Item::terminal(caller), Item::terminal(name))) {
    return deny_named("no such peer", name);
  }
  return entry;
}

OrRefusal<void> Canvas::assign_role(std::string_view caller, std::string_view recruit,
                                    const std::optional<std::string>& role) {
  if (recruit != caller) {
    if (auto reached = peer(caller, recruit); !reached.ok()) return reached.failure();
  }
  auto it = terminals_.find(recruit);
  if (it == terminals_.end()) return refuse_named("no such peer", recruit);
  if (role && !roles_.contains(*role)) return refuse_named("no such role", *role);
  record(false, [name = it->first, old = it->second.role](Canvas& c) {
    if (auto t = c.terminals_.find(name); t != c.terminals_.end()) t->second.role = old;
  });
  it->second.role = role.value_or("");
  touched(Item::terminal(recruit));
  return {};
}

// --- ropes -------------------------------------------------------------------

OrRefusal<Item> Canvas::resolve(std::string_view name) const {
  if (terminals_.contains(name)) return Item::terminal(name);
  if (notes_.contains(name)) return Item::note(name);
  return refuse_named("no such item", name);
}

bool Canvas::unroped(const Item& item, bool present_only) const {
  return std::none_of(ropes_.begin(), ropes_.end(), [&](const Rope& r) {
    if (!r.touches(item)) return false;
    const Item& other = r.other(item);
    return other.kind == ItemKind::kTerminal && (!present_only || terminals_.contains(other.name));
  });
}

OrRefusal<void> Canvas::require_reachable(std::string_view caller, const Item& item) const {
  Item self = Item::terminal(caller);
  if (item == self || roped(self, item)) return {};
  if (item.kind == ItemKind::kNote) {
    // A note roped to nobody lies free. The person may also take one whose
    // terminals are all gone (their ropes wait for names that may never
    // come back).
    const TerminalEntry* entry = terminal(caller);
    if (unroped(item, false) || (entry != nullptr && entry->persons && unroped(item, true))) return {};
  }
  // A terminal out of reach is not admitted to exist; notes are listed anyway.
  if (item.kind == ItemKind::kTerminal) return deny_named("no such item", item.name);
  return deny_named("note not roped to you", item.name);
}

OrRefusal<bool> Canvas::connect(std::string_view caller, std::string_view from, std::string_view to) {
  OrRefusal<Item> x = resolve(from);
  if (!x.ok()) return x.failure();
  OrRefusal<Item> y = resolve(to);
  if (!y.ok()) return y.failure();
  for (const Item* item : {&*x, &*y}) {
    if (OrRefusal<void> reached = require_reachable(caller, *item); !reached.ok()) return reached.failure();
  }
  if (*x == *y) return refuse_named("cannot rope an item to itself", from);
  bool fresh = !roped(*x, *y);
  rope(*x, *y);
  return fresh;
}

void Canvas::rope(const Item& x, const Item& y) {
  Rope rope = Rope::between(x, y);
  if (!ropes_.insert(rope).second) return;
  record(rope.has_note(), [rope](Canvas& c) { c.ropes_.erase(rope); });
  touched(rope);
}

void Canvas::cut_rope(const Rope& rope) {
  if (ropes_.erase(rope) == 0) return;
  record(rope.has_note(), [rope](Canvas& c) { c.ropes_.insert(rope); });
  touched(rope);
}

bool Canvas::cut(const Item& x, const Item& y) {
  Rope rope = Rope::between(x, y);
  if (!ropes_.contains(rope)) return false;
  cut_rope(rope);
  return true;
}

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

void Canvas::cut_ropes(const Item& item, bool terminals_only) {
  std::vector<Rope> cut;
  for (const Rope& rope : ropes_) {
    if (rope.touches(item) && !(terminals_only && rope.other(item).kind == ItemKind::kNote)) cut.push_back(rope);
  }
  for (const Rope& rope : cut) cut_rope(rope);
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

OrRefusal<std::string> Canvas::create_note(std::string_view caller, std::optional<std::string> name,
                                           std::string content) {
  OrRefusal<std::string> created = add_note(std::move(name), std::move(content));
  if (created.ok()) rope(Item::terminal(caller), Item::note(*created));
  return created;
}

OrRefusal<void> Canvas::check_note_room(std::size_t size, std::size_t replaced, bool adds) const {
  if (size > kMaxNoteBytes) {
    return host::refuse("note too large: " + std::to_string(size) + " bytes, at most " + std::to_string(kMaxNoteBytes) +
                        " (1 MiB)");
  }
  if (adds && notes_.size() >= kMaxNotes) return host::refuse("too many notes: at most " + std::to_string(kMaxNotes));
  std::size_t total = 0;
  for (const auto& [name, content] : notes_) total += content.size();
  if (total - replaced + size > kMaxAllNotesBytes) {
    return host::refuse("notes full: all notes together hold at most " + std::to_string(kMaxAllNotesBytes) +
                        " bytes (64 MiB)");
  }
  return {};
}

OrRefusal<std::string> Canvas::add_note(std::optional<std::string> name, std::string content) {
  if (name) {
    if (OrRefusal<void> valid = check_name("note name", *name); !valid.ok()) return valid.failure();
    if (notes_.contains(*name)) return refuse_named("note already exists", *name);
    if (terminals_.contains(*name)) return refuse_named("name taken by a terminal", *name);
  } else {
    name = free_suffixed("note", 1);
  }
  if (OrRefusal<void> room = check_note_room(content.size(), 0, true); !room.ok()) return room.failure();
  notes_.emplace(*name, std::move(content));
  note_changed(*name);
  record(true, [name = *name](Canvas& c) { c.erase_note(name); });
  touched(Item::note(*name));
  return std::move(*name);
}

OrRefusal<void> Canvas::set_note(std::string_view name, std::string content) {
  auto it = notes_.find(name);
  if (it == notes_.end()) return refuse_named("no such note", name);
  if (OrRefusal<void> room = check_note_room(content.size(), it->second.size(), false); !room.ok()) return room;
  std::string old = std::exchange(it->second, std::move(content));
  note_changed(name);
  record(true, [name = std::string(name), old = std::move(old)](Canvas& c) mutable {
    c.notes_.find(name)->second = std::move(old);
    c.note_changed(name);
  });
  touched(Item::note(name));
  return {};
}

void Canvas::erase_note(std::string_view name) {
  auto it = notes_.find(name);
  if (it == notes_.end()) return;
  notes_.erase(it);
  if (auto stamp = note_revisions_.find(name); stamp != note_revisions_.end()) note_revisions_.erase(stamp);
  name_freed(name);
  touched(Item::note(name));
}

OrRefusal<std::string*> Canvas::reachable_note(std::string_view caller, std::string_view name) {
  auto it = notes_.find(name);
  if (it == notes_.end()) return refuse_named("no such note", name);
  if (!roped(Item::terminal(caller), Item::note(name))) return deny_named("note not roped to you", name);
  return &it->second;
}

OrRefusal<const std::string*> Canvas::note(std::string_view caller, std::string_view name) const {
  OrRefusal<std::string*> found = const_cast<Canvas*>(this)->reachable_note(caller, name);
  if (!found.ok()) return found.failure();
  return *found;
}

OrRefusal<void> Canvas::write_note(std::string_view caller, std::string_view name, std::string content) {
  if (auto found = reachable_note(caller, name); !found.ok()) return found.failure();
  return set_note(name, std::move(content));
}

OrRefusal<void> Canvas::edit_note(std::string_view caller, std::string_view name, std::string_view old_text,
                                  std::string_view new_text) {
  OrRefusal<std::string*> content = reachable_note(caller, name);
  if (!content.ok()) return content.failure();
  if (old_text.empty()) return host::refuse("old text must not be empty");
  auto edited = replace_first(**content, old_text, new_text);
  if (!edited) return refuse_named("text not found in note", name);
  return set_note(name, std::move(*edited));
}

OrRefusal<void> Canvas::delete_note(std::string_view caller, std::string_view name) {
  if (auto found = reachable_note(caller, name); !found.ok()) return found.failure();
  return remove_note(name);
}

OrRefusal<void> Canvas::remove_note(std::string_view name) {
  auto it = notes_.find(name);
  if (it == notes_.end()) return refuse_named("no such note", name);
  cut_ropes(Item::note(name));
  if (auto place = layout_.find(Item::note(name)); place != layout_.end()) {
    Box box = place->second;
    layout_.erase(place);
    record(true, [name = std::string(name), box](Canvas& c) { c.layout_[Item::note(name)] = box; });
  }
  std::string content = std::move(it->second);
  erase_note(name);
  record(true, [name = std::string(name), content = std::move(content)](Canvas& c) mutable {
    c.notes_.emplace(name, std::move(content));
    c.note_changed(name);
  });
  return {};
}

std::uint64_t Canvas::note_revision(std::string_view name) const {
  auto it = note_revisions_.find(name);
  return it == note_revisions_.end() ? 0 : it->second;
}

void Canvas::note_changed(std::string_view name) {
  auto it = note_revisions_.find(name);
  if (it == note_revisions_.end()) it = note_revisions_.emplace(std::string(name), 0).first;
  it->second = ++last_revision_;
}

// --- roles -------------------------------------------------------------------

std::vector<std::string> Canvas::role_names() const {
  std::vector<std::string> names;
  for (const auto& [name, prompt] : roles_) names.push_back(name);
  return names;
}

OrRefusal<std::string*> Canvas::existing_role(std::string_view name) {
  auto it = roles_.find(name);
  if (it == roles_.end()) return refuse_named("no such role", name);
  return &it->second;
}

OrRefusal<const std::string*> Canvas::role(std::string_view name) const {
  OrRefusal<std::string*> found = const_cast<Canvas*>(this)->existing_role(name);
  if (!found.ok()) return found.failure();
  return *found;
}

OrRefusal<void> Canvas::create_role(std::string_view name, std::string prompt) {
  if (OrRefusal<void> valid = check_name("role name", name); !valid.ok()) return valid;
  if (roles_.contains(name)) return refuse_named("role already exists", name);
  roles_.emplace(std::string(name), std::move(prompt));
  record(true, [name = std::string(name)](Canvas& c) { c.roles_.erase(name); });
  roles_touched();
  return {};
}

OrRefusal<void> Canvas::write_role(std::string_view name, std::string prompt) {
  OrRefusal<std::string*> found = existing_role(name);
  if (!found.ok()) return found.failure();
  std::string old = std::exchange(**found, std::move(prompt));
  record(true,
         [name = std::string(name), old = std::move(old)](Canvas& c) mutable { c.roles_[name] = std::move(old); });
  roles_touched();
  return {};
}

OrRefusal<void> Canvas::edit_role(std::string_view name, std::string_view old_text, std::string_view new_text) {
  OrRefusal<std::string*> prompt = existing_role(name);
  if (!prompt.ok()) return prompt.failure();
  if (old_text.empty()) return host::refuse("old text must not be empty");
  auto edited = replace_first(**prompt, old_text, new_text);
  if (!edited) return refuse_named("text not found in role", name);
  std::string old = std::exchange(**prompt, std::move(*edited));
  record(true,
         [name = std::string(name), old = std::move(old)](Canvas& c) mutable { c.roles_[name] = std::move(old); });
  roles_touched();
  return {};
}

OrRefusal<void> Canvas::delete_role(std::string_view name) {
  OrRefusal<std::string*> found = existing_role(name);
  if (!found.ok()) return found.failure();
  std::string prompt = std::move(**found);
  roles_.erase(roles_.find(name));
  record(true, [name = std::string(name), prompt = std::move(prompt)](Canvas& c) mutable {
    c.roles_.emplace(name, std::move(prompt));
  });
  roles_touched();
  return {};
}

// --- where items sit -----------------------------------------------------------

const Box* Canvas::box(const Item& item) const {
  auto it = layout_.find(item);
  return it == layout_.end() ? nullptr : &it->second;
}

void Canvas::set_box(const Item& item, Box box) {
  auto [it, fresh] = layout_.try_emplace(item, box);
  if (!fresh && it->second == box) return;
  std::optional<Box> old = fresh ? std::nullopt : std::optional<Box>(it->second);
  it->second = box;
  record(true, [item, old](Canvas& c) {
    if (old)
      c.layout_[item] = *old;
    else
      c.layout_.erase(item);
  });
  touched(item);
}

// --- persistence -------------------------------------------------------------

Snapshot Canvas::snapshot() const {
  Snapshot s{notes_, roles_, {}, layout_};
  for (const Rope& rope : ropes_) {
    if (rope.has_note()) s.ropes.insert(rope);
  }
  return s;
}

void Canvas::restore(Snapshot saved) {
  std::erase_if(ropes_, [](const Rope& r) { return r.has_note(); });
  ropes_.merge(saved.ropes);
  notes_ = std::move(saved.notes);
  note_revisions_.clear();
  roles_ = std::move(saved.roles);
  layout_ = std::move(saved.layout);
}

}  // namespace host
