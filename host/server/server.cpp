#include "server/server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>

#include "loop/log.h"
#include "os_error.h"

namespace host {
namespace {

sigset_t loop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

}  // namespace

Server::Server(Reactor& reactor, Listener listener, Dispatcher& dispatcher, TerminalSet& terminals, ServerLimits limits)
    : reactor_(reactor),
      listener_(std::move(listener)),
      dispatcher_(dispatcher),
      terminals_(terminals),
      limits_(limits) {
  sigset_t set = loop_signals();
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) throw std::runtime_error("cannot block signals");
  signals_.reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signals_) throw std::runtime_error("cannot create a signalfd: " + wire::os_error_text(errno));
  constexpr auto kFirst = Reactor::Priority::kFirst;
  signals_watch_ = reactor_.watch(
      signals_.get(), POLLIN, [this](unsigned) { on_signals(); }, kFirst);
  listener_watch_ = reactor_.watch(
      listener_.fd.get(), POLLIN, [this](unsigned) { accept_clients(); }, kFirst);
}

Server::~Server() { listener_.remove(); }

int Server::run(const std::function<bool()>& stop_when) {
  for (;;) {
    Clock::time_point now = Clock::now();
    if (!stop_deadline_ && stop_when && stop_when()) begin_stop(now);
    if (stop_deadline_ && (!terminals_.has_processes() || now >= *stop_deadline_)) break;
    if (!reactor_.run_once(stop_deadline_)) {
      report("poll failed: " + wire::os_error_text(errno));
      return 1;
    }
    for (std::uint64_t id : finished_) {
      connections_.erase(id);
      attachments_.erase(id);
    }
    finished_.clear();
  }
  listener_.remove();
  return 0;
}

void Server::on_signals() {
  signalfd_siginfo info;
  bool child = false;
  while (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGCHLD) {
      child = true;
    } else if (stop_deadline_) {
      terminals_.kill_all();  // asked twice: no more patience
    } else {
      begin_stop(Clock::now());
    }
  }
  // Signals merge, so every SIGCHLD reaps all children that have ended.
  if (child || stop_deadline_) terminals_.reap(Clock::now());
}

void Server::accept_clients() {
  for (;;) {
    wire::UniqueFd fd(::accept4(listener_.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN) rest_listener(errno);
      return;
    }
    accept_failing_ = false;
    std::uint64_t id = next_id_++;
    ucred cred{};
    socklen_t len = sizeof cred;
    pid_t pid = ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 ? cred.pid : 0;
    Connection::Callbacks callbacks{[this, id, pid](std::string line) { on_line(id, pid, line); },
                                    [this, id] { on_finished(id); }};
    auto connection = std::make_unique<Connection>(reactor_, std::move(fd), limits_.max_request, std::move(callbacks));
    Connection& ref = *connection;
    connections_.emplace(id, std::move(connection));
    ref.read_now();
  }
}

void Server::rest_listener(int error) {
  // Out of descriptors or memory: the clients stay queued in the backlog
  // while the listener rests, rather than waking every round at once.
  if (!accept_failing_) report("accept failed: " + wire::os_error_text(error));
  accept_failing_ = true;
  listener_watch_.set_events(0);
  reactor_.timers().at(Clock::now() + kListenerRest, [this] {
    if (listener_.fd) listener_watch_.set_events(POLLIN);
  });
}

void Server::on_line(std::uint64_t id, pid_t pid, const std::string& line) {
  Client client{
      pid, [this, id](const Json& reply) { deliver(id, reply); },
      [this, id](const Json& reply, const std::string& name, bool read_only) { attach(id, reply, name, read_only); }};
  Cancel cancel = dispatcher_.handle(line, client);
  auto it = connections_.find(id);
  if (cancel && it != connections_.end() && it->second->awaiting_reply()) waiting_[id] = std::move(cancel);
}

void Server::on_finished(std::uint64_t id) {
  finished_.push_back(id);
  auto it = waiting_.find(id);
  if (it == waiting_.end()) return;
  Cancel cancel = std::move(it->second);
  waiting_.erase(it);
  cancel();  // its reply now goes nowhere: the connection waits no more
}

void Server::attach(std::uint64_t id, const Json& reply, const std::string& name, bool read_only) {
  auto it = connections_.find(id);
  Terminal* terminal = terminals_.find(name);
  if (it == connections_.end() || !it->second->awaiting_reply() || terminal == nullptr) return;
  wire::UniqueFd fd = it->second->take_over();
  finished_.push_back(id);
  std::uint64_t attach_id = next_id_++;
  attachments_.emplace(attach_id, std::make_unique<Attachment>(reactor_, std::move(fd), *terminal, name, read_only,
                                                               reply_text(reply) + "\n",
                                                               [this, attach_id] { finished_.push_back(attach_id); }));
}

void Server::deliver(std::uint64_t id, const Json& reply) {
  waiting_.erase(id);
  auto it = connections_.find(id);
  if (it == connections_.end() || !it->second->awaiting_reply()) return;  // the client has gone
  it->second->reply(reply_text(reply) + "\n");
}

void Server::begin_stop(Clock::time_point now) {
  listener_watch_.reset();
  listener_.remove();
  listener_.fd.reset();
  connections_.clear();
  waiting_.clear();
  attachments_.clear();
  finished_.clear();
  terminals_.dismiss_all();
  stop_deadline_ = now + limits_.stop_wait;
}

}  // namespace host
