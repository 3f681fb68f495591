#include "server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "os_error.h"

namespace host {

/// One descriptor of a poll() round and what it belongs to.
struct Server::Watch {
  enum class Kind { kSignals, kListener, kTerminal, kConnection } kind;
  std::uint64_t connection = 0;
  std::string terminal;
};

namespace {

sigset_t loop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

}  // namespace

Server::Server(Listener listener, Dispatcher& dispatcher, TerminalSet& terminals, Timers& timers, ServerLimits limits)
    : listener_(std::move(listener)), dispatcher_(dispatcher), terminals_(terminals), timers_(timers), limits_(limits) {
  sigset_t set = loop_signals();
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) throw std::runtime_error("cannot block signals");
  signals_.reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signals_) throw std::runtime_error("cannot create a signalfd: " + wire::os_error_text(errno));
}

Server::~Server() { listener_.remove(); }

int Server::run() {
  std::vector<pollfd> fds;
  for (;;) {
    Clock::time_point now = Clock::now();
    if (guest_ != nullptr && !stop_deadline_ && guest_->wants_stop()) begin_stop(now);
    if (stop_deadline_ && (!terminals_.has_processes() || now >= *stop_deadline_)) break;
    std::vector<Watch> watches = watch_list();
    fds.clear();
    for (const Watch& w : watches) {
      switch (w.kind) {
        case Watch::Kind::kSignals: fds.push_back({signals_.get(), POLLIN, 0}); break;
        case Watch::Kind::kListener: fds.push_back({listener_.fd.get(), POLLIN, 0}); break;
        case Watch::Kind::kTerminal: {
          Terminal* t = terminals_.find(w.terminal);
          fds.push_back({t->fd(), static_cast<short>(POLLIN | (t->wants_write() ? POLLOUT : 0)), 0});
          break;
        }
        case Watch::Kind::kConnection: {
          const Connection& c = *connections_.at(w.connection);
          fds.push_back({c.fd(), c.events(), 0});
          break;
        }
      }
    }
    const std::size_t own = fds.size();
    if (guest_ != nullptr && !stop_deadline_) {
      for (const pollfd& p : guest_->watches()) fds.push_back(p);
    }
    if (::poll(fds.data(), fds.size(), timeout_ms(now)) < 0 && errno != EINTR) {
      std::fprintf(stderr, "welkmora-host: poll failed: %s\n", wire::os_error_text(errno).c_str());
      return 1;
    }
    now = Clock::now();
    for (std::size_t i = 0; i < fds.size(); ++i) {
      short revents = fds[i].revents;
      if (revents == 0) continue;
      if (i >= own) {
        guest_->on_ready(fds[i], now);
        continue;
      }
      const Watch& w = watches[i];
      switch (w.kind) {
        case Watch::Kind::kSignals: on_signals(now); break;
        case Watch::Kind::kListener: accept_clients(now); break;
        case Watch::Kind::kTerminal: on_terminal(w.terminal, fds[i].fd, revents, now); break;
        case Watch::Kind::kConnection: on_connection(w.connection, revents); break;
      }
    }
    timers_.run_due(Clock::now());
    std::erase_if(connections_, [](const auto& entry) { return entry.second->finished(); });
  }
  listener_.remove();
  return 0;
}

std::vector<Server::Watch> Server::watch_list() {
  std::vector<Watch> watches{{Watch::Kind::kSignals, 0, {}}};
  if (listener_.fd && !listener_resting_) watches.push_back({Watch::Kind::kListener, 0, {}});
  for (std::string& name : terminals_.open_names()) watches.push_back({Watch::Kind::kTerminal, 0, std::move(name)});
  for (const auto& [id, connection] : connections_) watches.push_back({Watch::Kind::kConnection, id, {}});
  return watches;
}

int Server::timeout_ms(Clock::time_point now) const {
  std::optional<Clock::time_point> wake = timers_.next();
  if (stop_deadline_ && (!wake || *stop_deadline_ < *wake)) wake = stop_deadline_;
  if (!wake) return -1;
  if (*wake <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
  return ms > 60'000 ? 60'000 : static_cast<int>(ms);
}

void Server::on_signals(Clock::time_point now) {
  signalfd_siginfo info;
  bool child = false;
  while (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGCHLD) {
      child = true;
    } else if (stop_deadline_) {
      terminals_.kill_all();  // asked twice: no more patience
    } else {
      begin_stop(now);
    }
  }
  // Signals merge, so every SIGCHLD reaps all children that have ended.
  if (child || stop_deadline_) reap(now);
}

void Server::reap(Clock::time_point now) {
  int status = 0;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) terminals_.child_exited(pid, status, now);
}

void Server::accept_clients(Clock::time_point now) {
  for (;;) {
    wire::UniqueFd fd(::accept4(listener_.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN) rest_listener(now, errno);
      return;
    }
    accept_failing_ = false;
    connections_.emplace(next_id_++, std::make_unique<Connection>(std::move(fd), limits_.max_request));
  }
}

void Server::rest_listener(Clock::time_point now, int error) {
  // Out of descriptors or memory: the clients stay queued in the backlog
  // while the listener rests, rather than waking every poll() at once.
  if (!accept_failing_) {
    std::fprintf(stderr, "welkmora-host: accept failed: %s\n", wire::os_error_text(error).c_str());
  }
  accept_failing_ = true;
  listener_resting_ = true;
  timers_.at(now + kListenerRest, [this] { listener_resting_ = false; });
}

void Server::on_connection(std::uint64_t id, short revents) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;  // dropped during this round (the host is stopping)
  Connection& c = *it->second;
  if (revents & POLLIN) {
    if (std::optional<std::string> line = c.on_readable()) {
      dispatcher_.handle(*line, [this, id](const Json& reply) { deliver(id, reply); });
    }
  } else if (revents & POLLOUT) {
    c.on_writable();
  } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    c.on_hang_up();
  }
}

void Server::deliver(std::uint64_t id, const Json& reply) {
  auto it = connections_.find(id);
  if (it == connections_.end() || !it->second->awaiting_reply()) return;  // the client has gone
  it->second->reply(reply_text(reply) + "\n");
}

void Server::on_terminal(const std::string& name, int fd, short revents, Clock::time_point now) {
  Terminal* t = terminals_.find(name);
  if (t == nullptr || t->fd() != fd) return;  // dismissed during this round
  if (revents & POLLOUT) t->on_writable();
  if (revents & (POLLIN | POLLHUP | POLLERR)) t->on_readable(now);
}

void Server::begin_stop(Clock::time_point now) {
  listener_.remove();
  listener_.fd.reset();
  connections_.clear();
  terminals_.dismiss_all();
  stop_deadline_ = now + limits_.stop_wait;
}

}  // namespace host
