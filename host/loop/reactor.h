#pragma once
// The host's event loop, on one thread, in the manner of a small reactor:
// each descriptor is registered once, with the events it waits for and the
// handler that serves them, and stays registered until its Watch ends. The
// loop sleeps in epoll until a descriptor is ready or the next timer is due.
//
// Descriptors that must not wait (the socket's listener and clients) are
// registered as kFirst: they are looked at in every round, before the
// others, and a round serves at most kBatch of the others. Terminals that
// flood output are taken in turns across rounds (epoll reports the ready
// ones it has not reported for longest first), so a client waits for at
// most kBatch terminal reads, however many terminals flood.
//
// Costs: watch() and the end of a Watch are one epoll_ctl and a hash-map
// update; set_events() is one epoll_ctl, and nothing when the events are
// unchanged; a round is two epoll_waits plus one handler call per ready
// descriptor served plus the timers that are due. Nothing is proportional
// to the number of idle descriptors.

#include <sys/epoll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

#include "loop/clock.h"
#include "loop/timers.h"
#include "status.h"
#include "unique_fd.h"

namespace host {

class Reactor {
 public:
  /// Serves a ready descriptor; `events` holds the poll bits that are set
  /// (POLLIN, POLLOUT, POLLHUP, POLLERR). A handler may add and end watches,
  /// its own included.
  using Handler = std::function<void(unsigned events)>;

  /// kFirst: served in every round it is ready, before the others.
  enum class Priority { kNormal, kFirst };

  /// A registration: the descriptor is watched while this lives. Ending it
  /// (before the descriptor is closed) unregisters it.
  class Watch {
   public:
    Watch() = default;
    /// Watches as Reactor::watch does, for the constructor of an object that
    /// cannot be without its watch: throws std::runtime_error with the
    /// kernel's refusal, so that the object is never made.
    Watch(Reactor& reactor, int fd, unsigned events, Handler handler, Priority priority = Priority::kNormal);
    Watch(Watch&& other) noexcept;
    Watch& operator=(Watch&& other) noexcept;
    ~Watch() { reset(); }

    /// Changes the events waited for (POLLIN, POLLOUT; hang-ups and errors
    /// are always reported).
    void set_events(unsigned events);
    /// Unregisters now.
    void reset();
    explicit operator bool() const { return reactor_ != nullptr; }

   private:
    friend class Reactor;
    Watch(Reactor* reactor, std::uint64_t id) : reactor_(reactor), id_(id) {}
    Reactor* reactor_ = nullptr;
    std::uint64_t id_ = 0;
  };

  /// Throws std::runtime_error when no epoll instance can be made.
  Reactor();
  Reactor(const Reactor&) = delete;
  Reactor& operator=(const Reactor&) = delete;

  /// Watches `fd` (which must stay open while the Watch lives) for
  /// `events`; fails when the kernel refuses it (no memory, a descriptor
  /// limit of epoll's own).
  [[nodiscard]] wire::Fallible<Watch> watch(int fd, unsigned events, Handler handler,
                                            Priority priority = Priority::kNormal);

  Timers& timers() { return timers_; }

  /// One round: waits until a descriptor is ready, the next timer or
  /// `until` is due (whichever is first; with neither, as long as it
  /// takes), serves the ready descriptors (kFirst ones first) and then the
  /// due timers. An
  /// interrupted wait is a round that served nothing. Returns false, with
  /// errno set, when waiting fails.
  bool run_once(std::optional<Clock::time_point> until = std::nullopt);

  /// Most kNormal descriptors served in one round; the rest stay ready for
  /// the next rounds.
  static constexpr int kBatch = 8;
  /// Most kFirst descriptors served in one round.
  static constexpr int kFirstBatch = 256;

 private:
  struct Entry {
    int fd;
    unsigned events;
    Priority priority;
    /// Shared, so a handler that ends its own watch finishes its call.
    std::shared_ptr<Handler> handler;
  };

  void set_events(std::uint64_t id, unsigned events);
  void unwatch(std::uint64_t id);
  int timeout_ms(std::optional<Clock::time_point> until) const;
  int epoll_of(Priority priority) const { return priority == Priority::kFirst ? first_.get() : epoll_.get(); }
  void serve(const epoll_event* ready, int count);

  /// The kNormal descriptors, and first_ itself so that a wait wakes for both.
  os::UniqueFd epoll_;
  /// The kFirst descriptors.
  os::UniqueFd first_;
  std::unordered_map<std::uint64_t, Entry> entries_;
  std::uint64_t next_id_ = 1;
  Timers timers_;
};

}  // namespace host
