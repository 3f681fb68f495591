#include "server/attachment.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "loop/log.h"
#include "screen/redraw.h"

namespace host {
namespace {

/// What the person reads when the terminal ends.
std::string end_line(const std::string& name, const Terminal& terminal) {
  std::optional<int> status = terminal.wait_status();
  if (!status) return "[" + name + " was dismissed]";
  if (WIFSIGNALED(*status)) return "[" + name + " terminated by signal " + std::to_string(WTERMSIG(*status)) + "]";
  return "[" + name + " exited with status " + std::to_string(WEXITSTATUS(*status)) + "]";
}

}  // namespace

Attachment::Attachment(Reactor& reactor, os::UniqueFd fd, Terminal& terminal, std::string name, const AttachView& view,
                       std::string reply_line, Callbacks callbacks)
    : fd_(std::move(fd)),
      watch_(reactor, fd_.get(), POLLIN, [this](unsigned events) { on_events(events); }),
      terminal_(&terminal),
      name_(std::move(name)),
      view_(view),
      callbacks_(std::move(callbacks)) {
  log_event("attach", {{"name", name_}, {"read-only", view_.read_only ? "yes" : "no"}});
  queue(std::move(reply_line));
  std::string first =
      view_.history ? redraw_with_history(terminal.screen(), kKeptHistory, view_.rows) : redraw(terminal.screen());
  queue(encode_frame(kOutputFrame, first));
  follow(terminal);
  if (!terminal.held() && (terminal.exited() || !terminal.open())) on_end();
  flush();
}

void Attachment::follow(Terminal& terminal) {
  terminal_ = &terminal;
  output_ = terminal.on_output([this](std::string_view bytes) { on_output(bytes); });
  end_ = terminal.on_end([this] { on_end(); });
}

void Attachment::stop(std::string_view line) {
  if (done_) return;
  if (!closing_) {
    // The frame half sent is finished first; the output queued after it goes.
    std::string last = !out_.empty() && sent_ > 0 ? out_.front().substr(sent_) : std::string();
    out_.clear();
    queued_ = 0;
    sent_ = 0;
    queue(last + encode_frame(kEndFrame, line));
  }
  flush();
  finish();
}

Attachment::~Attachment() {
  if (!done_) log_event("detach", {{"name", name_}});
}

void Attachment::on_events(unsigned events) {
  try {
    if (events & POLLOUT) flush();
    if (!done_ && (events & (POLLIN | POLLHUP | POLLERR))) read_frames();
  } catch (const std::bad_alloc&) {
    finish();  // this person's attach goes, the host stays
  }
}

void Attachment::read_frames() {
  char buf[16384];
  ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) return finish();  // the person detached
  frames_.append(std::string_view(buf, static_cast<std::size_t>(n)));
  while (std::optional<Frame> frame = frames_.next()) on_frame(*frame);
  if (frames_.broken()) finish();
}

void Attachment::on_frame(const Frame& frame) {
  if (view_.read_only || terminal_ == nullptr) return;
  if (frame.type == kInputFrame) {
    terminal_->send(frame.payload);
  } else if (frame.type == kResizeFrame) {
    unsigned rows = 0, cols = 0;
    if (std::sscanf(frame.payload.c_str(), "%u %u", &rows, &cols) == 2 && rows > 0 && cols > 0 && rows < 10000 &&
        cols < 10000) {
      winsize size{};
      size.ws_row = static_cast<unsigned short>(rows);
      size.ws_col = static_cast<unsigned short>(cols);
      terminal_->resize(size);
    }
  }
}

void Attachment::on_output(std::string_view bytes) {
  try {
    relay(bytes);
  } catch (const std::bad_alloc&) {
    finish();
  }
}

void Attachment::relay(std::string_view output) {
  std::string bytes = filter_.pass(output);
  if (filter_.switched_screen() && terminal_ != nullptr) {
    // The program went to or left its alternate screen: the person's
    // terminal stays on its own and is drawn afresh, as the host sees it.
    queue(encode_frame(kOutputFrame, redraw(terminal_->screen())));
  } else if (queued_ + bytes.size() > kMaxQueued && terminal_ != nullptr) {
    // The person's terminal is far behind: what it missed is replaced by
    // the screen as it is now (the frame being sent is finished first).
    while (out_.size() > 1) {
      queued_ -= out_.back().size();
      out_.pop_back();
    }
    if (!out_.empty() && sent_ == 0) {
      queued_ -= out_.front().size();
      out_.pop_front();
    }
    queue(encode_frame(kOutputFrame, redraw(terminal_->screen())));
  } else {
    queue(encode_frame(kOutputFrame, bytes));
  }
  flush();
}

void Attachment::on_end() {
  if (closing_) return;
  // A held terminal resumed: its program runs under the same name now.
  Terminal* next = callbacks_.listed ? callbacks_.listed() : nullptr;
  if (next != nullptr && next != terminal_ && terminal_->held()) {
    follow(*next);
    queue(encode_frame(kOutputFrame, redraw(next->screen())));
    return flush();
  }
  closing_ = true;
  if (std::optional<int> code = terminal_->exit_code(); code && !terminal_->held()) {
    queue(encode_frame(kStatusFrame, std::to_string(*code)));
  }
  queue(encode_frame(kEndFrame, end_line(name_, *terminal_)));
  terminal_ = nullptr;
  output_.reset();
  end_.reset();
  flush();
}

void Attachment::queue(std::string bytes) {
  queued_ += bytes.size();
  out_.push_back(std::move(bytes));
}

void Attachment::flush() {
  while (!done_ && !out_.empty()) {
    const std::string& front = out_.front();
    ssize_t n = ::send(fd_.get(), front.data() + sent_, front.size() - sent_, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) return finish();
    sent_ += static_cast<std::size_t>(n);
    if (sent_ == front.size()) {
      queued_ -= front.size();
      out_.pop_front();
      sent_ = 0;
    }
  }
  if (done_) return;
  if (out_.empty() && closing_) return finish();
  watch_.set_events(out_.empty() ? POLLIN : POLLIN | POLLOUT);
  if (callbacks_.held) callbacks_.held(queued_);
}

void Attachment::finish() {
  if (done_) return;
  done_ = true;
  watch_.reset();
  output_.reset();
  end_.reset();
  out_.clear();
  queued_ = 0;
  log_event("detach", {{"name", name_}});
  if (callbacks_.held) callbacks_.held(0);
  callbacks_.finished();
}

}  // namespace host
