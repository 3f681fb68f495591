#pragma once
// What a step below the top gives back when it can fail and has nothing
// else to return: success, or the Error with its text for the user. The
// caller decides what the text becomes (a reply, a line on stderr, a log
// entry); nothing below the top prints or throws.

#include <string>
#include <utility>

#include "outcome.h"

namespace wire {

/// Why a step failed, in words for the user.
struct Error {
  explicit Error(std::string words) : text(std::move(words)) {}
  std::string text;
};

/// The failure "<strerror> (os error N)" of error number `err`.
Error os_failure(int err);

/// Success, or the Error that stands in for it.
using Status = outcome::Outcome<void, Error>;

/// A value, or the Error that stands in for it.
template <class T>
using Fallible = outcome::Outcome<T, Error>;

}  // namespace wire
