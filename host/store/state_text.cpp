#include "store/state_text.h"

#include <cstdint>

#include "json_text.h"

namespace host {
namespace {

using wire::Json;

Read<const std::string*> text_member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return Corrupt{std::string("an entry lacks the string \"") + key + "\""};
  return &it->get_ref<const std::string&>();
}

Read<const Json*> array_member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return Corrupt{std::string("\"") + key + "\" is not an array"};
  return &*it;
}

/// Reads [{name, <value_key>}...] into `out`, refusing repeated names.
Read<void> read_named(const Json& root, const char* key, const char* value_key,
                      std::map<std::string, std::string, std::less<>>& out) {
  Read<const Json*> entries = array_member(root, key);
  if (!entries.ok()) return entries.failure();
  for (const Json& entry : **entries) {
    if (!entry.is_object()) return Corrupt{std::string("an entry of \"") + key + "\" is not an object"};
    Read<const std::string*> name = text_member(entry, "name");
    if (!name.ok()) return name.failure();
    Read<const std::string*> value = text_member(entry, value_key);
    if (!value.ok()) return value.failure();
    if (!out.emplace(**name, **value).second) return Corrupt{std::string("\"") + key + "\" names " + **name + " twice"};
  }
  return {};
}

Read<Item> read_end(const Json& end) {
  if (!end.is_object()) return Corrupt{"a rope end is not an object"};
  Read<const std::string*> kind = text_member(end, "kind");
  if (!kind.ok()) return kind.failure();
  if (**kind != "note" && **kind != "terminal") return Corrupt{"a rope end has the unknown kind " + **kind};
  Read<const std::string*> name = text_member(end, "name");
  if (!name.ok()) return name.failure();
  return **kind == "note" ? Item::note(**name) : Item::terminal(**name);
}

Read<int> int_member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer())
    return Corrupt{std::string("a box lacks the integer \"") + key + "\""};
  auto value = it->get<std::int64_t>();
  if (value < -(1 << 30) || value > (1 << 30)) return Corrupt{std::string("a box's \"") + key + "\" is out of range"};
  return static_cast<int>(value);
}

Read<Box> read_box(const Json& entry) {
  Box box{};
  for (auto [key, field] :
       {std::pair{"x", &Box::x}, std::pair{"y", &Box::y}, std::pair{"w", &Box::w}, std::pair{"h", &Box::h}}) {
    Read<int> value = int_member(entry, key);
    if (!value.ok()) return value.failure();
    box.*field = *value;
  }
  return box;
}

/// The optional "layout": [{kind, name, x, y, w, h}...], which hosts before
/// the canvas page did not write.
Read<void> read_layout(const Json& root, std::map<Item, Box>& out) {
  if (!root.contains("layout")) return {};
  Read<const Json*> entries = array_member(root, "layout");
  if (!entries.ok()) return entries.failure();
  for (const Json& entry : **entries) {
    Read<Item> item = read_end(entry);
    if (!item.ok()) return item.failure();
    Read<Box> box = read_box(entry);
    if (!box.ok()) return box.failure();
    if (!out.emplace(std::move(*item), *box).second) return Corrupt{"\"layout\" places an item twice"};
  }
  return {};
}

/// Reads "notes": [{name, file}...], or [{name, content}...] as hosts
/// before the notes' own files wrote it.
Read<void> read_notes(const Json& root, StateText& out) {
  Read<const Json*> entries = array_member(root, "notes");
  if (!entries.ok()) return entries.failure();
  for (const Json& entry : **entries) {
    if (!entry.is_object()) return Corrupt{"an entry of \"notes\" is not an object"};
    Read<const std::string*> name = text_member(entry, "name");
    if (!name.ok()) return name.failure();
    bool inline_text = !entry.contains("file");
    Read<const std::string*> value = text_member(entry, inline_text ? "content" : "file");
    if (!value.ok()) return value.failure();
    if (out.state.notes.contains(**name) || out.note_files.contains(**name)) {
      return Corrupt{"\"notes\" names " + **name + " twice"};
    }
    if (inline_text) {
      out.state.notes.emplace(**name, **value);
    } else if ((*value)->empty() || (*value)->find_first_not_of("0123456789") != std::string::npos) {
      return Corrupt{"note " + **name + " names the file \"" + **value + "\", which is none of the notes' files"};
    } else {
      out.note_files.emplace(**name, **value);
    }
  }
  return {};
}

}  // namespace

Read<StateText> parse_state(std::string_view text) {
  Read<Json> versioned = read_versioned(text, kStateVersion);
  if (!versioned.ok()) return versioned.failure();
  const Json& root = *versioned;
  StateText parsed_state;
  Snapshot& state = parsed_state.state;
  if (Read<void> read = read_notes(root, parsed_state); !read.ok()) return read.failure();
  if (Read<void> read = read_named(root, "roles", "prompt", state.roles); !read.ok()) return read.failure();
  Read<const Json*> ropes = array_member(root, "ropes");
  if (!ropes.ok()) return ropes.failure();
  for (const Json& pair : **ropes) {
    if (!pair.is_array() || pair.size() != 2) return Corrupt{"a rope is not a pair of ends"};
    // The second end is read first: a rope with two bad ends has always
    // been refused for its second.
    Read<Item> b = read_end(pair[1]);
    if (!b.ok()) return b.failure();
    Read<Item> a = read_end(pair[0]);
    if (!a.ok()) return a.failure();
    Rope rope = Rope::between(std::move(*a), std::move(*b));
    if (!rope.has_note()) return Corrupt{"a rope has no note at either end"};
    state.ropes.insert(std::move(rope));
  }
  if (Read<void> read = read_layout(root, state.layout); !read.ok()) return read.failure();
  return parsed_state;
}

}  // namespace host
