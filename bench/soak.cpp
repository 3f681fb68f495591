// The soak run of welkmora-host: it drives a real host to the limits it
// keeps and prints the figures. All of it runs on this machine, against a
// host on a temporary socket, and every loop is bounded.
//
//   - `list` latency: alone, with 5000 idle connections (the host with 1024
//     descriptors), with a terminal flooding output, and with 64 MiB of
//     notes while a small one is written over and over;
//   - peak memory (VmHWM) under 16 unfinished requests of 31 MiB, under
//     requests of 31 MiB of many small values (and `list` meanwhile), and
//     under 600 replies of 1 MiB that nobody reads;
//   - processes left after stop: a recruit leaves a nohup job and a program
//     in a session of its own; none may outlive the host;
//   - state files after kill -9 cycles: each start must read the state, and
//     no temporary file may be left once a host runs.
//
// usage: soak --host PATH [--cycles N]

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "json_text.h"
#include "unique_fd.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using wire::Json;

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "soak: %s\n", message.c_str());
  std::exit(1);
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

/// A connection to `path`; with `wait` false, none when the host's backlog
/// is full.
os::UniqueFd connect_to(const std::string& path, bool wait = true) {
  os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  return fd;
}

bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

/// The reply line to `line`, or "" when none came within 30 seconds.
std::string round_trip(const std::string& socket, const std::string& line) {
  os::UniqueFd fd = connect_to(socket);
  if (!fd || !send_all(fd.get(), line + "\n")) return "";
  std::string reply;
  char buf[65536];
  auto deadline = Clock::now() + 30s;
  while (reply.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
  }
  return reply.substr(0, reply.find('\n'));
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// A field of /proc/PID/status in KiB ("VmHWM").
long status_kib(pid_t pid, const std::string& field) {
  std::istringstream in(slurp("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

class Host {
 public:
  Host(std::string binary, std::string dir) : binary_(std::move(binary)), dir_(std::move(dir)) {}
  ~Host() {
    if (pid_ > 0) kill9();
  }

  std::string socket() const { return dir_ + "/host.sock"; }
  std::string state() const { return dir_ + "/state.json"; }
  pid_t pid() const { return pid_; }

  /// Starts `serve`; with `nofile`, under that many descriptors. False when
  /// it does not listen within ten seconds.
  bool start(rlim_t nofile = 0) {
    pid_ = ::fork();
    if (pid_ < 0) die("fork failed");
    if (pid_ == 0) {
      if (nofile > 0) {
        rlimit limit{nofile, nofile};
        ::setrlimit(RLIMIT_NOFILE, &limit);
      }
      int null = ::open("/dev/null", O_RDWR);
      int err = ::open((dir_ + "/host.err").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(err, 2);
      ::execl(binary_.c_str(), binary_.c_str(), "serve", "--socket", socket().c_str(), "--state", state().c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (auto deadline = Clock::now() + 10s; Clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
      if (connect_to(socket())) return true;
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) break;
    }
    pid_ = -1;
    return false;
  }

  void kill9() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  int stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string binary_, dir_;
  pid_t pid_ = -1;
};

/// Credentials of a joined terminal, for requests.
struct Caller {
  std::string socket;
  Json credentials;

  static Caller join(const std::string& socket, const std::string& name) {
    Json reply = Json::parse(round_trip(socket, wire::to_wire(Json{{"command", "join"}, {"name", name}})));
    if (reply.value("ok", false) != true) die("join failed: " + reply.dump());
    return {socket, Json{{"terminalId", reply["result"]["name"]}, {"token", reply["result"]["token"]}}};
  }
  std::string line(Json request) const {
    request.update(credentials);
    return wire::to_wire(request);
  }
  Json ask(Json request) const {
    std::string reply = round_trip(socket, line(std::move(request)));
    return reply.empty() ? Json() : Json::parse(reply);
  }
};

/// Median and largest time of `runs` list requests.
std::string list_latency(const Caller& caller, int runs = 50) {
  std::vector<double> times;
  std::string request = caller.line({{"command", "list"}});
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    if (round_trip(caller.socket, request).empty()) die("list got no reply");
    times.push_back(ms(Clock::now() - start));
  }
  std::sort(times.begin(), times.end());
  char out[96];
  std::snprintf(out, sizeof out, "median %.2f ms, max %.2f ms", times[times.size() / 2], times.back());
  return out;
}

void print(const char* what, const std::string& figure) { std::printf("%-52s %s\n", what, figure.c_str()); }

void latencies(const std::string& binary, const std::string& dir) {
  Host host(binary, dir);
  if (!host.start(1024)) die("the host did not start");
  Caller lead = Caller::join(host.socket(), "Lead");
  print("list, alone:", list_latency(lead));
  // The driver needs descriptors of its own for the idle clients.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<os::UniqueFd> idle;
  int refused = 0;
  // As fast as the host takes them; one that finds the backlog full tries
  // again a moment later.
  for (auto deadline = Clock::now() + 8s; idle.size() < 5000 && Clock::now() < deadline;) {
    os::UniqueFd fd = connect_to(host.socket(), false);
    if (!fd) {
      ++refused;
      std::this_thread::sleep_for(1ms);
      continue;
    }
    idle.push_back(std::move(fd));
  }
  refused = 5000 - static_cast<int>(idle.size());
  if (refused > 0) std::printf("(%d of 5000 idle connections could not be opened)\n", refused);
  print("list, 5000 idle connections (host: 1024 fds):", list_latency(lead));
  idle.clear();
  lead.ask({{"command", "recruit"}, {"name", "Flood"}, {"cmd", "yes flood"}});
  std::this_thread::sleep_for(500ms);
  print("list, a terminal flooding output:", list_latency(lead));
  lead.ask({{"command", "dismiss"}, {"name", "Flood"}});
  // 64 MiB of notes, and an agent writing a small one over and over.
  for (int i = 0; i < 63; ++i) {
    lead.ask({{"command", "note"},
              {"sub", "create"},
              {"name", "n" + std::to_string(i)},
              {"content", std::string(1 << 20, 'x')}});
  }
  std::atomic<bool> done = false;
  std::thread writer([&] {
    for (int i = 0; !done; ++i) lead.ask({{"command", "note"}, {"sub", "write"}, {"name", "n0"}, {"content", "x"}});
  });
  print("list, 64 MiB of notes, a small one written over and over:", list_latency(lead));
  done = true;
  writer.join();
  host.stop();
}

/// Clears the host's peak memory, runs `load`, and prints the new peak.
template <class Load>
void peak(const Host& host, const char* what, Load load) {
  std::ofstream(std::string("/proc/") + std::to_string(host.pid()) + "/clear_refs") << "5";
  load();
  print(what, std::to_string(status_kib(host.pid(), "VmHWM") / 1024) + " MiB");
}

/// A request line of 31 MiB: an object whose member holds a list of
/// `item` over and over, or (`item` empty) whose members are many.
std::string many_values_line(const std::string& item) {
  constexpr std::size_t kSize = 31u << 20;
  std::string line = item.empty() ? "{" : "{\"x\":[";
  line.reserve(kSize + 16);
  for (unsigned i = 0; line.size() < kSize; ++i) line += item.empty() ? "\"" + std::to_string(i) + "\":0," : item + ",";
  line.back() = item.empty() ? '}' : ']';
  if (!item.empty()) line += "}";
  return line;
}

/// The peak and what stays resident after requests of many small values,
/// which cost many times their text when parsed; and `list` while another
/// client sends them over and over.
void many_values(const Host& host, const Caller& lead) {
  for (const char* item : {"{}", "[]", "\"\"", "0", ""}) {
    std::string line = many_values_line(item);
    std::string what = std::string("peak memory, a 31 MiB request of ") + (*item ? item : "\"N\":0") + ":";
    peak(host, what.c_str(), [&] {
      if (round_trip(host.socket(), line).empty()) die("no reply to a request of many values");
    });
    std::this_thread::sleep_for(3s);
    print("  resident 3 s later:", std::to_string(status_kib(host.pid(), "VmRSS") / 1024) + " MiB");
  }
  std::atomic<bool> done = false;
  std::thread sender([&] {
    std::string line = many_values_line("{}");
    while (!done) round_trip(host.socket(), line);
  });
  std::this_thread::sleep_for(1s);
  print("list, another client sending them:", list_latency(lead));
  done = true;
  sender.join();
}

void memory(const std::string& binary, const std::string& dir) {
  Host host(binary, dir);
  if (!host.start()) die("the host did not start");
  Caller lead = Caller::join(host.socket(), "Lead");
  peak(host, "peak memory, idle:", [] {});
  many_values(host, lead);
  peak(host, "peak memory, 16 unfinished requests of 31 MiB:", [&] {
    std::vector<os::UniqueFd> clients;
    std::string chunk(1 << 20, ' ');
    for (int i = 0; i < 16; ++i) {
      clients.push_back(connect_to(host.socket()));
      for (int mib = 0; mib < 31 && send_all(clients.back().get(), chunk); ++mib) {
      }
    }
  });
  // A note holds at most 1 MiB: 600 unread replies of one pass the budget.
  std::string note =
      lead.line({{"command", "note"}, {"sub", "create"}, {"name", "big"}, {"content", std::string(1 << 20, 'x')}});
  if (round_trip(host.socket(), note).find("\"ok\":true") == std::string::npos) die("cannot create the big note");
  peak(host, "peak memory, 600 unread replies of 1 MiB:", [&] {
    std::vector<os::UniqueFd> clients;
    std::string read = lead.line({{"command", "note"}, {"sub", "read"}, {"name", "big"}}) + "\n";
    for (int i = 0; i < 600; ++i) {
      clients.push_back(connect_to(host.socket()));
      send_all(clients.back().get(), read);
    }
    std::this_thread::sleep_for(3s);
  });
  host.stop();
}

/// Processes whose environment names `socket` as theirs, zombies aside.
int processes_of(const std::string& socket) {
  int n = 0;
  std::string mark = "WELKMORA_SOCKET=" + socket + std::string(1, '\0');
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = slurp("/proc/" + pid + "/stat");
    std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z') continue;
    if (slurp("/proc/" + pid + "/environ").find(mark) != std::string::npos) ++n;
  }
  return n;
}

void leftovers(const std::string& binary, const std::string& dir) {
  Host host(binary, dir);
  if (!host.start()) die("the host did not start");
  Caller lead = Caller::join(host.socket(), "Lead");
  lead.ask({{"command", "recruit"},
            {"name", "Jobs"},
            {"cmd", "set -m; nohup sleep 1006 >/dev/null 2>&1 & setsid sleep 1007 >/dev/null 2>&1 & exec sleep 600"}});
  lead.ask({{"command", "recruit"}, {"name", "Gone"}, {"cmd", "setsid sleep 1008 >/dev/null 2>&1 & exec sleep 600"}});
  std::this_thread::sleep_for(1s);
  int before = processes_of(host.socket());
  lead.ask({{"command", "dismiss"}, {"name", "Gone"}});
  host.stop();
  auto deadline = Clock::now() + 3s;
  int left = processes_of(host.socket());
  while (left > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
    left = processes_of(host.socket());
  }
  print("processes left after stop:", std::to_string(left) + " (of " + std::to_string(before) + " running before)");
}

int temporaries(const std::string& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    n += entry.path().filename().string().rfind("state.json.tmp-", 0) == 0;
  }
  return n;
}

void crashes(const std::string& binary, const std::string& dir, int cycles) {
  Host host(binary, dir);
  std::mt19937 rng(14);
  int intact = 0, found = 0, left = 0;
  std::string content(64 << 10, 'n');
  for (int cycle = 0; cycle < cycles; ++cycle) {
    found += temporaries(dir);
    if (!host.start()) break;
    left += temporaries(dir);
    Caller lead = Caller::join(host.socket(), "Lead");
    Json notes = lead.ask({{"command", "note"}, {"sub", "list"}});
    if (notes.value("ok", false) == true) ++intact;
    // Saves in flight when the host is killed.
    std::vector<os::UniqueFd> writers;
    for (int i = 0; i < 8; ++i) {
      writers.push_back(connect_to(host.socket()));
      send_all(writers.back().get(), lead.line({{"command", "note"},
                                                {"sub", cycle == 0 ? "create" : "write"},
                                                {"name", "n" + std::to_string(i)},
                                                {"content", content}}) +
                                         "\n");
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
    host.kill9();
  }
  char figure[160];
  std::snprintf(figure, sizeof figure, "%d of %d starts read the state; %d temporaries found, %d left after start",
                intact, cycles, found, left);
  print("kill -9 cycles:", figure);
}

}  // namespace

int main(int argc, char** argv) {
  std::string binary;
  int cycles = 200;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--host" && i + 1 < argc) {
      binary = argv[++i];
    } else if (a == "--cycles" && i + 1 < argc) {
      cycles = std::atoi(argv[++i]);
    } else {
      die("usage: soak --host PATH [--cycles N]");
    }
  }
  if (binary.empty()) die("usage: soak --host PATH [--cycles N]");
  ::signal(SIGPIPE, SIG_IGN);
  std::string tmpl = (std::filesystem::temp_directory_path() / "welkmora-soak-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) die("mkdtemp failed");
  for (const char* part : {"latency", "memory", "leftovers", "crashes"})
    std::filesystem::create_directory(tmpl + "/" + part);
  latencies(binary, tmpl + "/latency");
  memory(binary, tmpl + "/memory");
  leftovers(binary, tmpl + "/leftovers");
  crashes(binary, tmpl + "/crashes", cycles);
  std::filesystem::remove_all(tmpl);
  return 0;
}
