#include "connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace host {
namespace {

constexpr const char* kTooLarge = "{\"error\":\"request too large\",\"ok\":false}\n";

}  // namespace

short Connection::events() const {
  switch (phase_) {
    case Phase::kReading: return POLLIN;
    case Phase::kWriting: return POLLOUT;
    default: return 0;  // hang-ups are reported all the same
  }
}

std::optional<std::string> Connection::on_readable() {
  if (phase_ != Phase::kReading) return std::nullopt;
  char buf[65536];
  ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
  if (n < 0) {
    if (errno != EAGAIN && errno != EINTR) phase_ = Phase::kDone;
    return std::nullopt;
  }
  if (n == 0) {
    // The peer stopped sending; a last line without its line feed counts.
    if (in_.empty()) {
      phase_ = Phase::kDone;
      return std::nullopt;
    }
    phase_ = Phase::kWaiting;
    return std::move(in_);
  }
  in_.append(buf, static_cast<std::size_t>(n));
  std::size_t lf = in_.find('\n', scanned_);
  scanned_ = in_.size();
  if ((lf == std::string::npos ? in_.size() : lf) > max_line_) {
    in_.clear();
    reply(kTooLarge);
    return std::nullopt;
  }
  if (lf == std::string::npos) return std::nullopt;
  in_.resize(lf);
  phase_ = Phase::kWaiting;
  return std::move(in_);
}

void Connection::on_hang_up() {
  if (phase_ == Phase::kWriting) {
    on_writable();  // fails and finishes unless the reply still fits
  } else {
    phase_ = Phase::kDone;
  }
}

void Connection::reply(std::string line) {
  if (phase_ == Phase::kDone) return;
  out_ = std::move(line);
  phase_ = Phase::kWriting;
  on_writable();
}

void Connection::on_writable() {
  while (phase_ == Phase::kWriting && !out_.empty()) {
    ssize_t n = ::send(fd_.get(), out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno == EAGAIN) return;
      phase_ = Phase::kDone;
      return;
    }
  }
  if (phase_ == Phase::kWriting) {
    ::shutdown(fd_.get(), SHUT_WR);
    phase_ = Phase::kDone;
  }
}

}  // namespace host
