#pragma once
// The outcome of a step that can fail: success, or the failure with its text
// for the user. Functions below the top return one instead of throwing or
// printing, and their callers decide what the text becomes.

#include <string>
#include <utility>

namespace wire {

class [[nodiscard]] Status {
 public:
  /// Success.
  Status() = default;
  static Status failure(std::string text) { return Status(std::move(text)); }
  /// The failure "<strerror> (os error N)" of error number `err`.
  static Status os_failure(int err);

  bool ok() const { return !failed_; }
  /// The failure's text; empty on success.
  const std::string& error() const { return error_; }

 private:
  explicit Status(std::string text) : failed_(true), error_(std::move(text)) {}
  bool failed_ = false;
  std::string error_;
};

}  // namespace wire
