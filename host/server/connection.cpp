#include "server/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace host {
namespace {

constexpr const char* kTooLarge = "{\"error\":\"request too large\",\"ok\":false}\n";

}  // namespace

Connection::Connection(Reactor& reactor, wire::UniqueFd fd, std::size_t max_line, Callbacks callbacks)
    : fd_(std::move(fd)),
      watch_(reactor.watch(
          fd_.get(), POLLIN, [this](unsigned events) { on_events(events); }, Reactor::Priority::kFirst)),
      max_line_(max_line),
      callbacks_(std::move(callbacks)) {}

void Connection::on_events(unsigned events) {
  if (phase_ == Phase::kReading && (events & (POLLIN | POLLHUP | POLLERR))) {
    on_readable();
  } else if (phase_ == Phase::kWriting && (events & (POLLOUT | POLLHUP | POLLERR))) {
    on_writable();  // fails and finishes when the peer has gone
  } else if (events & (POLLHUP | POLLERR)) {
    finish();  // the peer went away while its request was being served
  }
}

void Connection::on_readable() {
  char buf[65536];
  ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
  if (n < 0) {
    if (errno != EAGAIN && errno != EINTR) finish();
    return;
  }
  if (n == 0) {
    // The peer stopped sending; a last line without its line feed counts.
    if (in_.empty()) return finish();
    phase_ = Phase::kWaiting;
    watch_.set_events(0);
    return callbacks_.line(std::move(in_));
  }
  in_.append(buf, static_cast<std::size_t>(n));
  std::size_t lf = in_.find('\n', scanned_);
  scanned_ = in_.size();
  if ((lf == std::string::npos ? in_.size() : lf) > max_line_) {
    in_ = std::string();
    return reply(kTooLarge);
  }
  if (lf == std::string::npos) return;
  in_.resize(lf);
  phase_ = Phase::kWaiting;
  watch_.set_events(0);
  callbacks_.line(std::move(in_));
}

void Connection::reply(std::string line) {
  if (phase_ == Phase::kDone) return;
  out_ = std::move(line);
  sent_ = 0;
  phase_ = Phase::kWriting;
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

wire::UniqueFd Connection::take_over() {
  phase_ = Phase::kDone;
  watch_.reset();
  return std::move(fd_);
}

void Connection::finish() {
  if (phase_ == Phase::kDone) return;
  phase_ = Phase::kDone;
  watch_.reset();
  // Closed now rather than with the object at the end of the round: the
  // client, which has its answer, may count on it being gone.
  fd_.reset();
  callbacks_.finished();
}

}  // namespace host
