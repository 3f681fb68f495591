#include "model/state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "io.h"
#include "json_text.h"
#include "os_error.h"
#include "unique_fd.h"

namespace host {
namespace {

using wire::Json;

constexpr int kVersion = 1;

/// Why a state file is refused; caught in load() and given the file's name.
struct Corrupt {
  std::string why;
};

const std::string& text_member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) throw Corrupt{std::string("an entry lacks the string \"") + key + "\""};
  return it->get_ref<const std::string&>();
}

const Json& array_member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_array()) throw Corrupt{std::string("\"") + key + "\" is not an array"};
  return *it;
}

/// Reads [{name, <value_key>}...] into `out`, refusing repeated names.
void read_named(const Json& root, const char* key, const char* value_key,
                std::map<std::string, std::string, std::less<>>& out) {
  for (const Json& entry : array_member(root, key)) {
    if (!entry.is_object()) throw Corrupt{std::string("an entry of \"") + key + "\" is not an object"};
    const std::string& name = text_member(entry, "name");
    if (!out.emplace(name, text_member(entry, value_key)).second) {
      throw Corrupt{std::string("\"") + key + "\" names " + name + " twice"};
    }
  }
}

Item read_end(const Json& end) {
  if (!end.is_object()) throw Corrupt{"a rope end is not an object"};
  const std::string& kind = text_member(end, "kind");
  if (kind == "note") return Item::note(text_member(end, "name"));
  if (kind == "terminal") return Item::terminal(text_member(end, "name"));
  throw Corrupt{"a rope end has the unknown kind " + kind};
}

int int_member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer())
    throw Corrupt{std::string("a box lacks the integer \"") + key + "\""};
  auto value = it->get<std::int64_t>();
  if (value < -(1 << 30) || value > (1 << 30)) throw Corrupt{std::string("a box's \"") + key + "\" is out of range"};
  return static_cast<int>(value);
}

/// The optional "layout": [{kind, name, x, y, w, h}...], which hosts before
/// the canvas page did not write.
void read_layout(const Json& root, std::map<Item, Box>& out) {
  if (!root.contains("layout")) return;
  for (const Json& entry : array_member(root, "layout")) {
    Item item = read_end(entry);
    Box box{int_member(entry, "x"), int_member(entry, "y"), int_member(entry, "w"), int_member(entry, "h")};
    if (!out.emplace(std::move(item), box).second) throw Corrupt{"\"layout\" places an item twice"};
  }
}

Snapshot parse_state(std::string_view text) {
  wire::Result parsed = wire::parse_json(text);
  if (!parsed.ok()) throw Corrupt{"not valid JSON: " + parsed.error};
  const Json& root = *parsed.value;
  if (!root.is_object()) throw Corrupt{"not a JSON object"};
  auto version = root.find("version");
  if (version == root.end() || !version->is_number_integer() || version->get<std::int64_t>() != kVersion) {
    throw Corrupt{"unknown \"version\" (this host reads version 1)"};
  }
  Snapshot state;
  read_named(root, "notes", "content", state.notes);
  read_named(root, "roles", "prompt", state.roles);
  for (const Json& pair : array_member(root, "ropes")) {
    if (!pair.is_array() || pair.size() != 2) throw Corrupt{"a rope is not a pair of ends"};
    Rope rope = Rope::between(read_end(pair[0]), read_end(pair[1]));
    if (!rope.has_note()) throw Corrupt{"a rope has no note at either end"};
    state.ropes.insert(std::move(rope));
  }
  read_layout(root, state.layout);
  return state;
}

Json end_json(const Item& item) {
  return {{"kind", item.kind == ItemKind::kNote ? "note" : "terminal"}, {"name", item.name}};
}

std::string render_state(const Snapshot& state) {
  Json notes = Json::array(), roles = Json::array(), ropes = Json::array();
  for (const auto& [name, content] : state.notes) notes.push_back({{"name", name}, {"content", content}});
  for (const auto& [name, prompt] : state.roles) roles.push_back({{"name", name}, {"prompt", prompt}});
  for (const Rope& rope : state.ropes) ropes.push_back(Json::array({end_json(rope.a), end_json(rope.b)}));
  Json layout = Json::array();
  for (const auto& [item, box] : state.layout) {
    Json entry = end_json(item);
    entry.update({{"x", box.x}, {"y", box.y}, {"w", box.w}, {"h", box.h}});
    layout.push_back(std::move(entry));
  }
  Json root = {{"version", kVersion}, {"notes", notes}, {"roles", roles}, {"ropes", ropes}, {"layout", layout}};
  return root.dump(1, '\t') + "\n";
}

std::string read_file(const std::string& path, bool& absent) {
  wire::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd && errno == ENOENT) {
    absent = true;
    return {};
  }
  std::string text;
  wire::Status read = fd ? wire::read_all(fd.get(), text) : wire::Status::os_failure(errno);
  if (!read.ok()) throw std::runtime_error("cannot read state file " + path + ": " + read.error());
  return text;
}

}  // namespace

Snapshot StateFile::load() const {
  bool absent = false;
  std::string text = read_file(path_, absent);
  if (absent) return {};
  try {
    return parse_state(text);
  } catch (const Corrupt& c) {
    throw std::runtime_error("state file " + path_ + " is corrupt (" + c.why +
                             "); it is left untouched: repair it or move it away");
  }
}

wire::Status StateFile::save(const Snapshot& state) const {
  std::string temp = path_ + ".tmp-XXXXXX";
  wire::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) return wire::Status::failure("cannot create " + temp + ": " + wire::os_error_text(errno));
  auto fail = [&](const std::string& step, const std::string& why) {
    ::unlink(temp.c_str());
    return wire::Status::failure(step + " " + temp + ": " + why);
  };
  if (wire::Status written = wire::write_all(fd.get(), render_state(state)); !written.ok()) {
    return fail("cannot write", written.error());
  }
  if (::fsync(fd.get()) != 0) return fail("cannot sync", wire::os_error_text(errno));
  fd.reset();
  if (::rename(temp.c_str(), path_.c_str()) != 0) return fail("cannot rename", wire::os_error_text(errno));
  std::string dir = std::filesystem::path(path_).parent_path().string();
  wire::UniqueFd dir_fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd) ::fsync(dir_fd.get());
  return {};
}

}  // namespace host
