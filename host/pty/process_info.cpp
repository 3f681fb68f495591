#include "pty/process_info.h"

#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <map>
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
  // Then tpgid, flags, four fault counts, four times, priority, nice,
  // threads and itrealvalue before starttime.
  std::string skipped;
  for (int i = 0; i < 14 && fields >> skipped; ++i) {
  }
  unsigned long long start = 0;
  if (!(fields >> start)) return std::nullopt;
  // tty_nr packs the device number as the kernel's old encoding does.
  auto nr = static_cast<unsigned long long>(tty);
  unsigned major_nr = static_cast<unsigned>((nr >> 8) & 0xFFF);
  unsigned minor_nr = static_cast<unsigned>((nr & 0xFF) | ((nr >> 12) & 0xFFF00));
  return ProcessInfo{pid,
                     static_cast<pid_t>(parent),
                     static_cast<pid_t>(group),
                     static_cast<pid_t>(session),
                     tty == 0 ? 0 : makedev(major_nr, minor_nr),
                     start,
                     state == 'Z' || state == 'X'};
}

std::optional<std::vector<ProcessInfo>> ancestry(pid_t pid) {
  // A line longer than any the kernel allows can only come from reading
  // processes as they change: it is not known then.
  constexpr std::size_t kLongest = 1 << 22;
  std::vector<ProcessInfo> chain;
  while (pid > 1) {
    std::optional<ProcessInfo> info = process_info(pid);
    if (!info || chain.size() == kLongest) return std::nullopt;
    chain.push_back(*info);
    pid = info->parent;
  }
  if (pid < 0) return std::nullopt;
  return chain;
}

namespace {

/// The program and command line of `pid`, as /proc shows them.
std::string program_of(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid);
  std::error_code ec;
  std::string exe = std::filesystem::read_symlink(dir + "/exe", ec).string();
  if (ec) return {};
  std::ifstream in(dir + "/cmdline", std::ios::binary);
  std::ostringstream cmdline;
  cmdline << in.rdbuf();
  return exe + '\0' + cmdline.str();
}

}  // namespace

pid_t shell_of(pid_t client) {
  std::optional<ProcessInfo> info = client > 0 ? process_info(client) : std::nullopt;
  if (!info || info->parent <= 1) return 0;
  std::optional<ProcessInfo> shell = process_info(info->parent);
  for (int depth = 0; shell && shell->parent > 1 && depth < 16; ++depth) {
    std::optional<ProcessInfo> above = process_info(shell->parent);
    std::string program = program_of(shell->pid);
    if (!above || above->group != shell->group || program.empty() || program != program_of(above->pid)) break;
    shell = above;
  }
  return shell ? shell->pid : 0;
}

std::vector<ProcessInfo> all_processes() {
  std::vector<ProcessInfo> out;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (std::optional<ProcessInfo> info = process_info(std::stoi(name))) out.push_back(*info);
  }
  return out;
}

std::vector<ProcessInfo> descendants(pid_t root, const std::vector<ProcessInfo>& all) {
  std::multimap<pid_t, const ProcessInfo*> children;
  for (const ProcessInfo& p : all) children.emplace(p.parent, &p);
  std::vector<ProcessInfo> out;
  std::vector<pid_t> parents = {root};
  while (!parents.empty() && out.size() < all.size()) {
    pid_t parent = parents.back();
    parents.pop_back();
    auto [from, to] = children.equal_range(parent);
    for (auto it = from; it != to; ++it) {
      out.push_back(*it->second);
      parents.push_back(it->second->pid);
    }
  }
  return out;
}

}  // namespace host
