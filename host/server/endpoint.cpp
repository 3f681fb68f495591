#include "server/endpoint.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "io.h"
#include "os_error.h"

namespace host {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + wire::os_error_text(errno)); }

std::string env_path(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

wire::UnixAddress address_of(const std::string& path) {
  std::optional<wire::UnixAddress> address = wire::unix_address(path);
  if (!address) {
    throw std::runtime_error("socket path is longer than " + std::to_string(wire::kMaxSocketPath) + " bytes: " + path);
  }
  return *address;
}

bool connects(const std::string& path) {
  wire::UniqueFd fd;
  return wire::connect_unix(path, fd).ok();
}

/// Clears the way for a new socket at `path`.
void remove_stale(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    fail("cannot examine " + path);
  }
  if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
  if (connects(path)) throw std::runtime_error("another host is listening on " + path);
  if (::unlink(path.c_str()) != 0) fail("cannot remove the stale socket " + path);
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

std::string default_state_path() {
  std::string state = env_path("XDG_STATE_HOME");
  if (state.empty()) {
    std::string home = env_path("HOME");
    if (home.empty()) throw std::runtime_error("neither XDG_STATE_HOME nor HOME is set; give --state FILE");
    state = home + "/.local/state";
  }
  return state + "/welkmora/host-state.json";
}

std::string absolute_path(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

void make_directory(const std::string& dir, bool private_dir) {
  std::filesystem::path p(dir);
  if (p.has_parent_path() && p.parent_path() != p) {
    struct stat parent {};
    if (::stat(p.parent_path().c_str(), &parent) != 0) make_directory(p.parent_path().string(), false);
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) fail("cannot create directory " + dir);
  if (!private_dir) return;
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) fail("cannot examine " + dir);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    throw std::runtime_error(dir + " is not a directory of this user");
  }
  if ((st.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) fail("cannot restrict " + dir);
}

Listener listen_at(const std::string& path) {
  wire::UnixAddress address = address_of(path);
  remove_stale(path);
  Listener listener;
  listener.path = path;
  listener.fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener.fd) fail("cannot create a socket");
  // Created with mode 0600 from the start: no moment in which others may connect.
  mode_t old_mask = ::umask(0177);
  int bound = ::bind(listener.fd.get(), address.get(), address.size);
  int bind_errno = errno;
  ::umask(old_mask);
  errno = bind_errno;
  if (bound != 0) fail("cannot bind " + path);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) fail("cannot examine " + path);
  listener.device = st.st_dev;
  listener.inode = st.st_ino;
  if (::listen(listener.fd.get(), 128) != 0) {
    int err = errno;
    listener.remove();
    errno = err;
    fail("cannot listen on " + path);
  }
  return listener;
}

}  // namespace host
