#include "web/uv_nest.h"

#include <poll.h>

#include <stdexcept>
#include <string>

namespace host {
namespace {

/// Most runs drain() makes: closing takes a few, a handle left open would
/// take them all.
constexpr int kDrainRuns = 1000;

}  // namespace

UvNest::UvNest(Reactor& reactor) : reactor_(reactor) {
  if (int err = uv_loop_init(&loop_); err != 0) {
    throw std::runtime_error(std::string("cannot make a libuv loop: ") + uv_strerror(err));
  }
  watch_ = Reactor::Watch(reactor_, uv_backend_fd(&loop_), POLLIN, [this](unsigned) { run(); });
}

UvNest::~UvNest() {
  closing_ = true;
  reactor_.timers().cancel(timer_);
  watch_.reset();
  drain();
  uv_loop_close(&loop_);
}

void UvNest::drain() {
  for (int i = 0; i < kDrainRuns && uv_loop_alive(&loop_); ++i) uv_run(&loop_, UV_RUN_NOWAIT);
}

void UvNest::kick() { arm(Clock::now()); }

void UvNest::arm(Clock::time_point when) {
  if (closing_) return;
  if (timer_ != 0) {
    if (timer_due_ <= when) return;
    reactor_.timers().cancel(timer_);
  }
  timer_due_ = when;
  timer_ = reactor_.timers().at(when, [this] {
    timer_ = 0;
    run();
  });
}

void UvNest::run() {
  uv_run(&loop_, UV_RUN_NOWAIT);
  // With nothing active uv_backend_timeout() answers 0: there is nothing
  // to wait for, not something due now.
  if (!uv_loop_alive(&loop_)) return;
  int wait_ms = uv_backend_timeout(&loop_);
  if (wait_ms < 0) return;  // nothing timed: only the descriptor wakes it
  if (timer_ != 0) {
    reactor_.timers().cancel(timer_);
    timer_ = 0;
  }
  arm(Clock::now() + std::chrono::milliseconds(wait_ms));
}

}  // namespace host
