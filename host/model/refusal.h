#pragma once
// How the host turns a request down: a handler or a model operation throws
// a Refusal, and the dispatcher answers with its text as the reply's error.
// The text is kept as a string, not only as what() (a C string): a name
// quoted in it may hold a NUL byte, and the reply carries the whole name.

#include <stdexcept>
#include <string>
#include <utility>

namespace host {

/// A request the host declines; text() is the reply's `error` text.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(const std::string& text) : std::runtime_error(text), text_(text) {}
  /// The whole text, NUL bytes included.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

/// A refusal because the caller may not reach what it named (a bad token, a
/// terminal or note not roped to it); the activity log records these.
class AccessRefusal : public Refusal {
 public:
  /// `who`: the terminal refused, when it is not the caller.
  explicit AccessRefusal(const std::string& text, std::string who = {}) : Refusal(text), who_(std::move(who)) {}
  const std::string& who() const { return who_; }

 private:
  std::string who_;
};

}  // namespace host
