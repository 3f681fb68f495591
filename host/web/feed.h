#pragma once
// The canvas as the open pages see it, kept up to date without polling.
// Whatever may change the canvas (a request, an act of the person, a turn
// that starts or ends, a program that ends) marks it changed; at the end of
// that round of the event loop the feed builds the view once, compares it
// with the one it published, and marks on each page the items that differ.
// Terminal output marks the screen changed, at most about 30 times a second
// per terminal. A page is sent what is marked when it can take a message:
// first a snapshot, then items, ropes and the rows of screens that changed
// since it last drew them. What a page waits for is a set of marks, never a
// queue of messages, so a slow page costs no more memory than a fast one.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "loop/reactor.h"
#include "protocol/dispatcher.h"
#include "terminals/terminal_set.h"
#include "web/view.h"
#include "web/web_server.h"

namespace host {

/// Names in the order they were first added, each at most once.
class FifoSet {
 public:
  void add(const std::string& name) {
    if (members_.insert(name).second) order_.push_back(name);
  }
  bool empty() const { return order_.empty(); }
  bool contains(const std::string& name) const { return members_.contains(name); }
  std::string take() {
    std::string name = std::move(order_.front());
    order_.pop_front();
    members_.erase(name);
    return name;
  }
  /// Takes `name` out of its turn; false when it is not in the set.
  bool take(const std::string& name) {
    if (members_.erase(name) == 0) return false;
    order_.erase(std::find(order_.begin(), order_.end(), name));
    return true;
  }

 private:
  std::deque<std::string> order_;
  std::set<std::string> members_;
};

class CanvasFeed : public PageHost {
 public:
  CanvasFeed(Reactor& reactor, Dispatcher& dispatcher, TerminalSet& terminals);
  ~CanvasFeed() override;
  CanvasFeed(const CanvasFeed&) = delete;
  CanvasFeed& operator=(const CanvasFeed&) = delete;

  /// The canvas may have changed: the view is compared at the end of the round.
  void changed();

  std::uint64_t open_page(std::function<void()> wake) override;
  bool receive(std::uint64_t page, std::string_view message) override;
  bool next_message(std::uint64_t page, std::string& out) override;
  void close_page(std::uint64_t page) override;

  /// Least time between two screen updates of one terminal.
  static constexpr std::chrono::milliseconds kScreenInterval{33};
  /// Most replies a page may leave unread before it is closed.
  static constexpr std::size_t kMaxReplies = 256;
  /// Most screen updates sent to a page and not yet drawn by it: the page
  /// acknowledges those it has drawn ({"op":"ack","screens":N}, once per
  /// frame), so screens come no faster than the browser draws them, and a
  /// page that is not drawing (a hidden tab) costs the host nothing.
  static constexpr std::uint64_t kScreenWindow = 4;

 private:
  struct Page {
    std::function<void()> wake;
    bool snapshot_due = true;
    std::set<std::string> items_due;
    bool ropes_due = false, lists_due = false;
    /// Terminals whose screen changed since this page drew it, in the
    /// order they changed: each has its turn, however busy the others are.
    FifoSet screens_due;
    /// The screen change each terminal was drawn as of (by name).
    std::map<std::string, std::uint64_t> drawn;
    std::deque<Json> replies;
    /// Screen updates sent and not yet acknowledged.
    std::uint64_t screens_unacked = 0;
    /// The terminal the page last typed into: its screen goes first, so
    /// the person sees the echo of their keys however busy the others are.
    std::string typing;
  };
  /// What the feed hears of one terminal: its output and its end.
  struct Watched {
    /// The terminal, and its process to tell it from a later one that
    /// took its name and its memory.
    Terminal* terminal;
    pid_t pid;
    Subscription output, end;
    Clock::time_point last_flush;
    Timers::Id timer = 0;
  };

  void refresh();
  void follow_screens();
  void screen_output(const std::string& name);
  void flush_screen(const std::string& name);
  /// The next message of `page`, or null.
  Json next(Page& page);
  Json snapshot(Page& page);
  /// The update of the first terminal due on `page`, the one it types
  /// into before the others; null when it has not changed after all.
  Json screen(Page& page);
  void wake_all();

  Reactor& reactor_;
  Dispatcher& dispatcher_;
  TerminalSet& terminals_;
  Placer placer_;
  CanvasView published_;
  bool refresh_due_ = false;
  std::map<std::uint64_t, Page> pages_;
  std::uint64_t next_page_ = 1;
  std::map<std::string, Watched> watched_;
};

}  // namespace host
