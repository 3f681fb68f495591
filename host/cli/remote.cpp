// `welkmora-host remote [SSH-OPTIONS...] DESTINATION [-- COMMAND...]`: a
// recruit's command that runs its agent on another machine. OpenSSH does the
// carrying: one master connection per destination (its socket in the host's
// runtime folder) serves every recruit there; through it a check runs on
// the remote, the static client is copied when the remote lacks this one,
// the host's socket is forwarded to a fresh Unix socket on the remote, and
// the session runs in a remote pty. The recruit's token crosses on ssh's
// standard input into a file only the remote user can read, removed as the
// session starts; it is on no command line at either end.

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "cli/child_process.h"
#include "cli/command.h"
#include "cli/remote_scripts.h"
#include "io.h"
#include "pty/cgroups.h"
#include "server/endpoint.h"

#ifndef WELKMORA_VERSION
#define WELKMORA_VERSION "0"
#endif

namespace host::cli {
namespace {

/// ssh's options that take a value (its getopt string), for telling them
/// from the destination.
constexpr std::string_view kValued = "BbcDEeFIiJLlmOoPpQRSWw";

struct Words {
  std::vector<std::string> ssh_options;
  std::string destination;
  std::vector<std::string> command;
};

/// True when ssh option word `w` ("-p", "-vp", "-oX=y") takes the next word
/// as its value.
bool takes_next(const std::string& w) {
  for (std::size_t j = 1; j < w.size(); ++j) {
    if (kValued.find(w[j]) != std::string_view::npos) return j + 1 == w.size();
  }
  return false;
}

OrFault<Words> split_words(const std::vector<std::string>& words) {
  Words out;
  std::size_t i = 0;
  for (; i < words.size() && words[i].size() > 1 && words[i][0] == '-' && words[i] != "--"; ++i) {
    out.ssh_options.push_back(words[i]);
    if (!takes_next(words[i])) continue;
    if (i + 1 >= words.size()) return usage_fault(words[i] + " needs a value");
    out.ssh_options.push_back(words[++i]);
  }
  if (i >= words.size() || words[i] == "--") return usage_fault("remote needs a DESTINATION");
  out.destination = words[i++];
  if (i < words.size() && words[i] == "--") ++i;
  out.command.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
  return out;
}

std::string env_text(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

std::string hex(const unsigned char* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
  return out;
}

/// The SHA-256 of `bytes` in hex; empty when it cannot be made.
std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) return {};
  return hex(digest, size);
}

OrFault<std::string> random_id() {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return Fault{"no random bytes"};
  return hex(bytes, sizeof bytes);
}

struct Client {
  std::string bytes;
  std::string sha256;
};

/// The client next to this program (the build folder, or the installed
/// bindir), with its SHA-256.
OrFault<Client> local_client() {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string here = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
  std::string path = here.substr(0, here.rfind('/') + 1) + "welkmora";
#ifdef WELKMORA_BINDIR
  if (::access(path.c_str(), X_OK) != 0) path = WELKMORA_BINDIR "/welkmora";
#endif
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  if (!in || bytes.str().empty()) return Fault{"cannot read the welkmora client at " + path};
  Client client{bytes.str(), ""};
  client.sha256 = sha256_hex(client.bytes);
  if (client.sha256.empty()) return Fault{"cannot hash the welkmora client"};
  return client;
}

std::string machine() {
  utsname u{};
  ::uname(&u);
  return u.machine;
}

/// The last line ssh wrote, for saying why it failed.
std::string last_line(const std::string& text) {
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  std::size_t nl = s.find_last_of('\n');
  return nl == std::string::npos ? s : s.substr(nl + 1);
}

/// ssh to one destination through the host's master connection there. Its
/// files in the runtime folder are named by a hash of the ssh options and
/// the destination: ssh-KEY (the master's control socket) and
/// ssh-KEY.users (the lock its recruits share).
class Link {
 public:
  explicit Link(const Words& words) : destination_(words.destination) {
    std::string runtime = default_socket_path();
    runtime.resize(runtime.rfind('/'));
    ::mkdir(runtime.c_str(), 0700);
    std::string key;
    for (const std::string& w : words.ssh_options) key += w + '\0';
    key = sha256_hex(key + destination_).substr(0, 16);
    name_ = "ssh-" + key;
    control_ = runtime + "/" + name_;
    base_ = {"ssh"};
    base_.insert(base_.end(), words.ssh_options.begin(), words.ssh_options.end());
    base_.insert(base_.end(), {"-o", "ControlPath=" + control_});
  }

  const std::string& destination() const { return destination_; }
  /// ssh-KEY: the name of the master's socket and of its control group.
  const std::string& name() const { return name_; }
  const std::string& control_path() const { return control_; }

  /// ssh's words for `extra` options and then the remote command line. It
  /// goes through the master when there is one, and never becomes one.
  std::vector<std::string> argv(std::vector<std::string> extra, const std::string& remote = "") const {
    std::vector<std::string> out = base_;
    out.insert(out.end(), {"-o", "ControlMaster=no"});
    out.insert(out.end(), extra.begin(), extra.end());
    out.push_back(destination_);
    if (!remote.empty()) out.push_back(remote);
    return out;
  }

  Captured run(const std::string& remote, std::string_view input) const {
    return run_captured(argv({"-T"}, remote), input);
  }

  /// ssh's words for running `remote` through the master or as the master:
  /// one that starts it when there is none (logging in, on this terminal
  /// when it must ask). The master ends 10 minutes after its last session
  /// at the latest.
  std::vector<std::string> master_argv(const std::string& remote) const {
    std::vector<std::string> out = base_;
    out.insert(out.end(), {"-o", "ControlMaster=auto", "-o", "ControlPersist=10m", "-T", destination_, remote});
    return out;
  }

 private:
  std::string destination_;
  std::string name_;
  std::string control_;
  std::vector<std::string> base_;
};

/// The share of one recruit in its destination's master connection. The
/// master runs in a control group of the host's own (beside the
/// terminals' groups, named as its socket), so that no recruit's dismissal
/// ends it. Its recruits share the lock file ssh-KEY.users: each holds a
/// read lock on its first byte while it runs, and the last to end (the one
/// that can lock it alone) ends the master, its socket and its group; a
/// write lock on the second byte lets one recruit at a time start it.
class SharedConnection {
 public:
  explicit SharedConnection(const Link& link) : link_(link), lock_path_(link.control_path() + ".users") {
    // A lock won on a file that the last recruit of a previous master
    // removed meanwhile is taken again on the file there now.
    for (int attempt = 0; attempt < 100; ++attempt) {
      lock_ = os::UniqueFd(::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (!lock_ || !lock_byte(kUsers, F_RDLCK, true) || still_named()) break;
    }
    group_ = shared_group(link.name());  // under the lock: no last recruit removes it now
  }
  ~SharedConnection() {
    if (!lock_ || !lock_byte(kUsers, F_WRLCK, false)) return;  // others still use it
    run_detached(link_.argv({"-O", "exit"}));
    ::unlink(link_.control_path().c_str());  // left by a master that was killed
    if (!group_.empty()) {
      Cgroups::kill(group_);
      for (int attempt = 0; attempt < 50 && !Cgroups::remove(group_); ++attempt) ::usleep(10000);
    }
    ::unlink(lock_path_.c_str());
  }
  SharedConnection(const SharedConnection&) = delete;
  SharedConnection& operator=(const SharedConnection&) = delete;

  /// Runs `remote` with `input` as Link::run does, starting the master (in
  /// its group) when there is none; waits while another recruit starts it.
  Captured run_first(const std::string& remote, std::string_view input) {
    bool starter = lock_ && lock_byte(kStart, F_WRLCK, true);
    Captured got = run_captured(link_.master_argv(remote), input, group_);
    if (starter) lock_byte(kStart, F_UNLCK, false);
    return got;
  }

 private:
  static constexpr off_t kUsers = 0, kStart = 1;

  /// Locks byte `at` of the lock file as `type` (or unlocks it); with
  /// `wait`, waits for it.
  bool lock_byte(off_t at, short type, bool wait) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = at;
    range.l_len = 1;
    while (::fcntl(lock_.get(), wait ? F_OFD_SETLKW : F_OFD_SETLK, &range) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  /// The group `name` beside this process's own, when this runs in a
  /// terminal's group of a host (HOSTGROUP/tN): HOSTGROUP/NAME, created
  /// when missing. Empty otherwise.
  static std::string shared_group(const std::string& name) {
    std::string own = Cgroups::group_of(::getpid());
    std::size_t slash = own.rfind('/');
    if (slash == std::string::npos || own.compare(slash, 2, "/t") != 0) return {};
    std::string host = own.substr(0, slash);
    if (host.substr(host.rfind('/') + 1).rfind("welkmora-host-", 0) != 0) return {};
    std::string dir = host + "/" + name;
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return {};
    return dir;
  }

  bool still_named() const {
    struct stat held {};
    struct stat named {};
    return ::fstat(lock_.get(), &held) == 0 && ::lstat(lock_path_.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
  }

  const Link& link_;
  std::string lock_path_;
  std::string group_;
  os::UniqueFd lock_;
};

std::map<std::string, std::string> probe_fields(const std::string& out) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (line.starts_with("welkmora:") && eq != std::string::npos) fields[line.substr(9, eq - 9)] = line.substr(eq + 1);
  }
  return fields;
}

std::vector<std::pair<std::string, std::string>> recruit_env() {
  std::vector<std::pair<std::string, std::string>> env;
  for (const char* name :
       {"WELKMORA_TERMINAL_ID", "WELKMORA_TOKEN", "WELKMORA_ROLE", "WELKMORA_ROLE_PROMPT", "WELKMORA_MARK_KEY"}) {
    if (std::getenv(name) != nullptr) env.emplace_back(name, env_text(name));
  }
  return env;
}

/// Checks the remote and prepares it; returns the check's fields (dir, run,
/// client), or a failure that says what the person can do.
OrFault<std::map<std::string, std::string>> prepare(const Link& link, SharedConnection& shared, const Client& client,
                                                    const std::string& id) {
  std::string args = std::string(WELKMORA_VERSION) + " " + client.sha256 + " " + id + " " + machine();
  Captured got = shared.run_first("sh -s " + args, probe_script(recruit_env(), id));
  if (got.status == 255) return Fault{"cannot reach " + link.destination() + ": " + last_line(got.err)};
  std::map<std::string, std::string> f = probe_fields(got.out);
  const std::string& result = f["result"];
  const std::string& d = link.destination();
  if (result == "nocache")
    return Fault{d + " has no writable cache folder " + f["dir"] + ": make it writable, or set XDG_CACHE_HOME there"};
  if (result == "arch")
    return Fault{d + " is " + f["machine"] + " and this welkmora client is " + machine() + ": put welkmora " +
                 WELKMORA_VERSION + " built for " + f["machine"] + " on its PATH, or recruit on a " + machine() +
                 " machine"};
  if (result == "noruntime") return Fault{d + " has no private runtime folder: " + f["run"] + " is not the user's"};
  if (result != "ok") {
    std::string why = last_line(got.err).empty() ? "status " + std::to_string(got.status) : last_line(got.err);
    return Fault{"cannot prepare " + d + ": " + why};
  }
  return f;
}

OrFault<void> copy_client(const Link& link, const std::string& bindir, const Client& client) {
  std::string target = sh_quote(bindir + "/welkmora");
  std::string script =
      "sh -c 'cat > \"$1.$$\" && chmod 755 \"$1.$$\" && mv -f \"$1.$$\" \"$1\" && sha256sum < \"$1\"' sh " + target;
  Captured got = link.run(script, client.bytes);
  if (got.status != 0 || !got.out.starts_with(client.sha256)) {
    std::string why = last_line(got.err).empty() ? "its hash differs" : last_line(got.err);
    return Fault{"cannot copy the welkmora client to " + link.destination() + ": " + why};
  }
  return {};
}

/// What the session leaves on the remote, removed when it ends however it
/// ended: the variables' file (gone already unless the session never
/// started), the socket and its forwarding.
class RemoteTrail {
 public:
  RemoteTrail(const Link& link, std::string run, const std::string& id)
      : link_(link), env_(run + "/" + id + ".env"), socket_(run + "/" + id + ".sock") {}
  ~RemoteTrail() {
    if (!forward_.empty()) run_detached(link_.argv({"-O", "cancel", "-R", forward_}));
    run_detached(link_.argv({"-T"}, "rm -f " + sh_quote(env_) + " " + sh_quote(socket_)));
  }
  RemoteTrail(const RemoteTrail&) = delete;
  RemoteTrail& operator=(const RemoteTrail&) = delete;

  const std::string& env_file() const { return env_; }
  const std::string& socket() const { return socket_; }

  OrFault<void> forward(const std::string& local_socket) {
    if (socket_.size() >= wire::kMaxSocketPath) return Fault{"the socket path on the remote is too long: " + socket_};
    std::string forwarding = socket_ + ":" + local_socket;
    Captured got = run_captured(link_.argv({"-O", "forward", "-R", forwarding}), "");
    if (got.status != 0 && got.err.find("forwarding failed") != std::string::npos) {
      return Fault{link_.destination() +
                   " refuses to forward the host's socket: its sshd_config must allow it"
                   " (AllowStreamLocalForwarding yes)"};
    }
    if (got.status != 0)
      return Fault{"cannot forward the socket to " + link_.destination() + ": " + last_line(got.err)};
    forward_ = forwarding;
    return {};
  }

 private:
  const Link& link_;
  std::string env_, socket_, forward_;
};

std::string session_line(const RemoteTrail& trail, const std::map<std::string, std::string>& f,
                         const std::vector<std::string>& command) {
  const std::string& dir = f.at("dir");
  std::string line = "sh " + sh_quote(dir + "/boot") + " " + sh_quote(trail.env_file()) + " " +
                     sh_quote(trail.socket()) + " " + sh_quote(f.at("client") == "own" ? "" : dir + "/bin");
  for (const std::string& word : command) line += " " + sh_quote(word);
  return line;
}

}  // namespace

OrFault<int> run_remote(const Args& args) {
  OrFault<Words> words = split_words(args.operands());
  if (!words.ok()) return words.failure();
  std::string local_socket = env_text("WELKMORA_SOCKET");
  if (!local_socket.starts_with('/') || env_text("WELKMORA_TOKEN").empty())
    return Fault{"remote runs as a recruit's command: WELKMORA_SOCKET and WELKMORA_TOKEN are not set"};
  OrFault<Client> client = local_client();
  if (!client.ok()) return client.failure();
  Link link(*words);
  SharedConnection shared(link);
  OrFault<std::string> id = random_id();
  if (!id.ok()) return id.failure();
  OrFault<std::map<std::string, std::string>> prepared = prepare(link, shared, *client, *id);
  if (!prepared.ok()) return prepared.failure();
  std::map<std::string, std::string>& f = *prepared;
  RemoteTrail trail(link, f["run"], *id);
  if (f["client"] == "copy") {
    if (OrFault<void> checked = copy_client(link, f["dir"] + "/bin", *client); !checked.ok()) return checked.failure();
  }
  if (OrFault<void> checked = trail.forward(local_socket); !checked.ok()) return checked.failure();
  // Quiet unless it fails ("Connection to box closed." is not news), so
  // that a failed program's last words stay on its screen.
  return run_attached(link.argv({"-t", "-o", "LogLevel=ERROR"}, session_line(trail, f, words->command)));
}

}  // namespace host::cli
