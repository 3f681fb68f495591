#pragma once
// Expectations on one exchange with the fake app, for the table-driven
// black-box tests: the request that went out, or the refusal that kept the
// client from connecting, or the rendering of the reply. `what` names the
// case in failure messages.

#include <gtest/gtest.h>

#include <string>

#include "fake_app.h"

namespace harness {

/// The client sent `request` (a line without its line feed) and ended
/// with status 0 and nothing on standard error.
inline void expect_sent(const Exchange& x, const std::string& request, const std::string& what) {
  EXPECT_EQ(x.request, request + "\n") << what;
  EXPECT_EQ(x.run.err, "") << what;
  EXPECT_EQ(x.run.status, 0) << what;
}

/// The client stopped with `err` and status 1 before contacting the app.
inline void expect_refused(const Exchange& x, const std::string& err, const std::string& what) {
  EXPECT_EQ(x.run.err, err) << what;
  EXPECT_EQ(x.run.out, "") << what;
  EXPECT_EQ(x.run.status, 1) << what;
  EXPECT_FALSE(x.connected) << what;
  EXPECT_EQ(x.request, "") << what;
}

/// The client printed `out`, nothing on standard error, and ended with
/// status 0.
inline void expect_printed(const Exchange& x, const std::string& out, const std::string& what) {
  EXPECT_EQ(x.run.out, out) << what;
  EXPECT_EQ(x.run.err, "") << what;
  EXPECT_EQ(x.run.status, 0) << what;
}

}  // namespace harness
