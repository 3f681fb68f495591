#pragma once
// The value of a host::OrRefusal in a test: the test fails, naming the
// refusal, when there is none.

#include <gtest/gtest.h>

#include "base/refusal.h"

namespace harness {

template <class T>
T ok(host::OrRefusal<T> result) {
  EXPECT_TRUE(result.ok()) << result.failure().text;
  return result.ok() ? std::move(*result) : T();
}

/// For results that point into what they were taken from: what they point at.
template <class T>
const T& ok(host::OrRefusal<const T*> result) {
  EXPECT_TRUE(result.ok()) << result.failure().text;
  static const T none{};
  return result.ok() ? **result : none;
}

inline void ok(const host::OrRefusal<void>& result) { EXPECT_TRUE(result.ok()) << result.failure().text; }

/// The refusal's text of what `fn` returns; "<accepted>" when it went through.
template <class Fn>
std::string refusal_of(Fn fn) {
  auto result = fn();
  return result.ok() ? std::string("<accepted>") : result.failure().text;
}

}  // namespace harness
