#include "store/terminal_store.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "io.h"
#include "json_text.h"
#include "os_error.h"
#include "store/versioned_json.h"
#include "unique_fd.h"

namespace host {
namespace {

using wire::Json;

constexpr int kVersion = 1;
constexpr std::string_view kScreenMagic = "welkmora-screen 1 ";
/// The longest name part of a screen file's name.
constexpr std::size_t kNameChars = 48;
/// The largest record file read: far more than any canvas needs.
constexpr std::size_t kMaxRecordBytes = 64 << 20;

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string hex(std::uint64_t n) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, n);
  return text;
}

/// Writes `text` to `path` through a temporary file beside it, synced and
/// renamed into place, with mode 0600.
wire::Status write_atomically(const std::string& path, std::string_view text) {
  std::string temp = path + ".tmp-XXXXXX";
  os::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) return wire::Error("cannot create " + temp + ": " + os::error_text(errno));
  auto fail = [&](const std::string& step, const std::string& why) {
    ::unlink(temp.c_str());
    return wire::Error(step + " " + temp + ": " + why);
  };
  if (wire::Status written = wire::write_all(fd.get(), text); !written.ok())
    return fail("cannot write", written.failure().text);
  if (::fsync(fd.get()) != 0) return fail("cannot sync", os::error_text(errno));
  fd.reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot rename", os::error_text(errno));
  std::string dir = std::filesystem::path(path).parent_path().string();
  os::UniqueFd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd) ::fsync(dir_fd.get());
  return {};
}

/// The text of the file at `path`, of at most `most` bytes; nothing when
/// there is none.
wire::Fallible<std::optional<std::string>> read_text(const std::string& path, std::size_t most) {
  os::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!fd && errno == ENOENT) return std::optional<std::string>();
  struct stat st {};
  if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
    return wire::Error(path + " is not a regular file");
  }
  if (fd && static_cast<std::size_t>(st.st_size) > most) {
    return wire::Error(path + " is larger than " + std::to_string(most) + " bytes");
  }
  std::string text;
  wire::Status read = fd ? wire::read_all(fd.get(), text) : wire::os_failure(errno);
  if (!read.ok()) return wire::Error("cannot read " + path + ": " + read.failure().text);
  return std::optional<std::string>(std::move(text));
}

// --- the record file ---------------------------------------------------------

Json record_json(const SavedTerminal& t) {
  Json record = {{"name", t.name}, {"command", t.command}, {"preset", t.preset}, {"cwd", t.cwd},   {"role", t.role},
                 {"rows", t.rows}, {"cols", t.cols},       {"ropes", t.ropes},   {"held", t.held}, {"lead", t.lead}};
  if (t.exit_code) record["exitCode"] = *t.exit_code;
  return record;
}

/// Sets `out` from member `key` of `record` when it has one of type T.
template <class T>
Read<void> member(const Json& record, const char* key, T& out, bool required) {
  auto it = record.find(key);
  if (it == record.end()) {
    if (!required) return {};
    return Corrupt{std::string("a terminal lacks \"") + key + "\""};
  }
  bool fits = false;
  if constexpr (std::is_same_v<T, std::string>) fits = it->is_string();
  if constexpr (std::is_same_v<T, bool>) fits = it->is_boolean();
  if constexpr (std::is_same_v<T, int>)
    fits = it->is_number_integer() && it->get<std::int64_t>() >= 0 && it->get<std::int64_t>() < 100000;
  if (!fits) return Corrupt{std::string("a terminal's \"") + key + "\" has the wrong type"};
  out = it->get<T>();
  return {};
}

Read<SavedTerminal> read_record(const Json& record) {
  if (!record.is_object()) return Corrupt{"a terminal is not an object"};
  SavedTerminal t;
  for (auto [key, field] : {std::pair{"command", &SavedTerminal::command}, std::pair{"preset", &SavedTerminal::preset},
                            std::pair{"cwd", &SavedTerminal::cwd}, std::pair{"role", &SavedTerminal::role}}) {
    if (Read<void> read = member(record, key, t.*field, false); !read.ok()) return read.failure();
  }
  if (Read<void> read = member(record, "name", t.name, true); !read.ok()) return read.failure();
  if (Read<void> read = member(record, "rows", t.rows, true); !read.ok()) return read.failure();
  if (Read<void> read = member(record, "cols", t.cols, true); !read.ok()) return read.failure();
  if (Read<void> read = member(record, "held", t.held, false); !read.ok()) return read.failure();
  if (Read<void> read = member(record, "lead", t.lead, false); !read.ok()) return read.failure();
  if (t.name.empty() || t.rows < 1 || t.cols < 1) return Corrupt{"a terminal has no name or no size"};
  int code = 0;
  if (Read<void> read = member(record, "exitCode", code, false); !read.ok()) return read.failure();
  if (record.contains("exitCode")) t.exit_code = code;
  auto ropes = record.find("ropes");
  if (ropes != record.end()) {
    if (!ropes->is_array()) return Corrupt{"a terminal's \"ropes\" is not an array"};
    for (const Json& rope : *ropes) {
      if (!rope.is_string()) return Corrupt{"a terminal's rope is not a name"};
      t.ropes.push_back(rope.get<std::string>());
    }
  }
  return t;
}

Read<std::vector<SavedTerminal>> parse_records(std::string_view text) {
  Read<Json> versioned = read_versioned(text, kVersion);
  if (!versioned.ok()) return versioned.failure();
  const Json& root = *versioned;
  auto list = root.find("terminals");
  if (list == root.end() || !list->is_array()) return Corrupt{"\"terminals\" is not an array"};
  std::vector<SavedTerminal> out;
  for (const Json& record : *list) {
    Read<SavedTerminal> t = read_record(record);
    if (!t.ok()) return t.failure();
    for (const SavedTerminal& earlier : out) {
      if (earlier.name == t->name) return Corrupt{"names " + t->name + " twice"};
    }
    out.push_back(std::move(*t));
  }
  return out;
}

// --- screen files ------------------------------------------------------------

std::string screen_file_text(const SavedScreen& screen) {
  std::string text(kScreenMagic);
  text += std::to_string(screen.rows) + " " + std::to_string(screen.cols) + " " + std::to_string(screen.text.size()) +
          " " + hex(fnv1a(screen.text)) + "\n";
  return text + screen.text;
}

/// The screen in a screen file's text, or why it is refused.
Read<SavedScreen> parse_screen(std::string_view text) {
  std::size_t end = text.find('\n');
  if (!text.starts_with(kScreenMagic) || end == std::string_view::npos || end > 128) {
    return Corrupt{"it has no screen header"};
  }
  std::string header(text.substr(kScreenMagic.size(), end - kScreenMagic.size()));
  SavedScreen screen;
  unsigned long long bytes = 0;
  char hash[17] = {};
  int used = 0;
  if (std::sscanf(header.c_str(), "%d %d %llu %16[0-9a-f]%n", &screen.rows, &screen.cols, &bytes, hash, &used) != 4 ||
      used != static_cast<int>(header.size()) || screen.rows < 1 || screen.cols < 1 || screen.rows > 10000 ||
      screen.cols > 10000) {
    return Corrupt{"its header is damaged"};
  }
  std::string_view body = text.substr(end + 1);
  if (body.size() != bytes) {
    return Corrupt{"it is cut short or overlong (" + std::to_string(body.size()) + " bytes of " +
                   std::to_string(bytes) + ")"};
  }
  if (hex(fnv1a(body)) != hash) return Corrupt{"it is damaged (its checksum does not match)"};
  screen.text = body;
  return screen;
}

}  // namespace

TerminalStore::TerminalStore(const std::string& state_path) : dir_(state_path + ".terminals") {}

TerminalStore::~TerminalStore() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

std::string TerminalStore::screen_path(std::string_view name) const {
  // A readable part of the name and a hash of all of it: any name makes a
  // file name of its own that a person can tell.
  std::string readable;
  for (char c : name.substr(0, kNameChars)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    readable.push_back(plain ? c : '_');
  }
  return dir_ + "/" + readable + "-" + hex(fnv1a(name)) + ".screen";
}

int TerminalStore::remove_temporaries() const {
  std::error_code ec;
  int removed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    std::string name = entry.path().filename().string();
    std::size_t mark = name.rfind(".tmp-");
    if (mark != std::string::npos && mark + 11 == name.size() && entry.is_regular_file(ec) &&
        ::unlink(entry.path().c_str()) == 0) {
      ++removed;
    }
  }
  return removed;
}

wire::Fallible<std::vector<SavedTerminal>> TerminalStore::load() const {
  std::string path = dir_ + "/terminals.json";
  wire::Fallible<std::optional<std::string>> text = read_text(path, kMaxRecordBytes);
  if (!text.ok()) return text.failure();
  if (!*text) return std::vector<SavedTerminal>();
  Read<std::vector<SavedTerminal>> records = parse_records(**text);
  if (!records.ok()) {
    return wire::Error("the saved terminals " + path + " are corrupt (" + records.failure().why +
                       "); they are left untouched: repair or move the file away");
  }
  return std::move(*records);
}

wire::Fallible<SavedScreen> TerminalStore::load_screen(std::string_view name) const {
  std::string path = screen_path(name);
  // The header is a line of at most 128 bytes.
  wire::Fallible<std::optional<std::string>> text = read_text(path, kMaxScreenBytes + 128);
  if (!text.ok()) return text.failure();
  if (!*text) return wire::Error("no saved screen " + path);
  Read<SavedScreen> screen = parse_screen(**text);
  if (!screen.ok()) return wire::Error("the saved screen " + path + " is refused: " + screen.failure().why);
  return std::move(*screen);
}

void TerminalStore::save(const std::vector<SavedTerminal>& terminals) {
  Json list = Json::array();
  for (const SavedTerminal& t : terminals) list.push_back(record_json(t));
  Json root = {{"version", kVersion}, {"terminals", std::move(list)}};
  queue(dir_ + "/terminals.json", root.dump(1, '\t', false, Json::error_handler_t::replace) + "\n");
}

void TerminalStore::save_screen(std::string_view name, const SavedScreen& screen) {
  queue(screen_path(name), screen_file_text(screen));
}

void TerminalStore::drop_screen(std::string_view name) { queue(screen_path(name), std::nullopt); }

void TerminalStore::queue(std::string path, Job job) {
  {
    std::lock_guard lock(mutex_);
    pending_[std::move(path)] = std::move(job);
    if (!writer_.joinable()) {
      try {
        writer_ = std::thread([this] { run(); });
      } catch (const std::system_error& e) {
        // Out of threads: nothing is written now; the next save tries again.
        failures_.push_back(std::string("cannot start the thread that writes: ") + e.what());
        pending_.clear();
        return;
      }
      // Named, so that top -H and the benchmark tell its time apart.
      ::pthread_setname_np(writer_.native_handle(), "screen-saves");
    }
  }
  wake_.notify_one();
}

void TerminalStore::flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return pending_.empty() && !busy_; });
}

std::vector<std::string> TerminalStore::take_failures() {
  std::lock_guard lock(mutex_);
  return std::exchange(failures_, {});
}

void TerminalStore::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !pending_.empty(); });
    if (pending_.empty()) return;  // quitting, every write made
    auto next = pending_.begin();
    std::string path = next->first;
    Job job = std::move(next->second);
    pending_.erase(next);
    busy_ = true;
    lock.unlock();
    wire::Status done;
    if (!job) {
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        done = wire::Error("cannot remove " + path + ": " + os::error_text(errno));
      }
    } else if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) {
      done = wire::Error("cannot make " + dir_ + ": " + os::error_text(errno));
    } else {
      done = write_atomically(path, *job);
    }
    lock.lock();
    busy_ = false;
    if (!done.ok()) failures_.push_back(done.failure().text);
    if (pending_.empty()) idle_.notify_all();
  }
}

}  // namespace host
