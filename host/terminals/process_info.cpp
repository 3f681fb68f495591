#include "terminals/process_info.h"

#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <string>

namespace host {

std::optional<ProcessInfo> process_info(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  // "pid (comm) state ppid pgrp session tty_nr ...": comm may hold spaces
  // and parentheses, so the fields start after the last ')'.
  std::size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  char state = 0;
  long long parent = 0, group = 0, session = 0, tty = 0;
  if (!(fields >> state >> parent >> group >> session >> tty)) return std::nullopt;
  // tty_nr packs the device number as the kernel's old encoding does.
  auto nr = static_cast<unsigned long long>(tty);
  unsigned major_nr = static_cast<unsigned>((nr >> 8) & 0xFFF);
  unsigned minor_nr = static_cast<unsigned>((nr & 0xFF) | ((nr >> 12) & 0xFFF00));
  return ProcessInfo{pid, static_cast<pid_t>(parent), static_cast<pid_t>(group), static_cast<pid_t>(session),
                     tty == 0 ? 0 : makedev(major_nr, minor_nr)};
}

std::vector<ProcessInfo> ancestry(pid_t pid) {
  std::vector<ProcessInfo> chain;
  while (pid > 1 && chain.size() < 64) {
    std::optional<ProcessInfo> info = process_info(pid);
    if (!info) break;
    chain.push_back(*info);
    pid = info->parent;
  }
  return chain;
}

}  // namespace host
