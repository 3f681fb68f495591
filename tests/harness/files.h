#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace harness {

/// The whole content of the file at `path`; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace harness
