#pragma once
// How the host turns a request down: a handler or a model operation throws
// a Refusal, and the dispatcher answers with its text as the reply's error.

#include <stdexcept>
#include <string>

namespace host {

/// A request the host declines; what() is the reply's `error` text.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace host
