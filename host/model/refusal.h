#pragma once
// How the host turns a request down: a step that may refuse returns its
// Refusal as a value, in a Result, and whoever called it passes it on or
// answers it. Only the dispatcher turns one into the reply's error (and,
// for a refusal of access, a line of the activity log). The text is kept
// whole, NUL bytes included: a name quoted in it may hold one, and the
// reply carries the whole name.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace host {

/// A request the host declines.
struct Refusal {
  /// The reply's `error` text.
  std::string text;
  /// True when the caller may not reach what it named (a bad token, a
  /// terminal or note not roped to it); the activity log records these.
  bool access = false;
  /// For a refusal of access: the terminal refused, when it is not the
  /// caller.
  std::string who = {};
};

/// The refusal "<text>".
inline Refusal refuse(std::string text) { return Refusal{std::move(text)}; }
/// The refusal of access "<text>", of terminal `who` when it is not the caller.
inline Refusal deny(std::string text, std::string who = {}) { return Refusal{std::move(text), true, std::move(who)}; }

/// A value of T, or the refusal that stands in for it.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : outcome_(std::in_place_index<0>, std::move(value)) {}
  Result(Refusal refusal) : outcome_(std::in_place_index<1>, std::move(refusal)) {}

  bool ok() const { return outcome_.index() == 0; }
  T& operator*() { return std::get<0>(outcome_); }
  const T& operator*() const { return std::get<0>(outcome_); }
  T* operator->() { return &std::get<0>(outcome_); }
  const T* operator->() const { return &std::get<0>(outcome_); }
  /// Why not; only when !ok().
  const Refusal& refusal() const { return std::get<1>(outcome_); }

 private:
  std::variant<T, Refusal> outcome_;
};

/// Success, or the refusal of a step that has nothing to return.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Refusal refusal) : refusal_(std::move(refusal)) {}

  bool ok() const { return !refusal_.has_value(); }
  const Refusal& refusal() const { return *refusal_; }

 private:
  std::optional<Refusal> refusal_;
};

}  // namespace host
