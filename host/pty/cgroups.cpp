#include "pty/cgroups.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace host {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kPrefix = "welkmora-host-";

/// The cgroup2 mount point whose root is the root of the hierarchy (of this
/// process's cgroup namespace); empty when there is none.
std::string mount_point() {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    // "id parent dev root mountpoint options ... - fstype source options"
    std::size_t dash = line.find(" - ");
    if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0) continue;
    std::istringstream fields(line.substr(0, dash));
    std::string skip, root, point;
    fields >> skip >> skip >> skip >> root >> point;
    if (root == "/") return point;
  }
  return {};
}

/// The directory of this process's cgroup v2 group.
std::string own_group() { return Cgroups::group_of(::getpid()); }

bool write_text(const std::string& path, std::string_view text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

/// Kills group `dir` and removes it with the groups below it, waiting a
/// little for the killed processes to leave them.
void end_group(const std::string& dir) {
  Cgroups::kill(dir);
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
      if (entry.is_directory(ec)) Cgroups::remove(entry.path().string());
    }
    if (Cgroups::remove(dir)) return;
    std::this_thread::sleep_for(10ms);
  }
}

/// Ends the groups of hosts that are gone (their guardian too).
void end_abandoned(const std::string& base) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(base, ec)) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with(kPrefix)) continue;
    pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + kPrefix.size()));
    if (pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH)) continue;
    end_group(entry.path().string());
  }
}

/// The guardian: waits for the end of the host's pipe, then ends `dir`.
[[noreturn]] void guard(int pipe_read, const std::string& dir) {
  ::setsid();  // the person's Ctrl-C at the host's terminal is not for it
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGPIPE}) ::signal(sig, SIG_IGN);
  ::dup2(pipe_read, STDIN_FILENO);
  ::close_range(STDOUT_FILENO, ~0U, 0);
  for (char byte;;) {
    ssize_t n = ::read(STDIN_FILENO, &byte, 1);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  end_group(dir);
  ::_exit(0);
}

/// Starts the guardian of `dir` as a grandchild, so that it is no
/// descendant of the host; returns the host's end of its pipe.
os::UniqueFd start_guardian(const std::string& dir) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  os::UniqueFd read_end(ends[0]), write_end(ends[1]);
  pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) {
    if (::fork() == 0) guard(read_end.get(), dir);
    ::_exit(0);
  }
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return write_end;
}

}  // namespace

std::unique_ptr<Cgroups> Cgroups::create() {
  std::string base = own_group();
  if (base.empty()) return nullptr;
  end_abandoned(base);
  std::string dir = base + "/" + std::string(kPrefix) + std::to_string(::getpid());
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return nullptr;
  // Moving a program into its group takes write access to the common
  // ancestor's list of processes, the host's own group.
  if (::access((dir + "/cgroup.kill").c_str(), W_OK) != 0 || ::access((base + "/cgroup.procs").c_str(), W_OK) != 0) {
    ::rmdir(dir.c_str());
    return nullptr;
  }
  os::UniqueFd guard = start_guardian(dir);
  if (!guard) {
    ::rmdir(dir.c_str());
    return nullptr;
  }
  return std::unique_ptr<Cgroups>(new Cgroups(dir, std::move(guard)));
}

Cgroups::~Cgroups() { end_group(path_); }

std::optional<std::string> Cgroups::add() {
  std::string dir = path_ + "/t" + std::to_string(next_++);
  if (::mkdir(dir.c_str(), 0755) != 0) return std::nullopt;
  return dir;
}

std::string Cgroups::group_of(pid_t pid) {
  std::ifstream groups("/proc/" + std::to_string(pid) + "/cgroup");
  std::string line, relative;
  while (std::getline(groups, line)) {
    if (line.starts_with("0::")) relative = line.substr(3);
  }
  if (relative.empty() || relative.ends_with(" (deleted)")) return {};
  std::string point = mount_point();
  if (point.empty()) return {};
  return relative == "/" ? point : point + relative;
}

void Cgroups::kill(const std::string& dir) { write_text(dir + "/cgroup.kill", "1"); }

bool Cgroups::remove(const std::string& dir) { return ::rmdir(dir.c_str()) == 0 || errno == ENOENT; }

}  // namespace host
