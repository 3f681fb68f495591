// The round-trip benchmark: how much longer one `welkmora list` takes than a
// minimal C client doing the same exchange with the same stand-in app.
//
// It first checks that both clients send the same request bytes and print
// what they should, then starts reply_server and runs the two clients N
// times each, alternating, with standard output on /dev/null, and reports
// wall time per run. With --callgrind it also counts each client's
// instructions under valgrind, a figure that a loaded machine does not skew.
//
// usage: roundtrip [-n RUNS] [--warmup RUNS] [--callgrind]
//                  [--welkmora PATH] [--min-client PATH] [--server PATH]

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "reply_line.h"
#include "unique_fd.h"

extern char** environ;

namespace {

struct Options {
  int runs = 500;
  int warmup = 20;
  bool callgrind = false;
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
  if (o.runs < 1 || o.warmup < 0) die("-n must be at least 1 and --warmup at least 0");
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

/// Starts `argv` with standard output on `out` and standard error on `err`
/// (-1 keeps ours).
pid_t spawn(const std::vector<std::string>& argv, char** envp, int out, int err = -1) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
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

/// Waits for `pid`; dies unless it exited with status 0.
void reap(pid_t pid, const std::string& name) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) die_errno("waitpid");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(name + " did not exit with status 0");
}

std::string read_all(int fd) {
  std::string text;
  char buf[4096];
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

wire::UniqueFd listen_on(const std::string& path) {
  sockaddr_un addr = address_of(path);
  wire::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) die_errno("socket");
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) die_errno("bind " + path);
  if (::listen(fd.get(), 8) != 0) die_errno("listen");
  return fd;
}

/// What one client sent and printed in the check run.
struct Observed {
  std::string request;
  std::string output;
};

/// Runs `client` once against a socket served here, so the request bytes
/// can be compared. Gives up after ten seconds without a connection.
Observed observe(const Client& client, const std::string& dir) {
  std::string path = dir + "/check.sock";
  wire::UniqueFd listener = listen_on(path);
  Environment env(path);
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) die_errno("pipe");
  wire::UniqueFd out_read(pipe_fds[0]);
  wire::UniqueFd out_write(pipe_fds[1]);
  pid_t pid = spawn(client.argv, env.envp(), out_write.get());
  out_write.reset();

  pollfd pfd{listener.get(), POLLIN, 0};
  if (::poll(&pfd, 1, 10000) != 1) die(client.name + " did not connect");
  wire::UniqueFd conn(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!conn) die_errno("accept");
  Observed seen;
  char buf[4096];
  while (seen.request.find('\n') == std::string::npos) {
    ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
    if (n <= 0) die(client.name + " closed before its request line ended");
    seen.request.append(buf, static_cast<std::size_t>(n));
  }
  if (::send(conn.get(), bench::kReplyLine.data(), bench::kReplyLine.size(), MSG_NOSIGNAL) < 0) die_errno("send");
  conn.reset();
  seen.output = read_all(out_read.get());
  reap(pid, client.name);
  ::unlink(path.c_str());
  return seen;
}

/// Both clients must make the same exchange and print what they should.
void check_exchange(const Client& min_client, const Client& welkmora, const std::string& dir) {
  Observed a = observe(min_client, dir);
  Observed b = observe(welkmora, dir);
  if (a.request != b.request) die("requests differ:\n  " + a.request + "  " + b.request);
  if (a.output != bench::kReplyLine) die("min_client printed: " + a.output);
  if (b.output != bench::kListOutput) die("welkmora printed: " + b.output);
  std::printf("request: %s", a.request.c_str());
}

/// Starts reply_server and waits until it accepts connections.
pid_t start_server(const std::string& server, const std::string& path) {
  wire::UniqueFd devnull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  pid_t pid = spawn({server, path}, environ, devnull.get());
  g_server = pid;
  sockaddr_un addr = address_of(path);
  for (int attempt = 0; attempt < 500; ++attempt) {
    wire::UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  die("reply_server did not come up");
}

void stop_server(pid_t pid) {
  ::kill(pid, SIGTERM);
  g_server = -1;
  reap(pid, "reply_server");
}

/// Wall time of one run of `client`, in microseconds.
double time_run(const Client& client, char** envp, int devnull) {
  auto start = std::chrono::steady_clock::now();
  reap(spawn(client.argv, envp, devnull), client.name);
  std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

struct Stats {
  double mean, median, p95;
};

Stats summarize(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  double sum = 0;
  for (double s : samples) sum += s;
  std::size_t n = samples.size();
  double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  std::size_t rank = (n * 95 + 99) / 100;  // nearest rank, 1-based
  return {sum / static_cast<double>(n), median, samples[std::max<std::size_t>(rank, 1) - 1]};
}

/// Instructions one run of `client` executes (loader included), from
/// callgrind's summary line; nullopt when valgrind cannot be run.
std::optional<unsigned long long> count_instructions(const Client& client, char** envp, int devnull) {
  std::vector<std::string> argv = {"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"};
  argv.insert(argv.end(), client.argv.begin(), client.argv.end());
  if (::access(argv[0].c_str(), X_OK) != 0) return std::nullopt;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) die_errno("pipe");
  wire::UniqueFd err_read(pipe_fds[0]);
  wire::UniqueFd err_write(pipe_fds[1]);
  pid_t pid = spawn(argv, envp, devnull, err_write.get());
  err_write.reset();
  std::string report = read_all(err_read.get());
  reap(pid, "valgrind " + client.name);
  std::size_t at = report.find("Collected : ");
  if (at == std::string::npos) return std::nullopt;
  return std::strtoull(report.c_str() + at + 12, nullptr, 10);
}

void print_row(const std::string& name, const Stats& s) {
  std::printf("%-12s %10.1f %10.1f %10.1f\n", name.c_str(), s.mean, s.median, s.p95);
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse_options(argc, argv);
  Client min_client{"min_client", {o.min_client}};
  Client welkmora{"welkmora", {o.welkmora, "list"}};

  char dir_template[] = "/tmp/welkmora-bench-XXXXXX";
  if (::mkdtemp(dir_template) == nullptr) die_errno("mkdtemp");
  std::string dir = dir_template;
  check_exchange(min_client, welkmora, dir);

  std::string path = dir + "/app.sock";
  Environment env(path);
  wire::UniqueFd devnull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!devnull) die_errno("/dev/null");
  pid_t server = start_server(o.server, path);

  for (int i = 0; i < o.warmup; ++i) {
    time_run(min_client, env.envp(), devnull.get());
    time_run(welkmora, env.envp(), devnull.get());
  }
  std::vector<double> min_times, welk_times;
  for (int i = 0; i < o.runs; ++i) {
    // Alternate which client goes first so neither always follows the other.
    if (i % 2 == 0) min_times.push_back(time_run(min_client, env.envp(), devnull.get()));
    welk_times.push_back(time_run(welkmora, env.envp(), devnull.get()));
    if (i % 2 != 0) min_times.push_back(time_run(min_client, env.envp(), devnull.get()));
  }

  Stats m = summarize(min_times), w = summarize(welk_times);
  std::printf("%d runs each, wall time per run in microseconds\n", o.runs);
  std::printf("%-12s %10s %10s %10s\n", "client", "mean", "median", "p95");
  print_row(min_client.name, m);
  print_row(welkmora.name, w);
  std::printf("ratio welkmora/min_client: mean %.2f, median %.2f, p95 %.2f\n", w.mean / m.mean, w.median / m.median,
              w.p95 / m.p95);

  if (o.callgrind) {
    auto mi = count_instructions(min_client, env.envp(), devnull.get());
    auto wi = count_instructions(welkmora, env.envp(), devnull.get());
    if (mi && wi) {
      std::printf("instructions (callgrind): min_client %llu, welkmora %llu, ratio %.2f\n", *mi, *wi,
                  static_cast<double>(*wi) / static_cast<double>(*mi));
    } else {
      std::printf("instructions (callgrind): valgrind not available\n");
    }
  }
  stop_server(server);
  ::rmdir(dir.c_str());
  return 0;
}
