#include "store/note_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "io.h"
#include "os_error.h"
#include "unique_fd.h"

namespace host {
namespace {

/// The number a file of ours is named by; nothing for any other name.
std::optional<std::uint64_t> number_of(const std::string& name) {
  if (name.empty() || name.size() > 19 || name.find_first_not_of("0123456789") != std::string::npos) return {};
  return std::stoull(name);
}

}  // namespace

wire::Fallible<std::string> NoteFiles::write(std::string_view text) {
  if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) {
    return wire::Error("cannot create " + dir_ + ": " + os::error_text(errno));
  }
  for (;;) {
    std::string name = std::to_string(next_++);
    std::string file = path(name);
    os::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd && errno == EEXIST) continue;  // one a crash left, or of another StateFile on this directory
    if (!fd) return wire::Error("cannot create " + file + ": " + os::error_text(errno));
    wire::Status written = wire::write_all(fd.get(), text);
    if (written.ok() && ::fsync(fd.get()) != 0) written = wire::os_failure(errno);
    if (!written.ok()) {
      ::unlink(file.c_str());
      return wire::Error("cannot write " + file + ": " + written.failure().text);
    }
    return name;
  }
}

wire::Status NoteFiles::sync() const {
  os::UniqueFd dir(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir || ::fsync(dir.get()) != 0) {
    return wire::Error("cannot sync " + dir_ + ": " + os::error_text(errno));
  }
  return {};
}

wire::Fallible<std::string> NoteFiles::read(const std::string& name) const {
  std::string file = path(name);
  os::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  std::string text;
  wire::Status read = fd ? wire::read_all(fd.get(), text) : wire::os_failure(errno);
  if (!read.ok()) return wire::Error("cannot read " + file + ": " + read.failure().text);
  return text;
}

void NoteFiles::remove(const std::string& name) const { ::unlink(path(name).c_str()); }

void NoteFiles::keep_only(const std::set<std::string>& kept) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    std::string name = entry.path().filename().string();
    if (number_of(name) && !kept.contains(name)) ::unlink(entry.path().c_str());
  }
  for (const std::string& name : kept) next_ = std::max(next_, number_of(name).value_or(0) + 1);
}

}  // namespace host
