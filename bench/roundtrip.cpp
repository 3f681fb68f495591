// The round-trip benchmark: how much longer welkmora takes, and how much
// more memory it needs, than a minimal C client doing the same exchange and
// printing the same text, for each reply of bench/cases.h.
//
// For each case it first runs both clients once against a socket served
// here and requires the same request bytes and the same output, so the
// comparison is honest. Then it starts reply_server with the case, runs the
// two clients alternating with standard output on /dev/null and reports the
// best and median wall time per run, then each client's peak resident memory
// (the median over a few runs), and with --callgrind each client's
// instruction count, which a loaded machine does not skew. A closing table
// holds welkmora's ratios to the C client with the goals.
//
// usage: roundtrip [-n RUNS] [--warmup RUNS] [--case NAME] [--callgrind]
//                  [--welkmora PATH] [--min-client PATH] [--server PATH]

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cases.h"
#include "unique_fd.h"

extern char** environ;

namespace {

struct Options {
  int runs = 0;  // 0: each case's own count
  int warmup = 10;
  int memory_runs = 5;
  bool callgrind = false;
  std::string only;
  std::string welkmora = WELKMORA_BIN;
  std::string min_client = MIN_CLIENT_BIN;
  std::string server = REPLY_SERVER_BIN;
};

/// One client under test: its name in the report and its command line.
struct Client {
  std::string name;
  std::vector<std::string> argv;
};

/// The running reply_server, stopped by die() so that no failure leaves it behind.
pid_t g_server = -1;

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "roundtrip: %s\n", message.c_str());
  if (g_server > 0) ::kill(g_server, SIGTERM);
  std::exit(1);
}

[[noreturn]] void die_errno(const std::string& what) { die(what + ": " + std::strerror(errno)); }

Options parse_options(int argc, char** argv) {
  Options o;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) die(std::string("missing value after ") + argv[i]);
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "-n")
      o.runs = std::atoi(value(i).c_str());
    else if (a == "--warmup")
      o.warmup = std::atoi(value(i).c_str());
    else if (a == "--case")
      o.only = value(i);
    else if (a == "--callgrind")
      o.callgrind = true;
    else if (a == "--welkmora")
      o.welkmora = value(i);
    else if (a == "--min-client")
      o.min_client = value(i);
    else if (a == "--server")
      o.server = value(i);
    else
      die("unknown argument " + std::string(a));
  }
  if (o.runs < 0 || o.warmup < 0) die("-n and --warmup must not be negative");
  if (!o.only.empty() && bench::find_case(o.only) == nullptr) die("no case " + o.only);
  return o;
}

/// The process environment without any WELKMORA_ variable, plus those of a
/// terminal of the app listening at `socket`. Owns the strings envp points to.
class Environment {
 public:
  explicit Environment(const std::string& socket) {
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "WELKMORA_", 9) != 0) strings_.emplace_back(*e);
    }
    strings_.push_back("WELKMORA_SOCKET=" + socket);
    strings_.emplace_back("WELKMORA_TERMINAL_ID=T1");
    strings_.emplace_back("WELKMORA_TOKEN=tok");
    for (std::string& s : strings_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  char** envp() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

std::vector<char*> c_args(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

/// Starts `argv` with standard output on `out` and standard error on `err`
/// (-1 keeps ours).
pid_t spawn(const std::vector<std::string>& argv, char** envp, int out, int err = -1) {
  std::vector<char*> args = c_args(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) die("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

/// Waits for `pid`; dies unless it exited with status 0. Returns its usage.
rusage reap(pid_t pid, const std::string& name) {
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) die_errno("wait4");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(name + " did not exit with status 0");
  return usage;
}

std::string read_all(int fd) {
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(buf, static_cast<std::size_t>(n));
  }
}

sockaddr_un address_of(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) die("socket path too long: " + path);
  std::memcpy(addr.sun_path, path.data(), path.size());
  return addr;
}

os::UniqueFd listen_on(const std::string& path) {
  sockaddr_un addr = address_of(path);
  os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) die_errno("socket");
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) die_errno("bind " + path);
  if (::listen(fd.get(), 8) != 0) die_errno("listen");
  return fd;
}

void send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die_errno("send");
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

/// What one client sent and printed in the check run.
struct Observed {
  std::string request;
  std::string output;
};

/// Runs `client` once against a socket served here with `reply`, so that
/// its request and output can be compared. Gives up after ten seconds
/// without a connection.
Observed observe(const Client& client, const std::string& dir, std::string_view reply) {
  std::string path = dir + "/check.sock";
  os::UniqueFd listener = listen_on(path);
  Environment env(path);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) die_errno("pipe");
  os::UniqueFd out_read(pipe_fds[0]);
  os::UniqueFd out_write(pipe_fds[1]);
  pid_t pid = spawn(client.argv, env.envp(), out_write.get());
  out_write.reset();

  pollfd pfd{listener.get(), POLLIN, 0};
  if (::poll(&pfd, 1, 10000) != 1) die(client.name + " did not connect");
  os::UniqueFd conn(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!conn) die_errno("accept");
  Observed seen;
  char buf[4096];
  while (seen.request.find('\n') == std::string::npos) {
    ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
    if (n <= 0) die(client.name + " closed before its request line ended");
    seen.request.append(buf, static_cast<std::size_t>(n));
  }
  // Both clients read the whole line before they print anything.
  send_all(conn.get(), reply);
  conn.reset();
  seen.output = read_all(out_read.get());
  reap(pid, client.name);
  ::unlink(path.c_str());
  return seen;
}

/// Both clients must make the same exchange and print the same text.
void check_exchange(const Client& min_client, const Client& welkmora, const bench::Case& c, const std::string& dir) {
  std::string reply = bench::reply_line(c);
  Observed a = observe(min_client, dir, reply);
  Observed b = observe(welkmora, dir, reply);
  if (a.request != b.request) die("requests differ:\n  " + a.request + "  " + b.request);
  if (a.output.empty()) die("min_client printed nothing");
  if (a.output != b.output) {
    std::size_t at =
        std::mismatch(a.output.begin(), a.output.end(), b.output.begin(), b.output.end()).first - a.output.begin();
    die("outputs differ at byte " + std::to_string(at) + " of " + std::to_string(a.output.size()) + " and " +
        std::to_string(b.output.size()));
  }
  std::printf("%s: %zu-byte reply, the same %zu-byte output from both; request %s", std::string(c.name).c_str(),
              reply.size(), a.output.size(), a.request.c_str());
}

/// Starts reply_server for `c` and waits until it accepts connections.
pid_t start_server(const std::string& server, const std::string& path, const bench::Case& c) {
  os::UniqueFd devnull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  pid_t pid = spawn({server, path, std::string(c.name)}, environ, devnull.get());
  g_server = pid;
  sockaddr_un addr = address_of(path);
  for (int attempt = 0; attempt < 500; ++attempt) {
    os::UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  die("reply_server did not come up");
}

void stop_server(pid_t pid) {
  ::kill(pid, SIGTERM);
  g_server = -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

/// Wall time of one run of `client`, in microseconds.
double time_run(const Client& client, char** envp, int devnull) {
  auto start = std::chrono::steady_clock::now();
  reap(spawn(client.argv, envp, devnull), client.name);
  std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

/// Peak resident memory of one run of `client`, in KiB. The kernel charges
/// a program with the peak of the memory it had before its exec too, so the
/// client is started by fork and exec rather than posix_spawn: a child that
/// shares our memory until its exec (as posix_spawn's does) would be charged
/// with our peak, a forked one only with the private pages it copied of
/// ours, which main() keeps small (see anon_kib()).
long peak_kib(const Client& client, char** envp, int devnull) {
  std::vector<char*> args = c_args(client.argv);
  pid_t pid = ::fork();
  if (pid < 0) die_errno("fork");
  if (pid == 0) {
    ::dup2(devnull, 1);
    ::execve(args[0], args.data(), envp);
    ::_exit(127);
  }
  return reap(pid, client.name).ru_maxrss;
}

/// Our own private resident memory in KiB: what a forked client starts
/// with, so the floor of the peak figures.
long anon_kib() {
  os::UniqueFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  std::string status = fd ? read_all(fd.get()) : "";
  std::size_t at = status.find("RssAnon:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 8);
}

struct Stats {
  double best, median;
};

template <typename T>
T median_of(std::vector<T> samples) {
  std::sort(samples.begin(), samples.end());
  std::size_t n = samples.size();
  return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

Stats summarize(const std::vector<double>& samples) {
  return {*std::min_element(samples.begin(), samples.end()), median_of(samples)};
}

/// Instructions one run of `client` executes (loader included), from
/// callgrind's summary line; nullopt when valgrind cannot be run.
std::optional<unsigned long long> count_instructions(const Client& client, char** envp, int devnull) {
  std::vector<std::string> argv = {"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"};
  argv.insert(argv.end(), client.argv.begin(), client.argv.end());
  if (::access(argv[0].c_str(), X_OK) != 0) return std::nullopt;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) die_errno("pipe");
  os::UniqueFd err_read(pipe_fds[0]);
  os::UniqueFd err_write(pipe_fds[1]);
  pid_t pid = spawn(argv, envp, devnull, err_write.get());
  err_write.reset();
  std::string report = read_all(err_read.get());
  reap(pid, "valgrind " + client.name);
  std::size_t at = report.find("Collected : ");
  if (at == std::string::npos) return std::nullopt;
  return std::strtoull(report.c_str() + at + 12, nullptr, 10);
}

/// What one case measured.
struct Figures {
  Stats min_time, welk_time;
  long min_kib, welk_kib;
};

Figures measure(const Options& o, const bench::Case& c, const Client& min_client, const Client& welkmora,
                const std::string& dir) {
  std::string path = dir + "/app.sock";
  Environment env(path);
  os::UniqueFd devnull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!devnull) die_errno("/dev/null");
  pid_t server = start_server(o.server, path, c);
  for (int i = 0; i < o.warmup; ++i) {
    time_run(min_client, env.envp(), devnull.get());
    time_run(welkmora, env.envp(), devnull.get());
  }
  int runs = o.runs > 0 ? o.runs : c.runs;
  std::vector<double> min_times, welk_times;
  for (int i = 0; i < runs; ++i) {
    // Alternate which client goes first so neither always follows the other.
    if (i % 2 == 0) min_times.push_back(time_run(min_client, env.envp(), devnull.get()));
    welk_times.push_back(time_run(welkmora, env.envp(), devnull.get()));
    if (i % 2 != 0) min_times.push_back(time_run(min_client, env.envp(), devnull.get()));
  }
  std::vector<long> min_kib, welk_kib;
  ::malloc_trim(0);
  std::printf("  (this process: %ld KiB private, the floor of the peak figures)\n", anon_kib());
  for (int i = 0; i < o.memory_runs; ++i) {
    min_kib.push_back(peak_kib(min_client, env.envp(), devnull.get()));
    welk_kib.push_back(peak_kib(welkmora, env.envp(), devnull.get()));
  }
  Figures f{summarize(min_times), summarize(welk_times), median_of(min_kib), median_of(welk_kib)};
  std::printf("  %d runs each; wall time per run in microseconds, best / median; peak memory in KiB\n", runs);
  std::printf("  %-12s %10.0f %10.0f %8ld\n", min_client.name.c_str(), f.min_time.best, f.min_time.median, f.min_kib);
  std::printf("  %-12s %10.0f %10.0f %8ld\n", welkmora.name.c_str(), f.welk_time.best, f.welk_time.median, f.welk_kib);
  if (o.callgrind) {
    auto mi = count_instructions(min_client, env.envp(), devnull.get());
    auto wi = count_instructions(welkmora, env.envp(), devnull.get());
    if (mi && wi) {
      std::printf("  instructions (callgrind): min_client %llu, welkmora %llu, ratio %.2f\n", *mi, *wi,
                  static_cast<double>(*wi) / static_cast<double>(*mi));
    }
  }
  stop_server(server);
  return f;
}

std::string load_average() {
  os::UniqueFd fd(::open("/proc/loadavg", O_RDONLY | O_CLOEXEC));
  std::string text = fd ? read_all(fd.get()) : "?";
  return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse_options(argc, argv);
  // Large blocks (the replies and outputs of the check runs) go back to the
  // system when freed, so forked clients do not inherit them (peak_kib()).
  ::mallopt(M_MMAP_THRESHOLD, 64 << 10);
  char dir_template[] = "/tmp/welkmora-bench-XXXXXX";
  if (::mkdtemp(dir_template) == nullptr) die_errno("mkdtemp");
  std::string dir = dir_template;
  std::printf("load average before: %s\n", load_average().c_str());

  struct Row {
    const bench::Case* c;
    Figures f;
  };
  std::vector<Row> rows;
  for (const bench::Case& c : bench::cases()) {
    if (!o.only.empty() && c.name != o.only) continue;
    Client min_client{"min_client", {o.min_client}}, welkmora{"welkmora", {o.welkmora}};
    min_client.argv.insert(min_client.argv.end(), c.args.begin(), c.args.end());
    welkmora.argv.insert(welkmora.argv.end(), c.args.begin(), c.args.end());
    check_exchange(min_client, welkmora, c, dir);
    rows.push_back({&c, measure(o, c, min_client, welkmora, dir)});
  }
  std::printf("load average after: %s\n\n", load_average().c_str());

  std::printf("%-12s %12s %6s %12s %6s  %s\n", "welkmora/C", "best time", "goal", "peak memory", "goal", "");
  bool met = true;
  for (const Row& r : rows) {
    double t = r.f.welk_time.best / r.f.min_time.best;
    double m = static_cast<double>(r.f.welk_kib) / static_cast<double>(r.f.min_kib);
    bool ok = t <= r.c->time_goal && m <= r.c->memory_goal;
    met = met && ok;
    std::printf("%-12s %12.2f %6.2f %12.2f %6.2f  %s\n", std::string(r.c->name).c_str(), t, r.c->time_goal, m,
                r.c->memory_goal, ok ? "met" : "MISSED");
  }
  ::rmdir(dir.c_str());
  return met ? 0 : 3;
}
