#pragma once
// Assertions on a finished client run, for tests that drive the real client
// against a real host: what it printed, on which stream, and its status.

#include <gtest/gtest.h>

#include <string>

#include "client_run.h"

namespace harness {

/// The run succeeded: status 0, `out` on standard output, nothing on
/// standard error.
inline ::testing::AssertionResult printed(const RunResult& r, const std::string& out) {
  if (r.status == 0 && r.out == out && r.err.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status " << r.status << "\n  out: " << ::testing::PrintToString(r.out)
                                       << "\n  err: " << ::testing::PrintToString(r.err)
                                       << "\n  wanted out: " << ::testing::PrintToString(out);
}

/// The host refused: status 1, nothing on standard output, and
/// "welkmora: ERROR" as the one line on standard error.
inline ::testing::AssertionResult refused(const RunResult& r, const std::string& error) {
  std::string err = "welkmora: " + error + "\n";
  if (r.status == 1 && r.out.empty() && r.err == err) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status " << r.status << "\n  out: " << ::testing::PrintToString(r.out)
                                       << "\n  err: " << ::testing::PrintToString(r.err)
                                       << "\n  wanted err: " << ::testing::PrintToString(err);
}

}  // namespace harness
