#pragma once
// An attach connection: the person's terminal relayed to one of the host's.
// It starts with the accepted reply line and a redraw of the screen as it is
// (after its scrollback, for a person's terminal that keeps its own), then
// passes on every chunk of the terminal's output, less what must not reach
// the person's own terminal (see attach_filter.h); the person's keys and
// window size come back as frames (see frames.h). When the terminal's
// program ends, or it is dismissed, the person is told and the connection
// closes; when the person goes, the terminal stays as it is. A held
// terminal shows its saved screen until it is resumed, and the attachment
// then follows the program that runs in its place.

#include <deque>
#include <functional>
#include <string>

#include "loop/listeners.h"
#include "loop/reactor.h"
#include "protocol/dispatcher.h"
#include "pty/terminal.h"
#include "server/attach_filter.h"
#include "server/frames.h"
#include "unique_fd.h"

namespace host {

class Attachment {
 public:
  struct Callbacks {
    /// The bytes queued for the person now; 0 once it is over.
    std::function<void(std::size_t bytes)> held;
    /// The connection is over; the attachment may be destroyed once this
    /// returns.
    std::function<void()> finished;
    /// The terminal listed under the attachment's name now, if any.
    std::function<Terminal*()> listed;
  };

  /// Relays `terminal` (called `name`) over `fd`, which has received
  /// nothing yet, as `view` says: `reply_line` goes first.
  Attachment(Reactor& reactor, os::UniqueFd fd, Terminal& terminal, std::string name, const AttachView& view,
             std::string reply_line, Callbacks callbacks);
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  /// Ends the attachment now, with what is queued unsent (to keep the
  /// host within its memory budget).
  void close() { finish(); }
  /// Ends the attachment now, telling the person `line` if the connection
  /// takes it at once: the host is stopping.
  void stop(std::string_view line);

  /// Most bytes queued for a person's terminal that reads slowly; past it,
  /// the queued output is dropped for one fresh redraw of the screen.
  static constexpr std::size_t kMaxQueued = 4 << 20;

 private:
  void on_events(unsigned events);
  void read_frames();
  void on_frame(const Frame& frame);
  void on_output(std::string_view bytes);
  void relay(std::string_view bytes);
  void on_end();
  /// Follows `terminal` from now on, drawing its screen.
  void follow(Terminal& terminal);
  void queue(std::string bytes);
  void flush();
  void finish();

  AttachFilter filter_;
  os::UniqueFd fd_;
  Reactor::Watch watch_;
  Terminal* terminal_;
  std::string name_;
  AttachView view_;
  Callbacks callbacks_;
  Subscription output_, end_;
  FrameReader frames_;
  /// Bytes to send; the front one is sent up to sent_.
  std::deque<std::string> out_;
  std::size_t sent_ = 0;
  std::size_t queued_ = 0;
  /// Set once the end has been queued: close when it is out.
  bool closing_ = false;
  bool done_ = false;
};

}  // namespace host
