#pragma once
// A value, or the failure that stands in for it: what a step that can fail
// returns (Outcome<void, E> when it has no result to give). The failure's
// type is its caller's, as each program tells failures in its own way: the
// client's messages, welkmora-host's command faults, a state file's reason
// for refusal, a request's refusal.

#include <optional>
#include <utility>

namespace outcome {

template <class T, class E>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : value_(std::move(value)) {}
  Outcome(E failure) : failure_(std::move(failure)) {}

  bool ok() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  /// What went wrong; only when !ok().
  const E& failure() const { return *failure_; }

 private:
  std::optional<T> value_;
  std::optional<E> failure_;
};

/// Success, or the failure of a step that has nothing to return.
template <class E>
class [[nodiscard]] Outcome<void, E> {
 public:
  Outcome() = default;
  Outcome(E failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_.has_value(); }
  /// What went wrong; only when !ok().
  const E& failure() const { return *failure_; }

 private:
  std::optional<E> failure_;
};

}  // namespace outcome
