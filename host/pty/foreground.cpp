#include "pty/foreground.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "unique_fd.h"

namespace host {
namespace {

/// Programs that carry a terminal to a program elsewhere: they wait for
/// input from both sides at once, so their waiting says nothing about the
/// program behind them.
constexpr std::array<std::string_view, 9> kRelays = {"ssh",    "mosh-client", "telnet",  "su",          "sudo",
                                                     "script", "docker",      "kubectl", "tmux: client"};

std::vector<unsigned long long> hex_fields(std::string_view text) {
  std::vector<unsigned long long> out;
  std::istringstream in{std::string(text)};
  std::string word;
  while (in >> word) {
    std::string_view w = word;
    int base = 10;
    if (w.starts_with("0x")) {
      w.remove_prefix(2);
      base = 16;
    }
    unsigned long long value = 0;
    if (std::from_chars(w.data(), w.data() + w.size(), value, base).ec != std::errc{}) break;
    out.push_back(value);
  }
  return out;
}

/// A timeout given as a number of milliseconds: negative waits for ever.
Blocked by_millis(unsigned long long arg) {
  return static_cast<int>(static_cast<unsigned>(arg)) < 0 ? Blocked::kInput : Blocked::kInputOrTimer;
}

/// A timeout given as a pointer: null waits for ever.
Blocked by_pointer(unsigned long long arg) { return arg == 0 ? Blocked::kInput : Blocked::kInputOrTimer; }

std::string read_small(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

struct ProcessState {
  pid_t pid = 0;
  pid_t parent = 0;
  pid_t group = 0;
  char state = 0;
  std::string comm;
};

std::optional<ProcessState> stat_of(const std::string& dir) {
  std::string line = read_small(dir + "/stat");
  std::size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close + 4 >= line.size()) return std::nullopt;
  ProcessState p;
  p.comm = line.substr(open + 1, close - open - 1);
  std::istringstream fields(line.substr(close + 2));
  long long parent = 0, group = 0;
  if (!(fields >> p.state >> parent >> group)) return std::nullopt;
  p.pid = static_cast<pid_t>(std::stol(line));
  p.parent = static_cast<pid_t>(parent);
  p.group = static_cast<pid_t>(group);
  return p;
}

bool is_relay(std::string_view comm) {
  for (std::string_view relay : kRelays) {
    if (comm == relay) return true;
  }
  return false;
}

/// True when any thread of the process other than the one /proc/PID/syscall
/// shows is running.
bool a_thread_runs(const std::string& dir) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir + "/task", ec), end; !ec && it != end; it.increment(ec)) {
    std::optional<ProcessState> task = stat_of(it->path().string());
    if (task && (task->state == 'R' || task->state == 'D')) return true;
  }
  return false;
}

bool is_terminal(const std::string& dir, long fd, const std::string& tty_path) {
  std::error_code ec;
  auto target = std::filesystem::read_symlink(dir + "/fd/" + std::to_string(fd), ec);
  return !ec && target.string() == tty_path;
}

/// Reads `len` bytes at `address` of the process's memory.
std::optional<std::string> memory(const std::string& dir, unsigned long long address, std::size_t len) {
  os::UniqueFd fd(::open((dir + "/mem").c_str(), O_RDONLY | O_CLOEXEC));
  std::string out(len, '\0');
  if (!fd || ::pread(fd.get(), out.data(), len, static_cast<off_t>(address)) != static_cast<ssize_t>(len)) {
    return std::nullopt;
  }
  return out;
}

/// The descriptors a poll, select or epoll call waits on; nothing when
/// they cannot be read.
std::optional<std::vector<long>> waited_fds(const std::string& dir, const BlockedCall& call) {
  std::vector<long> fds;
  switch (call.nr) {
#ifdef SYS_poll
    case SYS_poll:
#endif
    case SYS_ppoll: {
      std::size_t n = std::min<unsigned long long>(call.arg1, 256);
      std::optional<std::string> raw = memory(dir, call.arg0, n * sizeof(pollfd));
      if (!raw) return std::nullopt;
      for (std::size_t i = 0; i < n; ++i) {
        pollfd p{};
        std::memcpy(&p, raw->data() + i * sizeof p, sizeof p);
        if (p.fd >= 0 && (p.events & POLLIN)) fds.push_back(p.fd);
      }
      return fds;
    }
#ifdef SYS_select
    case SYS_select:
#endif
    case SYS_pselect6: {
      std::size_t n = std::min<unsigned long long>(call.arg0, 1024);
      if (call.arg1 == 0) return fds;
      std::optional<std::string> raw = memory(dir, call.arg1, (n + 7) / 8);
      if (!raw) return std::nullopt;
      for (std::size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>((*raw)[i / 8]) & (1u << (i % 8))) fds.push_back(static_cast<long>(i));
      }
      return fds;
    }
    default: break;
  }
  // epoll: the kernel lists the watched descriptors.
  std::ifstream in(dir + "/fdinfo/" + std::to_string(call.arg0));
  if (!in) return std::nullopt;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("tfd:")) fds.push_back(std::stol(line.substr(4)));
  }
  return fds;
}

/// How process `p` is blocked; nothing when /proc does not say.
std::optional<Blocked> blocked_of(const ProcessState& p, const std::string& dir, const std::string& tty_path) {
  if (p.state == 'R' || p.state == 'D') return Blocked::kRunning;
  std::string text = read_small(dir + "/syscall");
  if (text.empty()) return std::nullopt;
  BlockedCall call = classify_syscall(text, p.state);
  if (call.blocked == Blocked::kInput && call.read_fd >= 0) {
    if (!is_terminal(dir, call.read_fd, tty_path)) return Blocked::kElsewhere;
  } else if (call.blocked == Blocked::kInput || call.blocked == Blocked::kInputOrTimer) {
    // A wait on descriptors none of which is the terminal (a pipe, a
    // socket) is not a wait for input; with a timeout it is a timer.
    std::optional<std::vector<long>> fds = waited_fds(dir, call);
    bool terminal =
        !fds || std::any_of(fds->begin(), fds->end(), [&](long fd) { return is_terminal(dir, fd, tty_path); });
    if (!terminal) return call.blocked == Blocked::kInput ? Blocked::kElsewhere : Blocked::kTimer;
  }
  if (call.blocked != Blocked::kRunning && a_thread_runs(dir)) return Blocked::kRunning;
  return call.blocked;
}

}  // namespace

std::string_view activity_name(Activity activity) {
  switch (activity) {
    case Activity::kRunning: return "running";
    case Activity::kBusy: return "busy";
    case Activity::kTicking: return "ticking";
    case Activity::kWaiting: return "waiting";
    case Activity::kUnknown: break;
  }
  return "unknown";
}

namespace {
template <class Arg>
BlockedCall classify_number(long nr, Arg arg);
}  // namespace

BlockedCall classify_syscall(std::string_view syscall_text, char state) {
  if (state == 'R' || state == 'D' || syscall_text.starts_with("running")) return {};
  std::vector<unsigned long long> f = hex_fields(syscall_text);
  if (f.size() < 6) return {Blocked::kElsewhere};
  auto nr = static_cast<long>(f[0]);
  auto arg = [&](std::size_t i) { return f[i + 1]; };
  BlockedCall call = classify_number(nr, arg);
  call.nr = nr;
  call.arg0 = arg(0);
  call.arg1 = arg(1);
  return call;
}

namespace {

template <class Arg>
BlockedCall classify_number(long nr, Arg arg) {
  switch (nr) {
    case SYS_read:
    case SYS_readv: return {Blocked::kInput, static_cast<long>(arg(0))};
#ifdef SYS_poll
    case SYS_poll: return {by_millis(arg(2))};
#endif
#ifdef SYS_select
    case SYS_select: return {by_pointer(arg(4))};
#endif
#ifdef SYS_epoll_wait
    case SYS_epoll_wait: return {by_millis(arg(3))};
#endif
    case SYS_ppoll: return {by_pointer(arg(2))};
    case SYS_pselect6: return {by_pointer(arg(4))};
    case SYS_epoll_pwait: return {by_millis(arg(3))};
#ifdef SYS_epoll_pwait2
    case SYS_epoll_pwait2: return {by_pointer(arg(3))};
#endif
#ifdef SYS_nanosleep
    case SYS_nanosleep:
#endif
    case SYS_clock_nanosleep: return {Blocked::kTimer};
    default: return {Blocked::kElsewhere};
  }
}

}  // namespace

void ActivityTally::add(Blocked blocked) {
  switch (blocked) {
    case Blocked::kRunning: ++running; break;
    case Blocked::kTimer: ++timer; break;
    case Blocked::kInput: ++input; break;
    case Blocked::kInputOrTimer: ++ticking; break;
    case Blocked::kElsewhere: ++elsewhere; break;
  }
}

Activity ActivityTally::verdict() const {
  if (running > 0) return Activity::kRunning;
  if (unknown > 0) return Activity::kUnknown;
  if (timer > 0) return Activity::kBusy;
  if (ticking > 0) return Activity::kTicking;
  if (input > 0) return Activity::kWaiting;
  return elsewhere > 0 ? Activity::kBusy : Activity::kUnknown;
}

namespace {

/// True when descriptor `fd` of the process in `dir` leads where someone
/// may read what it writes: the terminal, a pipe or a socket.
bool writes_to_a_reader(const std::string& dir, int fd, const std::string& tty_path) {
  std::error_code ec;
  std::string target = std::filesystem::read_symlink(dir + "/fd/" + std::to_string(fd), ec).string();
  return !ec && (target == tty_path || target.starts_with("pipe:") || target.starts_with("socket:"));
}

/// A process of the group as far as the verdict needs it.
struct Member {
  ProcessState state;
  std::string dir;
  std::optional<Blocked> blocked;
};

/// True when `m` works in the background of a process of `members` that
/// waits for the terminal: a descendant of it whose output reaches no one
/// (a shell's background job without job control, such as fish's first
/// indexing of the manual pages, writing to /dev/null). Its work is not
/// what the terminal waits for.
bool detached_helper(const Member& m, const std::vector<Member>& members, const std::string& tty_path) {
  if (m.blocked == Blocked::kInput) return false;
  bool under_reader = false;
  pid_t up = m.state.parent;
  for (std::size_t hops = 0; hops < members.size() && !under_reader; ++hops) {
    auto parent = std::find_if(members.begin(), members.end(), [&](const Member& o) { return o.state.pid == up; });
    if (parent == members.end()) break;
    under_reader = parent->blocked == Blocked::kInput;
    up = parent->state.parent;
  }
  return under_reader && !writes_to_a_reader(m.dir, 1, tty_path) && !writes_to_a_reader(m.dir, 2, tty_path);
}

}  // namespace

Activity foreground_activity(pid_t group, const std::string& tty_path) {
  if (group <= 0 || tty_path.empty()) return Activity::kUnknown;
  std::vector<Member> members;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string dir = it->path().string();
    std::optional<ProcessState> p = stat_of(dir);
    if (!p || p->group != group || p->state == 'Z') continue;
    std::optional<Blocked> blocked = is_relay(p->comm) ? std::nullopt : blocked_of(*p, dir, tty_path);
    members.push_back({std::move(*p), std::move(dir), blocked});
  }
  ActivityTally tally;
  for (const Member& m : members) {
    if (!m.blocked) {
      ++tally.unknown;
    } else if (!detached_helper(m, members, tty_path)) {
      tally.add(*m.blocked);
    }
  }
  return tally.verdict();
}

}  // namespace host
