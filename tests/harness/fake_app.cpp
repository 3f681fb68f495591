#include "fake_app.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace harness {

using namespace std::chrono_literals;

FakeApp::FakeApp() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "welkmora-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  socket_path_ = dir_ + "/app.sock";
  listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socket_path_.c_str(), sizeof addr.sun_path - 1);
  if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_.get(), 16) != 0) {
    throw std::runtime_error("cannot listen on " + socket_path_);
  }
}

FakeApp::~FakeApp() {
  listener_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

Env FakeApp::env() const {
  return {{"WELKMORA_SOCKET", socket_path_}, {"WELKMORA_TERMINAL_ID", "T1"}, {"WELKMORA_TOKEN", "tok"}};
}

void FakeApp::serve(const Script& script) {
  // Wait for the client's connection; once the client has exited, whatever
  // it connected is already queued, so an empty queue means it never did.
  pollfd pfd{listener_.get(), POLLIN, 0};
  for (;;) {
    bool done = client_done_.load();
    if (::poll(&pfd, 1, 20) > 0) break;
    if (done) return;
  }
  os::UniqueFd conn(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!conn) return;
  connected_ = true;
  char buf[65536];
  if (script.read_request) {
    while (received_.find('\n') == std::string::npos) {
      ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      received_.append(buf, static_cast<std::size_t>(n));
    }
  } else {
    for (const std::string& chunk : script.chunks) ::send(conn.get(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
    return;  // closes unread
  }
  for (std::size_t i = 0; i < script.chunks.size(); ++i) {
    if (i > 0 && script.gap.count() > 0) std::this_thread::sleep_for(script.gap);
    ::send(conn.get(), script.chunks[i].data(), script.chunks[i].size(), MSG_NOSIGNAL);
  }
  ::shutdown(conn.get(), SHUT_WR);
  // Record anything the client sends after its line, until it hangs up.
  for (;;) {
    ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received_.append(buf, static_cast<std::size_t>(n));
  }
}

Exchange FakeApp::exchange(const std::vector<std::string>& args, const Script& script, RunOptions options) {
  client_done_ = false;
  received_.clear();
  connected_ = false;
  std::thread server([&] { serve(script); });
  Exchange x;
  x.run = run_client(args, options);
  client_done_ = true;
  server.join();
  x.request = received_;
  x.connected = connected_;
  return x;
}

Exchange FakeApp::exchange(const std::vector<std::string>& args, const std::string& reply_line) {
  RunOptions options;
  options.env = env();
  return exchange(args, Script::reply(reply_line), options);
}

}  // namespace harness
