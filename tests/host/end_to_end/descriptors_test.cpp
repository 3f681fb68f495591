// Descriptor hygiene of the host: every descriptor it opens is
// close-on-exec, so a recruit starts with its terminal and nothing else, and
// never sees the listening socket, a client's connection or another
// terminal's pty.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "host_fixtures.h"
#include "host_process.h"
#include "raw_client.h"

using namespace harness;

namespace {

/// The descriptors `ls -l /proc/self/fd` lists in `screen`: number -> target.
std::map<int, std::string> listed_descriptors(const std::string& screen) {
  std::map<int, std::string> fds;
  std::istringstream lines(screen);
  for (std::string line; std::getline(lines, line);) {
    std::size_t arrow = line.find(" -> ");
    if (arrow == std::string::npos) continue;
    std::size_t start = line.rfind(' ', arrow - 1) + 1;
    fds[std::stoi(line.substr(start, arrow - start))] = line.substr(arrow + 4);
  }
  return fds;
}

/// The flags line of /proc/PID/fdinfo/FD, as a number.
long descriptor_flags(pid_t pid, const std::string& fd) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/fdinfo/" + fd);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("flags:", 0) == 0) return std::stol(line.substr(6), nullptr, 8);
  }
  return -1;
}

class HostDescriptors : public HostWithLead {
 protected:
  /// Recruits `name` listing its own descriptors, and returns them.
  std::map<int, std::string> descriptors_of(const std::string& name) {
    host.recruit(lead, name, "ls -l /proc/self/fd; echo fd-end; sleep 600");
    RunResult r = host.check_until(lead, name, "fd-end");
    EXPECT_NE(r.out.find("fd-end"), std::string::npos) << r.out;
    return listed_descriptors(r.out);
  }
};

}  // namespace

TEST_F(HostDescriptors, RecruitsGetTheirTerminalAndNothingElse) {
  // A client waits half way through its request meanwhile.
  RawClient waiting(host.socket_path());
  waiting.send("{\"command\":");

  std::map<int, std::string> first = descriptors_of("A");
  std::map<int, std::string> second = descriptors_of("B");
  for (const auto* fds : {&first, &second}) {
    // 0 to 2 are the terminal; 3 is the directory ls reads.
    ASSERT_EQ(fds->size(), 4u);
    for (int fd : {0, 1, 2}) {
      ASSERT_TRUE(fds->contains(fd));
      EXPECT_EQ(fds->at(fd).rfind("/dev/pts/", 0), 0u) << fds->at(fd);
      EXPECT_EQ(fds->at(fd), fds->at(0));
    }
    ASSERT_TRUE(fds->contains(3));
    EXPECT_EQ(fds->at(3).rfind("/proc/", 0), 0u) << fds->at(3);
  }
  // Each has a terminal of its own.
  EXPECT_NE(first.at(0), second.at(0));
}

TEST_F(HostDescriptors, EveryDescriptorOfTheHostIsCloseOnExec) {
  RawClient waiting(host.socket_path());
  waiting.send("{\"command\":");
  host.recruit(lead, "A");
  host.recruit(lead, "B");
  // The signals, the listener, two ptys and the waiting client at least.
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(host.pid()) + "/fd")) {
    std::string fd = entry.path().filename();
    if (std::stoi(fd) <= 2) continue;  // the standard streams, given by the test
    std::error_code ec;
    std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    long flags = descriptor_flags(host.pid(), fd);
    if (flags < 0) continue;  // closed meanwhile: a file the host was writing
    EXPECT_NE(flags & O_CLOEXEC, 0) << "descriptor " << fd << " (" << target << ") is inherited by recruits";
    ++checked;
  }
  EXPECT_GE(checked, 5);
}
