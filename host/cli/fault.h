#pragma once
// welkmora-host's one way to fail. Every step of a command that can fail
// returns its Fault as a value (an OrFault, OrFault<void> for a step
// without a value), and only main() turns one into standard error and the
// exit status.

#include <string>
#include <utility>

#include "outcome.h"

namespace host::cli {

/// Why a command fails: its text for standard error, and whether it is a
/// mistake on the command line (status 2, with the usage) or a failure
/// (status 1).
struct Fault {
  std::string text;
  bool usage = false;
};

/// A mistake on the command line.
inline Fault usage_fault(std::string text) { return Fault{std::move(text), true}; }

/// A value, or the Fault that stands in for it.
template <class T>
using OrFault = outcome::Outcome<T, Fault>;

}  // namespace host::cli
