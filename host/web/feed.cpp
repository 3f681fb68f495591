#include "web/feed.h"

#include "model/refusal.h"
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
  dispatcher_.set_listener([this] { changed(); });
  published_ = view_of(dispatcher_, terminals_, placer_);
  follow_screens();
}

CanvasFeed::~CanvasFeed() {
  dispatcher_.set_listener(nullptr);
  for (auto& [name, watched] : watched_) reactor_.timers().cancel(watched.timer);
}

void CanvasFeed::changed() {
  if (refresh_due_) return;
  refresh_due_ = true;
  reactor_.timers().at(Clock::now(), [this] { refresh(); });
}

void CanvasFeed::refresh() {
  refresh_due_ = false;
  CanvasView view = view_of(dispatcher_, terminals_, placer_);
  std::set<std::string> differ;
  for (const auto& [id, item] : view.items) {
    auto old = published_.items.find(id);
    if (old == published_.items.end() || old->second != item) differ.insert(id);
  }
  for (const auto& [id, item] : published_.items) {
    if (!view.items.contains(id)) differ.insert(id);
  }
  bool ropes = view.ropes != published_.ropes, lists = view.lists != published_.lists;
  published_ = std::move(view);
  follow_screens();
  if (differ.empty() && !ropes && !lists) return;
  for (auto& [id, page] : pages_) {
    page.items_due.insert(differ.begin(), differ.end());
    page.ropes_due |= ropes;
    page.lists_due |= lists;
  }
  wake_all();
}

void CanvasFeed::follow_screens() {
  // A terminal gone from the set, or another of the same name, is heard no
  // more; the subscriptions end safely even when the terminal is gone.
  std::erase_if(watched_, [this](auto& entry) {
    Terminal* t = terminals_.find(entry.first);
    bool gone = t != entry.second.terminal || t->pid() != entry.second.pid;
    if (gone) reactor_.timers().cancel(entry.second.timer);
    return gone;
  });
  for (const auto& [name, entry] : dispatcher_.canvas().terminals()) {
    Terminal* t = terminals_.find(name);
    if (t == nullptr || watched_.contains(name)) continue;
    Watched& watched = watched_[name];
    watched.terminal = t;
    watched.pid = t->pid();
    watched.output = t->on_output([this, name = name](std::string_view) { screen_output(name); });
    watched.end = t->on_end([this] { changed(); });
    // A new terminal of an old name has a screen of its own, drawn anew.
    for (auto& [id, page] : pages_) page.drawn.erase(name);
    flush_screen(name);
  }
}

void CanvasFeed::screen_output(const std::string& name) {
  auto it = watched_.find(name);
  if (it == watched_.end() || it->second.timer != 0) return;
  Clock::time_point when = std::max(Clock::now(), it->second.last_flush + kScreenInterval);
  it->second.timer = reactor_.timers().at(when, [this, name] {
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
  return id;
}

void CanvasFeed::close_page(std::uint64_t page) { pages_.erase(page); }

bool CanvasFeed::receive(std::uint64_t id, std::string_view text) {
  auto it = pages_.find(id);
  if (it == pages_.end()) return false;
  wire::Result parsed = wire::parse_json(text);
  if (!parsed.ok() || !parsed.value->is_object()) return false;
  const Json& message = *parsed.value;
  auto op = message.find("op");
  if (op == message.end() || !op->is_string()) return false;
  Page& page = it->second;
  if (*op == "ack") {
    auto drawn = message.find("screens");
    if (drawn == message.end() || !drawn->is_number_unsigned()) return false;
    page.screens_unacked -= std::min(drawn->get<std::uint64_t>(), page.screens_unacked);
    page.wake();
    return true;
  }
  if (auto id = message.find("id");
      (*op == "text" || *op == "key" || *op == "paste") && id != message.end() && id->is_string()) {
    if (auto item = parse_item_id(id->get_ref<const std::string&>())) page.typing = item->name;
  }
  Json reply = {{"t", "reply"}, {"req", message.value("req", Json())}};
  try {
    reply["result"] = perform(dispatcher_, terminals_, op->get_ref<const std::string&>(), message);
  } catch (const Refusal& refusal) {
    reply["error"] = refusal.what();
  } catch (const std::exception& e) {
    reply["error"] = std::string("internal error: ") + e.what();
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

Json CanvasFeed::next(Page& page) {
  if (page.snapshot_due) return snapshot(page);
  if (!page.replies.empty()) {
    Json reply = std::move(page.replies.front());
    page.replies.pop_front();
    return reply;
  }
  if (!page.items_due.empty()) {
    std::string id = page.items_due.extract(page.items_due.begin()).value();
    auto item = published_.items.find(id);
    if (item == published_.items.end()) return {{"t", "removed"}, {"id", id}};
    Json message = item->second;
    message["t"] = "item";
    return message;
  }
  if (page.ropes_due) {
    page.ropes_due = false;
    return {{"t", "ropes"}, {"ropes", published_.ropes}};
  }
  if (page.lists_due) {
    page.lists_due = false;
    Json message = published_.lists;
    message["t"] = "lists";
    return message;
  }
  // The terminal the page types into may go one over the window: the echo
  // of a key does not wait for the others' screens to be drawn.
  while (!page.screens_due.empty() &&
         page.screens_unacked < kScreenWindow + (page.screens_due.contains(page.typing) ? 1 : 0)) {
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
  page.ropes_due = page.lists_due = false;
  Json items = Json::array();
  for (const auto& [id, item] : published_.items) items.push_back(item);
  for (const auto& [name, watched] : watched_) page.screens_due.add(name);
  Json message = published_.lists;
  message.update({{"t", "snapshot"}, {"items", std::move(items)}, {"ropes", published_.ropes}});
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
