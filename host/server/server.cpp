#include "server/server.h"

#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <utility>

#include "loop/log.h"
#include "os_error.h"
#include "pty/process_info.h"

namespace host {
namespace {

/// A request line at least this long gives the heap back once it is served.
constexpr std::size_t kTrimAfter = std::size_t{1} << 20;

sigset_t loop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

/// How many descriptors the process has open.
std::size_t open_descriptors() {
  std::error_code ec;
  std::size_t n = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n > 0 ? n - 1 : 0;  // less the one that reads the directory
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
  if (!signals_) throw std::runtime_error("cannot create a signalfd: " + os::error_text(errno));
  constexpr auto kFirst = Reactor::Priority::kFirst;
  signals_watch_ = Reactor::Watch(
      reactor_, signals_.get(), POLLIN, [this](unsigned) { on_signals(); }, kFirst);
  listener_watch_ = Reactor::Watch(
      reactor_, listener_.fd.get(), POLLIN, [this](unsigned) { accept_clients(); }, kFirst);
  base_descriptors_ = open_descriptors();
}

Server::~Server() { listener_.remove(); }

int Server::run(const std::function<bool()>& stop_when) {
  for (;;) {
    Clock::time_point now = Clock::now();
    if (!stop_deadline_ && (stop_requested_ || (stop_when && stop_when()))) begin_stop(now);
    if (stop_deadline_ && (!terminals_.has_processes() || now >= *stop_deadline_)) break;
    // While stopping, look again now and then for processes that are left.
    std::optional<Clock::time_point> until;
    if (stop_deadline_) until = std::min(*stop_deadline_, now + kStopPoll);
    // Each handler runs under the loop's guard (loop/guard.h): what one
    // of them cannot do is left undone, and the host goes on.
    if (!reactor_.run_once(until)) {
      report("poll failed: " + os::error_text(errno));
      return 1;
    }
    for (std::uint64_t id : finished_) {
      connections_.erase(id);
      attachments_.erase(id);
    }
    finished_.clear();
  }
  listener_.remove();
  // Whatever outlived the wait goes now.
  terminals_.kill_all();
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
    if (at_descriptor_limit() && !shed_idle()) return rest_listener("too many connections; new clients wait");
    os::UniqueFd fd(::accept4(listener_.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      int err = errno;
      if (err == EINTR || err == ECONNABORTED) continue;
      if (err == EAGAIN) return;
      if ((err == EMFILE || err == ENFILE) && shed_idle()) continue;
      return rest_listener("accept failed: " + os::error_text(err));
    }
    accept_failing_ = false;
    std::uint64_t id = next_id_++;
    ucred cred{};
    socklen_t len = sizeof cred;
    pid_t pid = ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 ? cred.pid : 0;
    // Read now, while the process most likely still runs: a request that
    // comes after it ended (or from whatever reuses its pid) is then told
    // apart from the person's.
    std::optional<ProcessInfo> sender = pid > 0 ? process_info(pid) : std::nullopt;
    Sender seen{pid, sender ? sender->start : 0};
    Connection::Callbacks callbacks{[this, id, seen](std::string line) { on_line(id, seen, line); },
                                    [this, id] {
                                      --clients_;
                                      on_finished(id);
                                    },
                                    [this, id](std::size_t bytes) { on_held(id, bytes); }};
    Connection::Limits limits{limits_.max_request, limits_.idle};
    auto connection = std::make_unique<Connection>(reactor_, std::move(fd), limits, std::move(callbacks));
    Connection& ref = *connection;
    connections_.emplace(id, std::move(connection));
    ++clients_;
    ref.read_now();
  }
}

void Server::count_also(std::function<std::size_t()> descriptors) {
  others_ = std::move(descriptors);
  base_descriptors_ = open_descriptors() - others_();
}

bool Server::at_descriptor_limit(std::size_t margins) const {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return false;
  auto soft = static_cast<std::size_t>(limit.rlim_cur);
  std::size_t margin = std::min(limits_.descriptor_margin, soft / 8);
  std::size_t used = base_descriptors_ + terminals_.descriptors() + clients_ + (others_ ? others_() : 0);
  return used + 1 + margin * margins > soft;
}

bool Server::shed_idle() {
  for (auto& [id, connection] : connections_) {
    if (connection->reading()) {
      connection->shed(Connection::kTimedOut);
      return true;
    }
  }
  return false;
}

void Server::rest_listener(const std::string& why) {
  // Out of descriptors or memory: the clients stay queued in the backlog
  // while the listener rests, rather than waking every round at once.
  if (!accept_failing_) report(why);
  accept_failing_ = true;
  listener_watch_.set_events(0);
  reactor_.timers().at(Clock::now() + kListenerRest, [this] {
    if (listener_.fd) listener_watch_.set_events(POLLIN);
  });
}

void Server::on_held(std::uint64_t id, std::size_t bytes) {
  if (auto it = held_.find(id); it != held_.end()) {
    by_size_.erase({it->second, id});
    held_total_ -= it->second;
    held_.erase(it);
  }
  if (bytes > 0) {
    held_.emplace(id, bytes);
    by_size_.emplace(bytes, id);
    held_total_ += bytes;
  }
  if (shedding_) return;
  shedding_ = true;
  while (held_total_ > limits_.memory_budget && !by_size_.empty()) shed(std::prev(by_size_.end())->second);
  shedding_ = false;
}

void Server::shed(std::uint64_t id) {
  if (auto c = connections_.find(id); c != connections_.end()) c->second->shed(Connection::kOverBudget);
  if (auto a = attachments_.find(id); a != attachments_.end()) a->second->close();
  if (held_.contains(id)) on_held(id, 0);  // whatever it was, it holds nothing now
}

void Server::on_line(std::uint64_t id, Sender sender, const std::string& line) {
  Client client{
      sender.pid, [this, id](const Json& reply) { deliver(id, reply); },
      [this, id](const Json& reply, const std::string& name, const AttachView& view) { attach(id, reply, name, view); },
      sender.started};
  Cancel cancel = dispatcher_.handle(line, client);
  // What parsing a large request took is free again but may be spread
  // over the heap, where it would stay the process's: handed back now.
  if (line.size() >= kTrimAfter) ::malloc_trim(0);
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

void Server::attach(std::uint64_t id, const Json& reply, const std::string& name, const AttachView& view) {
  auto it = connections_.find(id);
  Terminal* terminal = terminals_.find(name);
  if (it == connections_.end() || !it->second->awaiting_reply() || terminal == nullptr) return;
  os::UniqueFd fd = it->second->take_over();
  finished_.push_back(id);
  std::uint64_t attach_id = next_id_++;
  Attachment::Callbacks callbacks{[this, attach_id](std::size_t bytes) { on_held(attach_id, bytes); },
                                  [this, attach_id] {
                                    --clients_;
                                    finished_.push_back(attach_id);
                                  },
                                  [this, name] { return terminals_.find(name); }};
  try {
    attachments_.emplace(attach_id, std::make_unique<Attachment>(reactor_, std::move(fd), *terminal, name, view,
                                                                 reply_text(reply) + "\n", std::move(callbacks)));
  } catch (const std::bad_alloc&) {
    --clients_;  // the descriptor went with the failed attachment
    on_held(attach_id, 0);
  }
}

void Server::deliver(std::uint64_t id, const Json& reply) {
  waiting_.erase(id);
  auto it = connections_.find(id);
  if (it == connections_.end() || !it->second->awaiting_reply()) return;  // the client has gone
  try {
    std::string line = reply_text(reply);
    line.push_back('\n');  // in place: a long reply is not copied again
    it->second->reply(std::move(line));
  } catch (const std::bad_alloc&) {
    it->second->shed(Connection::kOutOfMemory);
  }
}

void Server::begin_stop(Clock::time_point now) {
  for (const auto& stopping : std::exchange(on_stop_, {})) stopping();
  for (auto& [id, attachment] : attachments_) attachment->stop("[the workspace has stopped]");
  listener_watch_.reset();
  listener_.remove();
  listener_.fd.reset();
  connections_.clear();
  waiting_.clear();
  attachments_.clear();
  finished_.clear();
  held_.clear();
  by_size_.clear();
  held_total_ = 0;
  clients_ = 0;
  terminals_.stop();
  stop_deadline_ = now + limits_.stop_wait;
}

}  // namespace host
