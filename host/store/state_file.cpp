#include "store/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "io.h"
#include "json_text.h"
#include "os_error.h"
#include "outcome.h"
#include "store/state_text.h"
#include "unique_fd.h"
#include "utf8.h"

namespace host {
namespace {

using wire::Json;

/// Writes the state file's text to a descriptor as it is made, in pieces of
/// about kPiece bytes; the first failure sticks and ends the writing.
class Writer {
 public:
  explicit Writer(int fd) : fd_(fd) {}

  void put(std::string_view text) {
    if (out_.size() + text.size() < kPiece) {
      out_.append(text);
      return;
    }
    flush();
    // A large piece (a long note) goes out as it is, without a copy.
    if (text.size() >= kPiece) return write(text);
    out_.append(text);
  }

  /// `text` as a JSON string; bytes that are not UTF-8 become U+FFFD.
  void put_string(std::string_view text) {
    if (!utf8::is_valid_utf8(text)) return put_string(utf8::sanitize_utf8(text));
    out_.push_back('"');
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      put(text.substr(plain, i - plain));
      put_escape(c);
      plain = i + 1;
    }
    put(text.substr(plain));
    out_.push_back('"');
  }

  wire::Status finish() {
    flush();
    return status_;
  }

 private:
  static constexpr std::size_t kPiece = 1 << 20;

  void put_escape(unsigned char c) {
    switch (c) {
      case '"': return put("\\\"");
      case '\\': return put("\\\\");
      case '\n': return put("\\n");
      case '\t': return put("\\t");
      case '\r': return put("\\r");
      default: {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        put(escaped);
      }
    }
  }

  void write(std::string_view text) {
    if (status_.ok() && !text.empty()) status_ = wire::write_all(fd_, text);
  }

  void flush() {
    write(out_);
    out_.clear();
  }

  int fd_;
  std::string out_;
  wire::Status status_;
};

/// `{"name": NAME, "<key>": VALUE}` for each entry of `map`, as array items;
/// `value` gives the value of an entry.
template <class Map, class Value>
void put_named(Writer& out, const char* key, const Map& map, Value value) {
  const char* separator = "\n";
  for (const auto& entry : map) {
    out.put(separator);
    out.put("\t\t{\"name\": ");
    out.put_string(entry.first);
    out.put(std::string(", \"") + key + "\": ");
    out.put_string(value(entry.second));
    out.put("}");
    separator = ",\n";
  }
}

/// `"kind": KIND, "name": NAME`, the members that name an item.
void put_item(Writer& out, const Item& item) {
  out.put(item.kind == ItemKind::kNote ? "\"kind\": \"note\", \"name\": " : "\"kind\": \"terminal\", \"name\": ");
  out.put_string(item.name);
}

void put_end(Writer& out, const Item& item) {
  out.put("{");
  put_item(out, item);
  out.put("}");
}

/// The state file's text, one entry a line; the notes by the files that
/// hold their texts.
void put_state(Writer& out, const Canvas& canvas, const std::map<std::string, SavedNote, std::less<>>& notes) {
  out.put("{\n\t\"version\": " + std::to_string(kStateVersion) + ",\n\t\"notes\": [");
  put_named(out, "file", notes, [](const SavedNote& note) -> const std::string& { return note.file; });
  out.put("\n\t],\n\t\"roles\": [");
  put_named(out, "prompt", canvas.roles(), [](const std::string& prompt) -> const std::string& { return prompt; });
  out.put("\n\t],\n\t\"ropes\": [");
  const char* separator = "\n";
  for (const Rope& rope : canvas.ropes()) {
    if (!rope.has_note()) continue;
    out.put(separator);
    out.put("\t\t[");
    put_end(out, rope.a);
    out.put(", ");
    put_end(out, rope.b);
    out.put("]");
    separator = ",\n";
  }
  out.put("\n\t],\n\t\"layout\": [");
  separator = "\n";
  for (const auto& [item, box] : canvas.layout()) {
    out.put(separator);
    out.put("\t\t{");
    put_item(out, item);
    out.put(", \"x\": " + std::to_string(box.x) + ", \"y\": " + std::to_string(box.y) +
            ", \"w\": " + std::to_string(box.w) + ", \"h\": " + std::to_string(box.h) + "}");
    separator = ",\n";
  }
  out.put("\n\t]\n}\n");
}

/// Refuses anything at `path` but a regular file (or nothing).
wire::Status require_regular(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return wire::Error("cannot examine state file " + path + ": " + os::error_text(errno));
  }
  if (!S_ISREG(st.st_mode)) return wire::Error("state file " + path + " is not a regular file");
  return {};
}

/// The text of the state file at `path`; nothing when there is no file.
wire::Fallible<std::optional<std::string>> read_file(const std::string& path) {
  if (wire::Status regular = require_regular(path); !regular.ok()) return regular.failure();
  // Non-blocking, so that a FIFO put in its place meanwhile cannot hold the
  // start up; fstat then refuses it.
  os::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd && errno == ENOENT) return std::optional<std::string>();
  struct stat st {};
  if (fd && ::fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return wire::Error("state file " + path + " is not a regular file");
  }
  std::string text;
  wire::Status read = fd ? wire::read_all(fd.get(), text) : wire::os_failure(errno);
  if (!read.ok()) return wire::Error("cannot read state file " + path + ": " + read.failure().text);
  return std::optional<std::string>(std::move(text));
}

/// The target of the symbolic link `path`, or `path` itself when it is none.
wire::Fallible<std::string> followed(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* target = ::realpath(path.c_str(), nullptr);
  if (target == nullptr) {
    return wire::Error("state file " + path + " is a symbolic link to nothing: " + os::error_text(errno));
  }
  std::string resolved = target;
  std::free(target);
  return resolved;
}

/// Locks `lock` for this host; refuses when another host holds it, naming
/// that host's process id, which the lock file holds.
wire::Status lock_for_host(int lock, const std::string& path) {
  if (::flock(lock, LOCK_EX | LOCK_NB) == 0) return {};
  if (errno != EWOULDBLOCK) {
    return wire::Error("cannot lock " + path + ".lock: " + os::error_text(errno));
  }
  std::string holder;
  (void)wire::read_all(lock, holder);
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
  return wire::Error("another host uses the state file " + path +
                     (holder.empty() ? std::string() : " (process " + holder + ")"));
}

/// Whether `fd` is the file that `name` names now.
bool still_named(int fd, const std::string& name) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::lstat(name.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

/// Opens and locks `path`.lock for this host and writes its process id into
/// it. A host that stops removes the file while it still holds the lock, so
/// a lock won on a file that is no longer there is taken again on the file
/// there now; two hosts never hold locks on different files of one name.
wire::Fallible<os::UniqueFd> take_lock(const std::string& path) {
  std::string name = path + ".lock";
  for (;;) {
    os::UniqueFd lock(::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock) return wire::Error("cannot open " + name + ": " + os::error_text(errno));
    if (wire::Status locked = lock_for_host(lock.get(), path); !locked.ok()) return locked.failure();
    if (!still_named(lock.get(), name)) continue;
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock.get(), 0) == 0) (void)wire::write_all(lock.get(), pid);
    return lock;
  }
}

/// Removes the temporary files of `path` ("<name>.tmp-XXXXXX") that a host
/// killed in the middle of a save left; returns how many.
int remove_temporaries(const std::string& path) {
  std::filesystem::path file(path);
  std::string prefix = file.filename().string() + ".tmp-";
  std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  std::error_code ec;
  int removed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix) && entry.is_regular_file(ec) &&
        ::unlink(entry.path().c_str()) == 0) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace

wire::Fallible<Snapshot> StateFile::load() {
  wire::Fallible<std::optional<std::string>> text = read_file(path_);
  if (!text.ok()) return text.failure();
  if (!*text) return Snapshot{};
  auto corrupt = [&](const std::string& why) {
    return wire::Error("state file " + path_ + " is corrupt (" + why +
                       "); it is left untouched: repair it or move it away");
  };
  Read<StateText> parsed = parse_state(**text);
  if (!parsed.ok()) return corrupt(parsed.failure().why);
  Snapshot& state = parsed->state;
  std::map<std::string, SavedNote, std::less<>> saved;
  std::set<std::string> files;
  for (const auto& [name, file] : parsed->note_files) {
    wire::Fallible<std::string> note = notes_.read(file);
    if (!note.ok()) return corrupt("note " + name + ": " + note.failure().text);
    saved[name] = {file, 0, note->size()};  // revision 0: as restored
    files.insert(file);
    state.notes.emplace(name, std::move(*note));
  }
  saved_ = std::move(saved);
  if (lock_) notes_.keep_only(files);  // only the file's owner, who alone writes there
  return std::move(state);
}

wire::Fallible<int> StateFile::claim() {
  wire::Fallible<std::string> target = followed(path_);
  if (!target.ok()) return target.failure();
  path_ = std::move(*target);
  notes_ = NoteFiles(path_ + ".notes");
  if (wire::Status regular = require_regular(path_); !regular.ok()) return regular.failure();
  wire::Fallible<os::UniqueFd> lock = take_lock(path_);
  if (!lock.ok()) return lock.failure();
  lock_ = std::move(*lock);
  return remove_temporaries(path_);
}

StateFile::~StateFile() {
  // Removed while still held, so no other host can have locked it meanwhile.
  if (lock_) ::unlink((path_ + ".lock").c_str());
}

wire::Status StateFile::save(const Canvas& canvas) {
  // The notes changed since the last save go to new files; the state file
  // then names them, and the files it named before go.
  std::map<std::string, SavedNote, std::less<>> notes;
  std::vector<std::string> written;
  auto undo = [&](wire::Status failed) {
    for (const std::string& file : written) notes_.remove(file);
    return failed;
  };
  for (const auto& [name, text] : canvas.notes()) {
    std::uint64_t revision = canvas.note_revision(name);
    auto before = saved_.find(name);
    if (before != saved_.end() && before->second.revision == revision && before->second.bytes == text.size()) {
      notes.emplace(name, before->second);
      continue;
    }
    wire::Fallible<std::string> file = notes_.write(text);
    if (!file.ok()) return undo(file.failure());
    written.push_back(*file);
    notes.emplace(name, SavedNote{*file, revision, text.size()});
  }
  if (!written.empty()) {
    if (wire::Status synced = notes_.sync(); !synced.ok()) return undo(synced);
  }
  if (wire::Status replaced = replace_file(canvas, notes); !replaced.ok()) return undo(replaced);
  for (const auto& [name, note] : saved_) {
    auto now = notes.find(name);
    if (now == notes.end() || now->second.file != note.file) notes_.remove(note.file);
  }
  saved_ = std::move(notes);
  return {};
}

wire::Status StateFile::replace_file(const Canvas& canvas, const std::map<std::string, SavedNote, std::less<>>& notes) {
  std::string temp = path_ + ".tmp-XXXXXX";
  os::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) return wire::Error("cannot create " + temp + ": " + os::error_text(errno));
  auto fail = [&](const std::string& step, const std::string& why) {
    ::unlink(temp.c_str());
    return wire::Error(step + " " + temp + ": " + why);
  };
  Writer out(fd.get());
  put_state(out, canvas, notes);
  if (wire::Status written = out.finish(); !written.ok()) return fail("cannot write", written.failure().text);
  if (::fsync(fd.get()) != 0) return fail("cannot sync", os::error_text(errno));
  fd.reset();
  if (::rename(temp.c_str(), path_.c_str()) != 0) return fail("cannot rename", os::error_text(errno));
  std::string dir = std::filesystem::path(path_).parent_path().string();
  os::UniqueFd dir_fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd) ::fsync(dir_fd.get());
  return {};
}

}  // namespace host
