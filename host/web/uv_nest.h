#pragma once
// A libuv loop nested in the host's reactor. libwebsockets runs its sockets
// and timers on an event library; Debian builds it without the callbacks
// that would hand each socket to a foreign poll loop, but with libuv. So the
// web server gets a libuv loop of its own, and that loop lives inside the
// reactor: libuv's epoll descriptor is one descriptor the reactor watches,
// and when it is ready (or libuv's next timer is due) the loop runs once
// without blocking. Everything stays on the host's one thread.

#include <uv.h>

#include "loop/reactor.h"

namespace host {

class UvNest {
 public:
  /// Throws std::runtime_error when libuv cannot make a loop.
  explicit UvNest(Reactor& reactor);
  /// Runs the loop until its handles have closed, then closes it; whoever
  /// opened handles on it must have asked them to close before.
  ~UvNest();
  UvNest(const UvNest&) = delete;
  UvNest& operator=(const UvNest&) = delete;

  uv_loop_t* loop() { return &loop_; }

  /// Runs the loop, without waiting, until nothing is active in it any more
  /// (a bounded number of times): for those who close their handles.
  void drain();

  /// Runs the loop at the end of this round of the reactor. Needed after a
  /// call from outside libuv's callbacks that starts or changes what libuv
  /// watches: libuv tells the kernel about it only when it runs.
  void kick();

 private:
  /// One non-blocking run, then the timer for libuv's next deadline.
  void run();
  void arm(Clock::time_point when);

  Reactor& reactor_;
  /// Set while the loop closes: nothing is scheduled any more.
  bool closing_ = false;
  uv_loop_t loop_;
  Reactor::Watch watch_;
  Timers::Id timer_ = 0;
  Clock::time_point timer_due_;
};

}  // namespace host
