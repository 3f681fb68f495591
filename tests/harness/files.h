#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace harness {

/// The whole content of the file at `path`; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/// The file's text once it holds `needle`, or what it holds after ten
/// seconds.
inline std::string wait_for(const std::string& path, const std::string& needle) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string text = read_file(path);
  while (text.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    text = read_file(path);
  }
  return text;
}

/// The process id a program writes to `path` ("echo $$ > path"), once the
/// whole line is there: the file exists before the number is written. 0
/// after ten seconds.
inline pid_t wait_for_pid(const std::string& path) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::istringstream in(read_file(path));
    pid_t pid = 0;
    if (in >> pid && in.get() == '\n') return pid;
    if (std::chrono::steady_clock::now() > deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace harness
