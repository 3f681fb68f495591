#pragma once
// A value, or the failure that stands in for it: what a step that can fail
// returns when it has a result to give (wire::Status is the one without).
// The failure's type is its caller's, as each program tells failures in its
// own way: the client's messages, welkmora-host's command faults, a state
// file's reason for refusal.

#include <optional>
#include <utility>

namespace wire {

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
  /// What went wrong; as E makes it when ok().
  const E& failure() const { return failure_; }

 private:
  std::optional<T> value_;
  E failure_;
};

}  // namespace wire
