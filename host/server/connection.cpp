#include "server/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace host {

Connection::Connection(Reactor& reactor, os::UniqueFd fd, Limits limits, Callbacks callbacks)
    : fd_(std::move(fd)),
      watch_(
          reactor, fd_.get(), POLLIN, [this](unsigned events) { on_events(events); }, Reactor::Priority::kFirst),
      timers_(reactor.timers()),
      max_line_(limits.max_line),
      callbacks_(std::move(callbacks)) {
  idle_timer_ = timers_.at(Clock::now() + limits.idle, [this] {
    idle_timer_ = 0;
    if (phase_ == Phase::kReading) shed(kTimedOut);
  });
}

Connection::~Connection() { timers_.cancel(idle_timer_); }

void Connection::on_events(unsigned events) {
  try {
    if (phase_ == Phase::kReading && (events & (POLLIN | POLLHUP | POLLERR))) {
      on_readable();
    } else if (phase_ == Phase::kWriting && (events & (POLLOUT | POLLHUP | POLLERR))) {
      on_writable();  // fails and finishes when the peer has gone
    } else if (events & (POLLHUP | POLLERR)) {
      finish();  // the peer went away while its request was being served
    }
  } catch (const std::bad_alloc&) {
    // This connection asked for more than there is: it goes, the host stays.
    shed(kOutOfMemory);
  }
}

void Connection::on_readable() {
  char buf[65536];
  ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
  if (n < 0) {
    if (errno != EAGAIN && errno != EINTR) finish();
    return;
  }
  // The peer stopped sending; a last line without its line feed counts.
  if (n == 0) return in_.empty() ? finish() : got_line(in_.size());
  auto size = static_cast<std::size_t>(n);
  if (in_.size() + size > in_.capacity()) {
    // Doubling, but never past the longest line plus one read.
    in_.reserve(std::min(std::max(in_.capacity() * 2, in_.size() + size), max_line_ + sizeof buf));
  }
  in_.append(buf, size);
  report_held();
  if (phase_ != Phase::kReading) return;  // shed to keep within the budget
  std::size_t lf = in_.find('\n', scanned_);
  scanned_ = in_.size();
  if ((lf == std::string::npos ? in_.size() : lf) > max_line_) return shed(kTooLarge);
  if (lf != std::string::npos) got_line(lf);
}

void Connection::got_line(std::size_t length) {
  timers_.cancel(std::exchange(idle_timer_, 0));
  phase_ = Phase::kWaiting;
  watch_.set_events(0);
  std::string line = std::move(in_);
  in_ = std::string();
  line.resize(length);
  // The line stays in the budget while it is parsed and served, also when
  // its client has closed already: the budget may drop it before.
  serving_ = 2 * line.capacity();
  report_held();
  if (phase_ != Phase::kWaiting) return;  // shed to keep within the budget
  callbacks_.line(std::move(line));
  serving_ = 0;
  report_held();
}

void Connection::reply(std::string line) {
  if (phase_ == Phase::kDone) return;
  out_ = std::move(line);
  sent_ = 0;
  phase_ = Phase::kWriting;
  report_held();
  if (phase_ != Phase::kWriting) return;  // shed to keep within the budget
  watch_.set_events(POLLOUT);
  on_writable();
}

void Connection::on_writable() {
  while (sent_ < out_.size()) {
    ssize_t n = ::send(fd_.get(), out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
    if (n > 0) {
      sent_ += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno == EAGAIN) return;
      return finish();
    }
  }
  ::shutdown(fd_.get(), SHUT_WR);
  finish();
}

void Connection::shed(std::string_view reply_line) {
  if (phase_ == Phase::kDone) return;
  bool unanswered = phase_ == Phase::kReading || phase_ == Phase::kWaiting;
  release_buffers();
  serving_ = 0;
  if (unanswered) {
    // One try: the client has sent, not read, so the reply has room.
    (void)::send(fd_.get(), reply_line.data(), reply_line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd_.get(), SHUT_WR);
  }
  finish();
}

os::UniqueFd Connection::take_over() {
  timers_.cancel(std::exchange(idle_timer_, 0));
  phase_ = Phase::kDone;
  watch_.reset();
  report_held();
  return std::move(fd_);
}

void Connection::release_buffers() {
  // Swapped, not assigned: assigning an empty string keeps the old
  // allocation (only destruction would free it, at the end of the round),
  // and the budget counts these bytes as gone from now on.
  std::string().swap(in_);
  std::string().swap(out_);
}

void Connection::report_held() {
  if (callbacks_.held) callbacks_.held(phase_ == Phase::kDone ? 0 : in_.capacity() + out_.capacity() + serving_);
}

void Connection::finish() {
  if (phase_ == Phase::kDone) return;
  phase_ = Phase::kDone;
  timers_.cancel(std::exchange(idle_timer_, 0));
  watch_.reset();
  // Closed now rather than with the object at the end of the round: the
  // client, which has its answer, may count on it being gone.
  fd_.reset();
  release_buffers();
  report_held();
  callbacks_.finished();
}

}  // namespace host
