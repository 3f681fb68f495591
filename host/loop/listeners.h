#pragma once
// Listeners of an event: any number of functions, each kept until its
// Subscription ends. A listener may end its own or another subscription, or
// add one, while the event is being delivered: delivery goes to the
// listeners present when it started that are still subscribed. Adding and
// ending cost O(log n); delivery O(n).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace host {

/// Keeps one listener subscribed until it ends (or is reset).
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { reset(); }

  void reset() {
    if (cancel_) std::exchange(cancel_, nullptr)();
  }

 private:
  std::function<void()> cancel_;
};

template <class... Args>
class Listeners {
 public:
  using Fn = std::function<void(Args...)>;

  /// Subscribes `fn`; it hears every event until the subscription ends.
  /// The subscription may outlive this object.
  [[nodiscard]] Subscription add(Fn fn) {
    std::uint64_t id = state_->next_id++;
    state_->fns.emplace(id, std::make_shared<Fn>(std::move(fn)));
    return Subscription([weak = std::weak_ptr<State>(state_), id] {
      if (auto state = weak.lock()) state->fns.erase(id);
    });
  }

  void notify(Args... args) {
    std::shared_ptr<State> state = state_;  // a listener may destroy the owner
    std::vector<std::uint64_t> ids;
    ids.reserve(state->fns.size());
    for (const auto& entry : state->fns) ids.push_back(entry.first);
    for (std::uint64_t id : ids) {
      auto it = state->fns.find(id);
      if (it == state->fns.end()) continue;
      std::shared_ptr<Fn> fn = it->second;
      (*fn)(args...);
    }
  }

  bool empty() const { return state_->fns.empty(); }

 private:
  struct State {
    std::map<std::uint64_t, std::shared_ptr<Fn>> fns;
    std::uint64_t next_id = 1;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace host
