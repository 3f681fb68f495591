#pragma once
// The canvas: terminals, notes and roles, the undirected ropes between
// terminals and notes, and the access rules that follow the ropes. Pure
// data: no processes, no I/O. An operation that may refuse returns its
// host::Refusal as a value (an OrRefusal).
//
// Access rules, from the point of view of the calling terminal:
// - its peers are the terminals roped to it; only they can be looked at,
//   asked, dismissed or re-roled;
// - every note is listed, but only notes roped to it can be read, written,
//   edited or deleted; a note it creates is roped to it;
// - it may rope two items when each is itself or already roped to it, so it
//   can introduce two of its peers but never reach a stranger; a note roped
//   to no terminal lies free and may be roped by anyone, and the person's
//   shells may also rope a note whose terminals are all off the canvas;
// - roles are shared by everyone.
//
// Terminals and notes share one namespace: no note has a terminal's name.
//
// A request that changes what the state file keeps runs inside a Change:
// every operation records how to take itself back, so a change the file
// cannot keep is undone without a copy of the canvas.

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/refusal.h"

namespace host {

enum class ItemKind { kTerminal, kNote };

/// A rope's end: a terminal or a note, by name.
struct Item {
  ItemKind kind;
  std::string name;

  static Item terminal(std::string_view name) { return {ItemKind::kTerminal, std::string(name)}; }
  static Item note(std::string_view name) { return {ItemKind::kNote, std::string(name)}; }
  auto operator<=>(const Item&) const = default;
};

/// An undirected rope; `a` is never greater than `b`.
struct Rope {
  Item a, b;

  static Rope between(Item x, Item y);
  bool touches(const Item& item) const { return a == item || b == item; }
  /// The end that is not `item` (which must be an end).
  const Item& other(const Item& item) const { return a == item ? b : a; }
  bool has_note() const { return a.kind == ItemKind::kNote || b.kind == ItemKind::kNote; }
  auto operator<=>(const Rope&) const = default;
};

/// How a recruit was started, so that it can be started again after a
/// restart.
struct Recipe {
  /// The command line it ran; empty for the user's shell.
  std::string command;
  /// The preset it was started from; empty for none.
  std::string preset;
  /// Where it ran, when known (a terminal that came back from a saved
  /// state); empty for the host's working directory.
  std::string cwd;
};

/// A terminal on the canvas; its name is its terminal id.
struct TerminalEntry {
  std::string name;
  std::string token;
  /// True for a shell of the user's own that joined; false for a recruit.
  bool joined = false;
  /// The role it was given; empty for none.
  std::string role;
  /// True for the person's own shells (the workspace's Lead, and every
  /// joined shell): agents may not dismiss them.
  bool persons = false;
  Recipe recipe = {};
};

/// Where an item sits on the canvas page: x and y in the page's pixels; w
/// and h are columns and rows for a terminal, pixels for a note (0: none
/// chosen yet).
struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Box&) const = default;
};

/// What outlives a restart: notes, roles, the ropes with a note at one end
/// and where items sit on the page. Ropes and places are kept by name, so
/// they apply again once a terminal of that name is on the canvas.
struct Snapshot {
  std::map<std::string, std::string, std::less<>> notes;
  std::map<std::string, std::string, std::less<>> roles;
  std::set<Rope> ropes;
  std::map<Item, Box> layout;
  bool operator==(const Snapshot&) const = default;
};

/// The most a note may hold, all notes together, and how many there may
/// be: they live in the host's memory, and each in a file of its own.
inline constexpr std::size_t kMaxNoteBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxAllNotesBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxNotes = 10000;

/// A note as one caller sees it in a listing.
struct NoteListing {
  std::string name;
  bool connected;
};

/// Told of every change to the canvas as it is made, so a view can follow
/// it item by item rather than compare the whole canvas. A change that is
/// undone was told when it was made: the watcher reads what is there now.
class CanvasWatcher {
 public:
  virtual ~CanvasWatcher() = default;
  /// A terminal or note came, went, or changed (its entry, text or place).
  virtual void item_changed(const Item& item) = 0;
  /// A rope was tied or cut.
  virtual void rope_changed(const Rope& rope) = 0;
  /// A role came, went or changed.
  virtual void roles_changed() = 0;
};

/// Refuses names that are empty, too long, or hold control characters (C0,
/// DEL, C1) or bidirectional controls.
OrRefusal<void> check_name(std::string_view what, std::string_view name);

class Canvas {
 public:
  // --- terminals -----------------------------------------------------------

  /// `wanted` if no terminal or note has that name, else the first free of
  /// "wanted-2", "wanted-3", ..., with `wanted` cut short (at a character
  /// boundary) where the suffix would pass the longest name. Costs no more
  /// for the thousandth suffix than for the first.
  std::string free_terminal_name(std::string_view wanted) const;
  /// Puts a terminal on the canvas; its name must be free.
  void add_terminal(TerminalEntry entry);
  /// Takes a terminal off the canvas and cuts all its ropes.
  void remove_terminal(std::string_view name);
  /// Takes a terminal off the canvas that left by itself (a joined shell
  /// that ended): its ropes to notes stay, by name, as after a restart.
  void forget_terminal(std::string_view name);
  const TerminalEntry* terminal(std::string_view name) const;
  /// True when `id` names a terminal on the canvas whose token is `token`.
  bool authenticate(std::string_view id, std::string_view token) const;
  /// The terminals roped to `caller`, by name.
  std::vector<std::string> peers(std::string_view caller) const;
  /// The peer `name` of `caller`; refuses "no such peer: NAME" otherwise.
  OrRefusal<const TerminalEntry*> peer(std::string_view caller, std::string_view name) const;
  /// Sets (or, with no role, clears) the role of `recruit`, which must be
  /// the caller or its peer; the role must exist.
  OrRefusal<void> assign_role(std::string_view caller, std::string_view recruit,
                              const std::optional<std::string>& role);

  /// Every terminal on the canvas, by name.
  std::vector<const TerminalEntry*> all_terminals() const;

  // --- ropes ---------------------------------------------------------------

  /// Ropes `from` and `to` (terminals looked up first, then notes) under the
  /// access rule above. False when they were roped already.
  OrRefusal<bool> connect(std::string_view caller, std::string_view from, std::string_view to);
  /// Ropes two items without any access check.
  void rope(const Item& x, const Item& y);
  /// Cuts the rope between two items, without any access check; false when
  /// there was none.
  bool cut(const Item& x, const Item& y);
  bool roped(const Item& x, const Item& y) const;
  /// The names of the items on the canvas roped to `item`, sorted.
  std::vector<std::string> ropes_of(const Item& item) const;

  // --- notes ---------------------------------------------------------------

  /// Every note, by name, marked when roped to `caller`.
  std::vector<NoteListing> notes_for(std::string_view caller) const;
  /// Every note's name and size in bytes, by name.
  std::vector<std::pair<std::string, std::size_t>> note_sizes() const;
  /// Creates a note (a generated name when `name` is absent), ropes the
  /// caller to it and returns its name.
  OrRefusal<std::string> create_note(std::string_view caller, std::optional<std::string> name, std::string content);
  /// The content of a note roped to `caller`.
  OrRefusal<const std::string*> note(std::string_view caller, std::string_view name) const;
  OrRefusal<void> write_note(std::string_view caller, std::string_view name, std::string content);
  /// Replaces the first occurrence of `old_text`; refuses when it is absent.
  OrRefusal<void> edit_note(std::string_view caller, std::string_view name, std::string_view old_text,
                            std::string_view new_text);
  /// Deletes the note and its ropes.
  OrRefusal<void> delete_note(std::string_view caller, std::string_view name);

  // The person's own note operations, without access checks.

  /// Refuses a note of `size` bytes in place of one of `replaced` bytes
  /// (`adds` when it is one note more) past the limits above.
  OrRefusal<void> check_note_room(std::size_t size, std::size_t replaced, bool adds) const;
  /// Creates a note roped to nothing (a generated name when `name` is
  /// absent) and returns its name.
  OrRefusal<std::string> add_note(std::optional<std::string> name, std::string content);
  /// Replaces the content of note `name`; refuses a missing note.
  OrRefusal<void> set_note(std::string_view name, std::string content);
  /// Deletes note `name` with its ropes and its place; refuses a missing note.
  OrRefusal<void> remove_note(std::string_view name);

  // --- roles ---------------------------------------------------------------

  std::vector<std::string> role_names() const;
  OrRefusal<const std::string*> role(std::string_view name) const;
  OrRefusal<void> create_role(std::string_view name, std::string prompt);
  OrRefusal<void> write_role(std::string_view name, std::string prompt);
  OrRefusal<void> edit_role(std::string_view name, std::string_view old_text, std::string_view new_text);
  OrRefusal<void> delete_role(std::string_view name);

  // --- everything, for the person's views ----------------------------------

  const std::map<std::string, TerminalEntry, std::less<>>& terminals() const { return terminals_; }

  // --- where items sit -----------------------------------------------------

  /// The box chosen for `item`, kept by name (also while no item of that
  /// name is on the canvas); null when none was.
  const Box* box(const Item& item) const;
  void set_box(const Item& item, Box box);

  /// Tells `watcher` (null: nobody) of every change from now on.
  void set_watcher(CanvasWatcher* watcher) { watcher_ = watcher; }

  // --- persistence ---------------------------------------------------------

  Snapshot snapshot() const;
  /// Replaces notes, roles and the ropes with a note end by `saved`; ropes
  /// between terminals stay. Tells no watcher: it comes before any view.
  void restore(Snapshot saved);

  /// What the state file keeps, without a copy: the notes, the roles,
  /// every rope (those with a note end are kept) and the places.
  const std::map<std::string, std::string, std::less<>>& notes() const { return notes_; }
  const std::map<std::string, std::string, std::less<>>& roles() const { return roles_; }
  const std::set<Rope>& ropes() const { return ropes_; }
  const std::map<Item, Box>& layout() const { return layout_; }
  /// A stamp of note `name`'s content: 0 as restored (as the state file
  /// holds it), and a new one, never given before, whenever it changes or
  /// a change to it is undone. The state file writes again only the notes
  /// whose stamp differs from the one it wrote.
  std::uint64_t note_revision(std::string_view name) const;

  /// Records the changes made while it lives; they are undone when it ends
  /// unless keep() was called. One at a time.
  class Change {
   public:
    explicit Change(Canvas& canvas);
    ~Change();
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;
    /// True when something the state file keeps has changed.
    bool kept_changed() const { return canvas_.kept_changed_; }
    void keep();

   private:
    Canvas& canvas_;
    bool keep_ = false;
  };

 private:
  using Undo = std::function<void(Canvas&)>;

  /// Records how to take back a change while a Change is open; `kept` tells
  /// whether the state file keeps what changed.
  void record(bool kept, Undo undo);
  bool taken(std::string_view name) const { return terminals_.contains(name) || notes_.contains(name); }
  /// The first free "base-N" from N = first on; see free_terminal_name.
  std::string free_suffixed(std::string_view base, unsigned first) const;
  /// After a name is freed: a suffix search for its base starts there again.
  void name_freed(std::string_view name);
  /// True when no terminal is roped to `item`; with `present_only`, no
  /// terminal on the canvas now.
  bool unroped(const Item& item, bool present_only) const;
  void cut_rope(const Rope& rope);
  void erase_terminal(std::string_view name);
  void erase_note(std::string_view name);
  /// Gives note `name` a new revision.
  void note_changed(std::string_view name);
  /// The item `name` stands for: a terminal if one has that name, else a
  /// note; refuses "no such item: NAME".
  OrRefusal<Item> resolve(std::string_view name) const;
  /// Refuses unless `item` is `caller` or roped to it, or a note that is
  /// free (or, for a person's shell, whose terminals are all gone).
  OrRefusal<void> require_reachable(std::string_view caller, const Item& item) const;
  OrRefusal<std::string*> reachable_note(std::string_view caller, std::string_view name);
  OrRefusal<std::string*> existing_role(std::string_view name);
  /// Cuts the ropes of `item`; with `terminals_only`, those to terminals
  /// alone.
  void cut_ropes(const Item& item, bool terminals_only = false);
  void touched(const Item& item) {
    if (watcher_ != nullptr) watcher_->item_changed(item);
  }
  void touched(const Rope& rope) {
    if (watcher_ != nullptr) watcher_->rope_changed(rope);
  }
  void roles_touched() {
    if (watcher_ != nullptr) watcher_->roles_changed();
  }

  std::map<std::string, TerminalEntry, std::less<>> terminals_;
  std::map<std::string, std::string, std::less<>> notes_;
  /// The revision of each note changed since the restore (see
  /// note_revision), and the last one given.
  std::map<std::string, std::uint64_t, std::less<>> note_revisions_;
  std::uint64_t last_revision_ = 0;
  std::map<std::string, std::string, std::less<>> roles_;
  std::set<Rope> ropes_;
  std::map<Item, Box> layout_;
  /// Per base name, the suffix a search for a free name starts at: every
  /// smaller suffix (from the first) is taken.
  mutable std::map<std::string, unsigned, std::less<>> next_suffix_;
  /// The open Change's undo steps, oldest first.
  std::vector<Undo> journal_;
  bool recording_ = false;
  bool kept_changed_ = false;
  CanvasWatcher* watcher_ = nullptr;
};

}  // namespace host
