#include "web/feed.h"

#include "catalogue.h"
#include "web/actions.h"

namespace host {
namespace {

/// A message as the page reads it: compact JSON, invalid UTF-8 replaced.
void append_json(std::string& out, const Json& message) {
  out += message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

CanvasFeed::CanvasFeed(Reactor& reactor, Dispatcher& dispatcher, TerminalSet& terminals)
    : reactor_(reactor), dispatcher_(dispatcher), terminals_(terminals) {
  dispatcher_.set_listener(this);
  observe_log(this);
  for (const auto& [name, entry] : dispatcher_.canvas().terminals()) follow(name);
}

CanvasFeed::~CanvasFeed() {
  dispatcher_.set_listener(nullptr);
  observe_log(nullptr);
  for (auto& [name, watched] : watched_) {
    reactor_.timers().cancel(watched.timer);
    reactor_.timers().cancel(watched.look_timer);
  }
}

void CanvasFeed::item_changed(const Item& item) {
  if (item.kind == ItemKind::kTerminal) follow_due_.insert(item.name);
  for (auto& [id, page] : pages_) page.items_due.insert(item);
  if (!pages_.empty() || !follow_due_.empty()) changed();
}

void CanvasFeed::rope_changed(const Rope& rope) {
  for (auto& [id, page] : pages_) page.ropes_due.insert(rope);
  if (!pages_.empty()) changed();
}

void CanvasFeed::roles_changed() {
  for (auto& [id, page] : pages_) page.lists_due = true;
  if (!pages_.empty()) changed();
}

void CanvasFeed::turn_changed(const std::string& name) {
  if (auto it = watched_.find(name); it != watched_.end()) {
    AttentionTracker& attention = it->second.attention;
    if (dispatcher_.asks().busy(name)) {
      attention.turn_started(Clock::now());
    } else {
      attention.turn_ended(Clock::now());
    }
    arm_look(name);
  }
  item_changed(Item::terminal(name));
}

void CanvasFeed::logged(std::string_view event, std::initializer_list<LogField> fields) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
  Json entry = {{"t", "activity"}, {"seq", activity_seq_++}, {"time", ms.count()}, {"event", event}};
  for (const LogField& field : fields) entry[std::string(field.key)] = field.value;
  // Why a turn ended tells whether a question waits for the person.
  if (event == "answer" && entry.contains("name") && entry.contains("end")) {
    const std::string& name = entry["name"].get_ref<const std::string&>();
    if (auto it = watched_.find(name); it != watched_.end()) {
      attention_changed(name, it->second.attention.turn_reason(entry["end"].get_ref<const std::string&>()));
    }
  }
  activity_.push_back(std::move(entry));
  if (activity_.size() > kActivityKept) activity_.pop_front();
  if (!pages_.empty()) changed();
}

void CanvasFeed::changed() {
  if (refresh_due_) return;
  refresh_due_ = true;
  reactor_.timers().at(Clock::now(), [this] { refresh(); });
}

void CanvasFeed::refresh() {
  refresh_due_ = false;
  for (const std::string& name : std::exchange(follow_due_, {})) follow(name);
  wake_all();
}

void CanvasFeed::follow(const std::string& name) {
  // A terminal gone from the canvas, or another of the same name, is heard
  // no more; the subscriptions end safely even when the terminal is gone.
  Terminal* t = dispatcher_.canvas().terminal(name) != nullptr ? terminals_.find(name) : nullptr;
  auto it = watched_.find(name);
  if (it != watched_.end()) {
    if (t == it->second.terminal && t->pid() == it->second.pid) return;
    reactor_.timers().cancel(it->second.timer);
    reactor_.timers().cancel(it->second.look_timer);
    watched_.erase(it);
  }
  // A new terminal of an old name has a screen of its own, drawn anew.
  for (auto& [id, page] : pages_) page.drawn.erase(name);
  if (t == nullptr) return;
  Watched& watched = watched_[name];
  watched.terminal = t;
  watched.pid = t->pid();
  watched.output = t->on_output([this, name](std::string_view) { screen_output(name); });
  watched.end = t->on_end([this, name] {
    if (auto it = watched_.find(name); it != watched_.end()) it->second.attention.exited();
    item_changed(Item::terminal(name));
  });
  if (t->exited()) watched.attention.exited();
  flush_screen(name);
  arm_look(name);
}

void CanvasFeed::attention_changed(const std::string& name, bool changed) {
  arm_look(name);
  if (changed) item_changed(Item::terminal(name));
}

void CanvasFeed::arm_look(const std::string& name) {
  auto it = watched_.find(name);
  // With no page open nobody reads the answer: open_page looks then.
  if (it == watched_.end() || pages_.empty()) return;
  Watched& watched = it->second;
  std::optional<Clock::time_point> due = watched.attention.look_due();
  if (!due) return;
  // A timer due earlier sees the later time when it runs, and sets itself again.
  if (watched.look_timer != 0 && watched.look_at <= *due) return;
  reactor_.timers().cancel(watched.look_timer);
  watched.look_at = *due;
  watched.look_timer = reactor_.timers().at(*due, [this, name] {
    auto found = watched_.find(name);
    if (found == watched_.end()) return;
    found->second.look_timer = 0;
    std::optional<Clock::time_point> now_due = found->second.attention.look_due();
    if (now_due && *now_due <= Clock::now()) look(name);
    arm_look(name);
  });
}

void CanvasFeed::look(const std::string& name) {
  Watched& watched = watched_.at(name);
  // A terminal that has gone is let go at the end of the round; until then it is not read.
  if (terminals_.find(name) != watched.terminal || watched.terminal->pid() != watched.pid) return;
  Terminal& t = *watched.terminal;
  PtyState pty = t.pty_state();
  ScreenText screen = t.screen_snapshot(t.screen().lines_scrolled());
  AttentionLook look{.activity = pty.activity,
                     .cursor_line = cursor_line(screen),
                     .alternate = screen.alternate,
                     .at_home = at_home_prompt(t.home(), screen, pty) || screen.marks.at_prompt,
                     .home_known = t.home().known()};
  if (watched.attention.looked(Clock::now(), look)) item_changed(Item::terminal(name));
}

void CanvasFeed::screen_output(const std::string& name) {
  auto it = watched_.find(name);
  if (it == watched_.end()) return;
  Watched& watched = it->second;
  Clock::time_point now = Clock::now();
  attention_changed(name, watched.attention.output(now, watched.terminal->screen().alternate()));
  if (now - watched.output_at >= kPause) watched.streaming_since = now;
  watched.output_at = now;
  if (now - watched.typed_at < kEchoWindow) {
    reactor_.timers().cancel(std::exchange(watched.timer, 0));
    flush_screen(name);
    return;
  }
  if (watched.timer != 0) return;
  auto interval = now - watched.streaming_since >= kStreaming ? kStreamingInterval : kScreenInterval;
  Clock::time_point when = std::max(now, watched.last_flush + interval);
  watched.timer = reactor_.timers().at(when, [this, name] {
    auto found = watched_.find(name);
    if (found == watched_.end()) return;
    found->second.timer = 0;
    flush_screen(name);
  });
}

void CanvasFeed::flush_screen(const std::string& name) {
  auto it = watched_.find(name);
  if (it == watched_.end()) return;
  it->second.last_flush = Clock::now();
  for (auto& [id, page] : pages_) {
    page.screens_due.add(name);
    page.wake();
  }
}

void CanvasFeed::wake_all() {
  for (auto& [id, page] : pages_) page.wake();
}

std::uint64_t CanvasFeed::open_page(std::function<void()> wake) {
  std::uint64_t id = next_page_++;
  pages_[id].wake = std::move(wake);
  pages_[id].stop_due = stopping_;
  // Looks wait for a page to read them.
  if (pages_.size() == 1) {
    for (const auto& [name, watched] : watched_) arm_look(name);
  }
  return id;
}

void CanvasFeed::close_page(std::uint64_t page) { pages_.erase(page); }

bool CanvasFeed::receive(std::uint64_t id, std::string_view text) {
  auto it = pages_.find(id);
  if (it == pages_.end()) return false;
  wire::Parsed parsed = wire::parse_json(text, kMaxRequestValues);  // bounded as a request is
  if (!parsed.ok() || !parsed->is_object()) return false;
  const Json& message = *parsed;
  auto op = message.find("op");
  if (op == message.end() || !op->is_string()) return false;
  Page& page = it->second;
  const std::string& op_word = op->get_ref<const std::string&>();
  const catalogue::Request* row = catalogue::find(catalogue::From::kPage, op_word);
  if (row != nullptr && row->id == catalogue::Id::kPageAck) {
    auto drawn = message.find("screens");
    if (drawn == message.end() || !drawn->is_number_unsigned()) return false;
    page.screens_unacked -= std::min(drawn->get<std::uint64_t>(), page.screens_unacked);
    page.wake();
    return true;
  }
  if (row != nullptr && row->id == catalogue::Id::kPageSeen) {
    // The person looked at a terminal: what it finished is read.
    auto item = message.contains("id") && message["id"].is_string()
                    ? parse_item_id(message["id"].get_ref<const std::string&>())
                    : std::nullopt;
    if (!item) return false;
    if (auto watched = watched_.find(item->name); item->kind == ItemKind::kTerminal && watched != watched_.end()) {
      attention_changed(item->name, watched->second.attention.seen());
    }
    return true;
  }
  if (auto id = message.find("id");
      row != nullptr && row->effect == catalogue::Effect::kTypes && id != message.end() && id->is_string()) {
    if (auto item = parse_item_id(id->get_ref<const std::string&>())) {
      page.typing = item->name;
      if (auto watched = watched_.find(item->name); watched != watched_.end()) {
        watched->second.typed_at = Clock::now();
        attention_changed(item->name, watched->second.attention.typed(watched->second.typed_at));
      }
    }
  }
  Json served = row != nullptr ? perform(dispatcher_, *row, message) : error_reply("unknown op: " + op_word);
  Json reply = {{"t", "reply"}, {"req", message.value("req", Json())}};
  if (served["ok"] == true) {
    reply["result"] = std::move(served["result"]);
  } else {
    reply["error"] = std::move(served["error"]);
  }
  if (page.replies.size() >= kMaxReplies) return false;  // a page that does not read
  page.replies.push_back(std::move(reply));
  page.wake();
  return true;
}

bool CanvasFeed::next_message(std::uint64_t id, std::string& out) {
  auto it = pages_.find(id);
  if (it == pages_.end()) return false;
  Json message = next(it->second);
  if (message.is_null()) return false;
  append_json(out, message);
  return true;
}

void CanvasFeed::stopping() {
  stopping_ = true;
  for (auto& [id, page] : pages_) page.stop_due = true;
  wake_all();
}

Json CanvasFeed::next(Page& page) {
  if (page.stop_due) {
    page.stop_due = false;
    return {{"t", "stopped"}};
  }
  if (stopping_) return nullptr;
  if (page.snapshot_due) return snapshot(page);
  if (page.activity_next < activity_seq_) {
    std::uint64_t oldest = activity_seq_ - activity_.size();
    page.activity_next = std::max(page.activity_next, oldest);
    return activity_[static_cast<std::size_t>(page.activity_next++ - oldest)];
  }
  if (!page.replies.empty()) {
    Json reply = std::move(page.replies.front());
    page.replies.pop_front();
    return reply;
  }
  if (!page.items_due.empty()) {
    Item item = page.items_due.extract(page.items_due.begin()).value();
    Json message = item_message(item);
    if (message.is_null()) return {{"t", "removed"}, {"id", item_id(item)}};
    message["t"] = "item";
    return message;
  }
  if (!page.ropes_due.empty()) {
    return rope_json(page.ropes_due.extract(page.ropes_due.begin()).value(), dispatcher_.canvas());
  }
  if (page.lists_due) {
    page.lists_due = false;
    Json message = lists_json(dispatcher_);
    message["t"] = "lists";
    return message;
  }
  // The terminal the page types into may go one over the window: the echo
  // of a key does not wait for the others' screens to be drawn.
  while (!page.screens_due.empty() &&
         (page.snapshot_screens > 0 ||
          page.screens_unacked < kScreenWindow + (page.screens_due.contains(page.typing) ? 1 : 0))) {
    if (page.snapshot_screens > 0) --page.snapshot_screens;
    Json message = screen(page);
    if (message.is_null()) continue;
    ++page.screens_unacked;
    return message;
  }
  return nullptr;
}

Json CanvasFeed::snapshot(Page& page) {
  page.snapshot_due = false;
  page.items_due.clear();
  page.ropes_due.clear();
  page.lists_due = false;
  const Canvas& canvas = dispatcher_.canvas();
  Json items = Json::array();
  for (const auto& [name, entry] : canvas.terminals()) {
    items.push_back(item_message(Item::terminal(name)));
  }
  for (const auto& [name, text] : canvas.notes()) items.push_back(item_message(Item::note(name)));
  // Ropes whose ends are not both on the canvas are kept by name; the page
  // draws a rope once both of its items are there.
  Json ropes = Json::array();
  for (const Rope& rope : canvas.ropes()) ropes.push_back({item_id(rope.a), item_id(rope.b)});
  for (const auto& [name, watched] : watched_) page.screens_due.add(name);
  page.snapshot_screens = watched_.size();
  Json message = lists_json(dispatcher_);
  message.update({{"t", "snapshot"}, {"items", std::move(items)}, {"ropes", std::move(ropes)}});
  return message;
}

Json CanvasFeed::item_message(const Item& item) {
  Json message = item_json(item, dispatcher_, terminals_);
  if (item.kind != ItemKind::kTerminal || message.is_null()) return message;
  auto watched = watched_.find(item.name);
  message["attention"] = watched == watched_.end() ? Json() : Json(attention_name(watched->second.attention.state()));
  return message;
}

Json CanvasFeed::screen(Page& page) {
  std::string name = page.screens_due.take(page.typing) ? page.typing : page.screens_due.take();
  Terminal* t = watched_.contains(name) ? terminals_.find(name) : nullptr;
  if (t == nullptr) {
    page.drawn.erase(name);
    return nullptr;
  }
  std::uint64_t& drawn = page.drawn[name];
  const Screen& s = t->screen();
  if (drawn == s.change()) return nullptr;
  Json message = screen_message(item_id(Item::terminal(name)), s, drawn);
  drawn = s.change();
  return message;
}

}  // namespace host
