#pragma once
// Small builders shared by the black-box tests.

#include <string>
#include <vector>

namespace harness {

/// An accepted reply line carrying `result` (JSON text).
inline std::string ok_result(const std::string& result) { return R"({"ok":true,"result":)" + result + "}\n"; }

/// The words of a command line, bracketed, for failure messages.
inline std::string describe(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text.append("[").append(a).append("]");
  return text;
}

}  // namespace harness
