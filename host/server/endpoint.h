#pragma once
// Where the host lives in the file system: its socket, in a directory only
// the user can enter, and its state file.

#include <sys/types.h>

#include <string>

#include "outcome.h"
#include "status.h"
#include "unique_fd.h"

namespace host {

/// The listening socket and the path it is bound to.
struct Listener {
  os::UniqueFd fd;
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;

  /// Removes the socket file, if it is still the one bound here.
  void remove() const;
};

/// $XDG_RUNTIME_DIR/welkmora/host.sock, or /tmp/welkmora-UID/host.sock when
/// that variable is unset or not an absolute path.
std::string default_socket_path();

/// $XDG_STATE_HOME/welkmora/host-state.json, or the same below
/// $HOME/.local/state; fails when neither variable is an absolute path.
wire::Fallible<std::string> default_state_path();

/// `path` made absolute against the working directory.
std::string absolute_path(const std::string& path);

/// Makes `dir` and its missing parents with mode 0700. With `private_dir`,
/// `dir` must also be a real directory of this user, and its mode becomes
/// 0700. Fails with a message for the user.
wire::Status make_directory(const std::string& dir, bool private_dir);

/// Binds a non-blocking listening socket at `path` with mode 0600. A stale
/// socket file is replaced; a live one (another host) or a file of another
/// kind is refused, as is any step that fails, with a message for the user.
wire::Fallible<Listener> listen_at(const std::string& path);

}  // namespace host
