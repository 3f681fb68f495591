#include "host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "unique_fd.h"

namespace harness {
namespace {

using namespace std::chrono_literals;
using wire::Json;

/// A small, predictable environment for the host and what it starts.
Env host_env(const std::string& home) {
  return {{"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"HOME", home}, {"SHELL", "/bin/sh"}, {"LANG", "C.UTF-8"}};
}

os::UniqueFd connect_socket(const std::string& path) {
  os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  return fd;
}

/// Parses the lines `export NAME='value'` that `join` prints.
Env parse_exports(const std::string& text) {
  Env env;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string prefix = "export ";
    auto eq = line.find('=');
    if (line.rfind(prefix, 0) != 0 || eq == std::string::npos) throw std::runtime_error("bad export line: " + line);
    std::string value = line.substr(eq + 1);
    if (value.size() < 2 || value.front() != '\'' || value.back() != '\'')
      throw std::runtime_error("unquoted: " + line);
    env[line.substr(prefix.size(), eq - prefix.size())] = value.substr(1, value.size() - 2);
  }
  return env;
}

}  // namespace

std::string host_path() { return WELKMORA_HOST_BIN; }

RunResult run_host(const std::vector<std::string>& args, Env env) {
  RunOptions options;
  options.program = host_path();
  options.env = env.empty() ? host_env("/nonexistent") : std::move(env);
  return run_client(args, options);
}

HostProcess::HostProcess() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "welkmora-host-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  socket_path_ = dir_ + "/host.sock";
  state_path_ = dir_ + "/state.json";
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void HostProcess::start(const std::vector<std::string>& extra) { start(extra, {}); }

void HostProcess::start(const std::vector<std::string>& extra, const Env& env) {
  if (pid_ > 0) throw std::runtime_error("host already running");
  std::vector<std::string> args = {host_path(), "serve", "--socket", socket_path_, "--state", state_path_};
  args.insert(args.end(), extra.begin(), extra.end());
  Env full = host_env(dir_);
  for (const auto& [k, v] : env) full[k] = v;
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : full) env_strings.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  os::UniqueFd err(::open((dir_ + "/host.err").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  os::UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(null.get(), 0);
    ::dup2(null.get(), 1);
    ::dup2(err.get(), 2);
    // The host starts with the standard streams only, whatever the test
    // runner left open, so any other descriptor it has is its own.
    ::close_range(3, ~0U, 0);
    // The test process may block or ignore signals the host relies on.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  pid_ = pid;
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (connect_socket(socket_path_)) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("welkmora-host exited at start: " + error_output());
    }
    std::this_thread::sleep_for(10ms);
  }
  throw std::runtime_error("welkmora-host does not listen: " + error_output());
}

int HostProcess::stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + 10s;
  int status = 0;
  for (;;) {
    pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(10ms);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HostProcess::error_output() const {
  std::ifstream in(dir_ + "/host.err");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Env HostProcess::join(const std::string& name) {
  RunResult r = run_host({"join", name, "--socket", socket_path_});
  if (r.status != 0) throw std::runtime_error("join failed: " + r.err);
  return parse_exports(r.out);
}

std::string HostProcess::send_line(const std::string& line) const {
  os::UniqueFd fd = connect_socket(socket_path_);
  if (!fd) throw std::runtime_error("cannot connect to the host");
  std::string data = line + "\n";
  if (::send(fd.get(), data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size())) {
    throw std::runtime_error("short send");
  }
  std::string reply;
  char buf[65536];
  while (reply.find('\n') == std::string::npos) {
    ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
  }
  return reply.substr(0, reply.find('\n'));
}

Json HostProcess::request(const Env& env, Json request) const {
  request["terminalId"] = env.at("WELKMORA_TERMINAL_ID");
  request["token"] = env.at("WELKMORA_TOKEN");
  std::string line = send_line(wire::to_wire(request));
  wire::Parsed reply = wire::parse_json(line);
  if (!reply.ok()) throw std::runtime_error("unparsable reply: " + line);
  return *reply;
}

Json HostProcess::result(const Env& env, Json req) const {
  Json reply = request(env, req);
  if (reply.value("ok", false) != true) throw std::runtime_error("refused: " + reply.dump() + " for " + req.dump());
  return reply.value("result", Json());
}

Env HostProcess::recruit(const Env& by, const std::string& name, const std::string& cmd, Json request) const {
  std::string file = dir_ + "/recruit-" + std::to_string(++recruits_) + ".env";
  std::vector<std::string> args = {
      "recruit", name, "--command",
      "env | grep ^WELKMORA_ > '" + file + ".tmp' && mv '" + file + ".tmp' '" + file + "'; " + cmd};
  for (const auto& [member, value] : request.items()) {
    if (member != "role" && member != "preset") throw std::runtime_error("recruit has no flag for " + member);
    args.insert(args.end(), {"--" + member, value.get<std::string>()});
  }
  RunResult run = client(by, args);
  if (run.status != 0 || run.out.rfind("Recruit gespawnt: " + name, 0) != 0) {
    throw std::runtime_error("recruit " + name + " refused: " + run.err);
  }
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!std::filesystem::exists(file)) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("recruit " + name + " did not start");
    std::this_thread::sleep_for(10ms);
  }
  Env own;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos) own[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return own;
}

RunResult HostProcess::client(const Env& env, const std::vector<std::string>& args) const {
  return client(env, args, Stdin::null());
}

RunResult HostProcess::client(const Env& env, const std::vector<std::string>& args, Stdin in) const {
  RunOptions options;
  options.env = env;
  options.in = std::move(in);
  return run_client(args, options);
}

RunResult HostProcess::check_until(const Env& env, const std::string& name, const std::string& needle,
                                   std::chrono::milliseconds deadline) const {
  auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    RunResult r = client(env, {"check", name});
    if (r.out.find(needle) != std::string::npos || std::chrono::steady_clock::now() > end) return r;
    std::this_thread::sleep_for(50ms);
  }
}

}  // namespace harness
