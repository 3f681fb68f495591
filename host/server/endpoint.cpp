#include "server/endpoint.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "io.h"
#include "os_error.h"

namespace host {
namespace {

/// The failure `what`, with the system's reason from errno.
wire::Error fail(const std::string& what) { return wire::Error(what + ": " + os::error_text(errno)); }

std::string env_path(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

wire::Fallible<wire::UnixAddress> address_of(const std::string& path) {
  std::optional<wire::UnixAddress> address = wire::unix_address(path);
  if (!address) {
    return wire::Error("socket path is longer than " + std::to_string(wire::kMaxSocketPath) + " bytes: " + path);
  }
  return *address;
}

bool connects(const std::string& path) {
  os::UniqueFd fd;
  return wire::connect_unix(path, fd).ok();
}

/// Clears the way for a new socket at `path`.
wire::Status remove_stale(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return fail("cannot examine " + path);
  }
  if (!S_ISSOCK(st.st_mode)) return wire::Error(path + " exists and is not a socket");
  if (connects(path)) return wire::Error("another host is listening on " + path);
  if (::unlink(path.c_str()) != 0) return fail("cannot remove the stale socket " + path);
  return {};
}

}  // namespace

void Listener::remove() const {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode) ::unlink(path.c_str());
}

std::string default_socket_path() {
  std::string runtime = env_path("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime + "/welkmora/host.sock";
  return "/tmp/welkmora-" + std::to_string(::getuid()) + "/host.sock";
}

wire::Fallible<std::string> default_state_path() {
  std::string state = env_path("XDG_STATE_HOME");
  if (state.empty()) {
    std::string home = env_path("HOME");
    if (home.empty()) return wire::Error("neither XDG_STATE_HOME nor HOME is set; give --state FILE");
    state = home + "/.local/state";
  }
  return state + "/welkmora/host-state.json";
}

std::string absolute_path(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

wire::Status make_directory(const std::string& dir, bool private_dir) {
  std::filesystem::path p(dir);
  if (p.has_parent_path() && p.parent_path() != p) {
    struct stat parent {};
    if (::stat(p.parent_path().c_str(), &parent) != 0) {
      if (wire::Status made = make_directory(p.parent_path().string(), false); !made.ok()) return made;
    }
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return fail("cannot create directory " + dir);
  if (!private_dir) return {};
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return fail("cannot examine " + dir);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    return wire::Error(dir + " is not a directory of this user");
  }
  if ((st.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return fail("cannot restrict " + dir);
  return {};
}

wire::Fallible<Listener> listen_at(const std::string& path) {
  wire::Fallible<wire::UnixAddress> address = address_of(path);
  if (!address.ok()) return address.failure();
  if (wire::Status cleared = remove_stale(path); !cleared.ok()) return cleared.failure();
  Listener listener;
  listener.path = path;
  listener.fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener.fd) return fail("cannot create a socket");
  // Created with mode 0600 from the start: no moment in which others may connect.
  mode_t old_mask = ::umask(0177);
  int bound = ::bind(listener.fd.get(), address->get(), address->size);
  int bind_errno = errno;
  ::umask(old_mask);
  errno = bind_errno;
  if (bound != 0) return fail("cannot bind " + path);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return fail("cannot examine " + path);
  listener.device = st.st_dev;
  listener.inode = st.st_ino;
  if (::listen(listener.fd.get(), 128) != 0) {
    int err = errno;
    listener.remove();
    errno = err;
    return fail("cannot listen on " + path);
  }
  return listener;
}

}  // namespace host
