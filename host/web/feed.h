#pragma once
// The canvas as the open pages see it, kept up to date without polling.
// The canvas tells the feed of each item, rope or role list that changes as
// it changes, and the asks of each turn that starts or ends; the feed marks
// that on each open page, and a page is sent what is marked when it can
// take a message: first a snapshot, then the items and ropes that changed,
// each read from the canvas as it is then, and the rows of screens that
// changed since the page last drew them. A change costs the same however
// many items the canvas holds, and with no page open the feed keeps
// nothing of the canvas. Terminal output marks the screen changed, at most
// about 30 times a second per terminal. What a page waits for is a set of
// marks, never a queue of messages, so a slow page costs no more memory
// than a fast one. Each terminal's item carries what it asks of the person
// (attention.h), which the feed keeps from what it hears anyway, and from
// a look at the terminal when that can have changed and a page is open.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "loop/log.h"
#include "loop/reactor.h"
#include "protocol/dispatcher.h"
#include "pty/terminal_set.h"
#include "web/attention.h"
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

class CanvasFeed : public PageHost, private CanvasListener, private LogObserver {
 public:
  CanvasFeed(Reactor& reactor, Dispatcher& dispatcher, TerminalSet& terminals);
  ~CanvasFeed() override;
  CanvasFeed(const CanvasFeed&) = delete;
  CanvasFeed& operator=(const CanvasFeed&) = delete;

  /// The host is stopping: each page is told so before anything else.
  void stopping();

  std::uint64_t open_page(std::function<void()> wake) override;
  bool receive(std::uint64_t page, std::string_view message) override;
  bool next_message(std::uint64_t page, std::string& out) override;
  void close_page(std::uint64_t page) override;

  /// Most activity entries kept for pages that open later.
  static constexpr std::size_t kActivityKept = 200;
  /// Least time between two screen updates of one terminal...
  static constexpr std::chrono::milliseconds kScreenInterval{33};
  /// ... except for this long after a page typed into it: the echo of a
  /// key goes out at once.
  static constexpr std::chrono::milliseconds kEchoWindow{100};
  /// A terminal whose output has gone on without a pause of kPause for
  /// kStreaming is updated every kStreamingInterval: nobody reads a flood
  /// at 30 frames a second, and on a small machine the browser's drawing
  /// takes the processor from the programs.
  static constexpr std::chrono::milliseconds kPause{100};
  static constexpr std::chrono::milliseconds kStreaming{1000};
  static constexpr std::chrono::milliseconds kStreamingInterval{100};
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
    bool stop_due = false;
    /// The sequence number of the next activity entry to send.
    std::uint64_t activity_next = 0;
    std::set<Item> items_due;
    std::set<Rope> ropes_due;
    bool lists_due = false;
    /// Terminals whose screen changed since this page drew it, in the
    /// order they changed: each has its turn, however busy the others are.
    FifoSet screens_due;
    /// The screen change each terminal was drawn as of (by name).
    std::map<std::string, std::uint64_t> drawn;
    std::deque<Json> replies;
    /// Screen updates sent and not yet acknowledged.
    std::uint64_t screens_unacked = 0;
    /// The screens of the snapshot (one a terminal) not yet sent: they go
    /// out without waiting for the page to draw the ones before, so that a
    /// page shows every screen as soon as it can.
    std::uint64_t snapshot_screens = 0;
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
    Clock::time_point typed_at;
    /// The last output, and the start of the output without a pause.
    Clock::time_point output_at, streaming_since;
    Timers::Id timer = 0;
    AttentionTracker attention;
    /// The timer of the next look at the terminal, and when it is due.
    Timers::Id look_timer = 0;
    Clock::time_point look_at{};
  };

  void item_changed(const Item& item) override;
  void rope_changed(const Rope& rope) override;
  void roles_changed() override;
  void turn_changed(const std::string& name) override;
  void logged(std::string_view event, std::initializer_list<LogField> fields) override;
  /// Wakes the pages, and follows the terminals that changed, at the end
  /// of the round.
  void changed();
  void refresh();
  /// Hears terminal `name`'s output and end while it is on the canvas.
  void follow(const std::string& name);
  void screen_output(const std::string& name);
  void flush_screen(const std::string& name);
  /// Marks terminal `name`'s item changed when `changed` (its attention).
  void attention_changed(const std::string& name, bool changed);
  /// Sets the timer of the next look at terminal `name`, when one is due.
  void arm_look(const std::string& name);
  /// Looks at terminal `name` (its foreground and cursor line) now.
  void look(const std::string& name);
  /// The item as the page draws it, with a terminal's attention; null
  /// when it is gone.
  Json item_message(const Item& item);
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
  bool refresh_due_ = false;
  /// Terminals to follow() at the end of the round.
  std::set<std::string> follow_due_;
  std::map<std::uint64_t, Page> pages_;
  std::uint64_t next_page_ = 1;
  bool stopping_ = false;
  /// The last activity entries ({"t":"activity","seq","time","event",
  /// fields...}), oldest first; `activity_seq_` is one past the newest.
  std::deque<Json> activity_;
  std::uint64_t activity_seq_ = 0;
  std::map<std::string, Watched> watched_;
};

}  // namespace host
