#include "loop/reactor.h"

#include <poll.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "loop/guard.h"
#include "os_error.h"

namespace host {

// The poll bits and epoll's bits are the same numbers on Linux; handlers
// and callers speak poll's names.
static_assert(POLLIN == EPOLLIN && POLLOUT == EPOLLOUT && POLLHUP == EPOLLHUP && POLLERR == EPOLLERR);

Reactor::Watch::Watch(Reactor& reactor, int fd, unsigned events, Handler handler, Priority priority) {
  wire::Fallible<Watch> watched = reactor.watch(fd, events, std::move(handler), priority);
  if (!watched.ok()) throw std::runtime_error(watched.failure().text);
  *this = std::move(*watched);
}

Reactor::Watch::Watch(Watch&& other) noexcept : reactor_(std::exchange(other.reactor_, nullptr)), id_(other.id_) {}

Reactor::Watch& Reactor::Watch::operator=(Watch&& other) noexcept {
  if (this != &other) {
    reset();
    reactor_ = std::exchange(other.reactor_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

void Reactor::Watch::set_events(unsigned events) {
  if (reactor_ != nullptr) reactor_->set_events(id_, events);
}

void Reactor::Watch::reset() {
  if (reactor_ != nullptr) std::exchange(reactor_, nullptr)->unwatch(id_);
}

namespace {

/// The id under which first_ is registered in epoll_; watches count from 1.
constexpr std::uint64_t kFirstSet = 0;

}  // namespace

Reactor::Reactor() : epoll_(::epoll_create1(EPOLL_CLOEXEC)), first_(::epoll_create1(EPOLL_CLOEXEC)) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kFirstSet;
  if (!epoll_ || !first_ || ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, first_.get(), &ev) != 0) {
    throw std::runtime_error("cannot create an epoll instance: " + os::error_text(errno));
  }
}

wire::Fallible<Reactor::Watch> Reactor::watch(int fd, unsigned events, Handler handler, Priority priority) {
  std::uint64_t id = next_id_++;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  if (::epoll_ctl(epoll_of(priority), EPOLL_CTL_ADD, fd, &ev) != 0) {
    return wire::Error("cannot watch descriptor " + std::to_string(fd) + ": " + os::error_text(errno));
  }
  entries_.emplace(id, Entry{fd, events, priority, std::make_shared<Handler>(std::move(handler))});
  return Watch(this, id);
}

void Reactor::set_events(std::uint64_t id, unsigned events) {
  auto it = entries_.find(id);
  if (it == entries_.end() || it->second.events == events) return;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  // Fails only for a descriptor closed under its watch, which then reports nothing.
  ::epoll_ctl(epoll_of(it->second.priority), EPOLL_CTL_MOD, it->second.fd, &ev);
  it->second.events = events;
}

void Reactor::unwatch(std::uint64_t id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  epoll_event ev{};
  ::epoll_ctl(epoll_of(it->second.priority), EPOLL_CTL_DEL, it->second.fd, &ev);
  entries_.erase(it);
}

int Reactor::timeout_ms(std::optional<Clock::time_point> until) const {
  std::optional<Clock::time_point> wake = timers_.next();
  if (until && (!wake || *until < *wake)) wake = until;
  if (!wake) return -1;
  Clock::time_point now = Clock::now();
  if (*wake <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, 60'000));
}

void Reactor::serve(const epoll_event* ready, int count) {
  for (int i = 0; i < count; ++i) {
    auto it = entries_.find(ready[i].data.u64);
    if (it == entries_.end()) continue;  // first_, or ended by an earlier handler of this round
    std::shared_ptr<Handler> handler = it->second.handler;
    run_guarded([&] { (*handler)(ready[i].events); });
  }
}

bool Reactor::run_once(std::optional<Clock::time_point> until) {
  epoll_event ready[kBatch];
  int n = ::epoll_wait(epoll_.get(), ready, kBatch, timeout_ms(until));
  if (n < 0) {
    if (errno != EINTR) return false;
    n = 0;
  }
  // The first set is looked at in every round, reported ready or not.
  epoll_event first[kFirstBatch];
  int m = ::epoll_wait(first_.get(), first, kFirstBatch, 0);
  serve(first, std::max(m, 0));
  serve(ready, n);
  timers_.run_due(Clock::now());
  return true;
}

}  // namespace host
