#pragma once
// How the host turns a request down: a step that may refuse returns its
// Refusal as a value, in an OrRefusal, and whoever called it passes it on or
// answers it. Only the dispatcher turns one into the reply's error (and,
// for a refusal of access, a line of the activity log). The text is kept
// whole, NUL bytes included: a name quoted in it may hold one, and the
// reply carries the whole name.

#include <string>
#include <utility>

#include "outcome.h"

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

/// A value of T (or, for OrRefusal<void>, success), or the refusal that
/// stands in for it.
template <class T>
using OrRefusal = outcome::Outcome<T, Refusal>;

}  // namespace host
