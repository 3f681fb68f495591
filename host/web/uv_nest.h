#pragma once
// A libuv loop nested in the host's reactor, and the one way the web server
// calls into libwebsockets.
//
// Three event loops run on the host's one thread, each inside the one
// before it:
//
//   the reactor       the host's own epoll loop (loop/reactor.h): sockets,
//                     terminals, timers; the only loop that ever waits
//   libuv             libwebsockets needs an event library for its sockets
//                     and timers; Debian builds it without external poll
//                     support (the ADD/DEL/CHANGE_MODE_POLL_FD callbacks
//                     that would hand each socket to the reactor), but with
//                     libuv. So libuv's epoll descriptor is one descriptor
//                     the reactor watches; when it is ready, or libuv's next
//                     timer is due, the loop runs once without blocking.
//   libwebsockets     parses HTTP and frames WebSocket messages on libuv,
//                     and calls the web server back from inside uv_run().
//
// The cost of the nesting: libuv tells the kernel what it watches only when
// it runs. A call into libwebsockets that starts or changes what libuv
// watches (a socket adopted, a write wanted, an answer queued) has no effect
// on the descriptor the reactor waits on until libuv runs again. So every
// such call goes through with_lws(), which has libuv run at the end of the
// reactor's round; there is no other way to ask for that run.
//
// What would remove a loop: a libwebsockets built with LWS_WITH_EXTERNAL_POLL
// would let the reactor watch its sockets itself, and libuv would go (with
// this file and with_lws()); a reactor built on libuv would make the host's
// loop and libuv's one; an HTTP and WebSocket server of the host's own on the
// reactor would remove both libwebsockets and libuv.

#include <uv.h>

#include <utility>

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

  /// Runs `call`, a call into libwebsockets or the handling of one of its
  /// callbacks that calls into it, and has the loop run at the end of this round of the
  /// reactor, so that what the call changed reaches the kernel. The run is
  /// only scheduled here, so it is armed before the call: the same as after
  /// it, and it holds when the call throws. Returns what `call` returns.
  template <class F>
  decltype(auto) with_lws(F&& call) {
    kick();
    return std::forward<F>(call)();
  }

 private:
  /// Runs the loop at the end of this round of the reactor.
  void kick();
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
