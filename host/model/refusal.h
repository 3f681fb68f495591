#pragma once
// How the host turns a request down: a handler or a model operation throws
// a Refusal, and the dispatcher answers with its text as the reply's error.

#include <stdexcept>
#include <string>
#include <utility>

namespace host {

/// A request the host declines; what() is the reply's `error` text.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(const std::string& text) : std::runtime_error(text) {}
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
