// Starting the host: its socket, and what stands at that path already.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "host_process.h"
#include "unique_fd.h"

using namespace harness;

TEST(HostServe, SocketIsPrivate) {
  HostProcess host;
  host.start();
  struct stat st {};
  ASSERT_EQ(::lstat(host.socket_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(host.stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(host.socket_path()));
  EXPECT_NE(host.error_output().find("listening on " + host.socket_path()), std::string::npos);
}

TEST(HostServe, ALiveSocketIsNotTakenOver) {
  HostProcess host;
  host.start();
  Env lead = host.join("Lead");
  RunResult second = run_host({"serve", "--socket", host.socket_path(), "--state", host.dir() + "/other.json"});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "welkmora-host: another host is listening on " + host.socket_path() + "\n");
  // The first host still serves, on the same socket.
  EXPECT_EQ(host.client(lead, {"list"}).status, 0);
  EXPECT_EQ(host.stop(), 0);
}

TEST(HostServe, ATakenPagePortStopsTheStartBeforeItIsAnnounced) {
  os::UniqueFd taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&addr), size), 0);
  ASSERT_EQ(::listen(taken.get(), 1), 0);
  ASSERT_EQ(::getsockname(taken.get(), reinterpret_cast<sockaddr*>(&addr), &size), 0);
  HostProcess host;
  RunResult r = run_host({"serve", "--socket", host.socket_path(), "--state", host.state_path(), "--web",
                          std::to_string(ntohs(addr.sin_port))});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("welkmora-host: cannot serve the canvas on 127.0.0.1:", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("listening"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(host.socket_path()));
}

TEST(HostServe, StaleSocketIsReplacedOtherFilesAreNot) {
  HostProcess host;
  {
    // A socket file nobody listens on, as a killed host leaves behind.
    os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, host.socket_path().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  host.start();
  EXPECT_EQ(host.join("Lead").at("WELKMORA_TERMINAL_ID"), "Lead");
  EXPECT_EQ(host.stop(), 0);

  std::ofstream(host.socket_path()) << "precious";
  RunResult r = run_host({"serve", "--socket", host.socket_path(), "--state", host.state_path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "welkmora-host: " + host.socket_path() + " exists and is not a socket\n");
  std::ifstream in(host.socket_path());
  std::string kept;
  in >> kept;
  EXPECT_EQ(kept, "precious");
}

TEST(HostServe, StateOptionNeedsNoHome) {
  // With --state given, a missing HOME does not stop the start: here the
  // presets file that is missing is what stops it.
  HostProcess host;  // for its private folder
  std::string dir = host.dir();
  RunResult started =
      run_host({"serve", "--socket", dir + "/s.sock", "--state", dir + "/state.json", "--presets", dir + "/none.json"},
               {{"HOME", ""}, {"XDG_STATE_HOME", ""}});
  EXPECT_EQ(started.status, 1);
  EXPECT_EQ(started.err.rfind("welkmora-host: presets file " + dir + "/none.json", 0), 0u) << started.err;
}

TEST(HostServe, UsageErrors) {
  // Without a command the workspace is shown here, which needs a terminal.
  RunResult none = run_host({});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "welkmora-host: the workspace needs a terminal on standard input; use `welkmora-host serve`\n");
  RunResult settle = run_host({"serve", "--settle", "1.5s"});
  EXPECT_EQ(settle.status, 2);
  EXPECT_EQ(settle.err.rfind("welkmora-host: --settle needs a time such as 500ms, 2s or 10m, not 1.5s\n", 0), 0u)
      << settle.err;
  RunResult unknown = run_host({"--sock", "x"});
  EXPECT_EQ(unknown.err.rfind("welkmora-host: unknown option: --sock\n", 0), 0u) << unknown.err;
  RunResult flag = run_host({"serve", "--sock", "x"});
  EXPECT_EQ(flag.status, 2);
  EXPECT_EQ(flag.err.rfind("welkmora-host: unknown option: --sock\n", 0), 0u) << flag.err;
  RunResult value = run_host({"serve", "--socket"});
  EXPECT_EQ(value.status, 2);
  EXPECT_EQ(value.err.rfind("welkmora-host: --socket needs PATH\n", 0), 0u) << value.err;
  // An option where a value belongs is named, not taken for the value.
  RunResult forgotten = run_host({"serve", "--web", "--socket", "x.sock"});
  EXPECT_EQ(forgotten.status, 2);
  EXPECT_EQ(forgotten.err.rfind("welkmora-host: --web needs [ADDR:]PORT\n", 0), 0u) << forgotten.err;
  RunResult join = run_host({"join"});
  EXPECT_EQ(join.err.rfind("welkmora-host: join needs a NAME\n", 0), 0u) << join.err;
  RunResult help = run_host({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: welkmora-host serve", 0), 0u);
  HostProcess host;
  std::ofstream(host.dir() + "/presets.json") << "{}";
  RunResult presets = run_host({"serve", "--socket", host.socket_path(), "--presets", host.dir() + "/presets.json",
                                "--state", host.state_path()});
  EXPECT_EQ(presets.status, 1);
  EXPECT_EQ(presets.err,
            "welkmora-host: presets file " + host.dir() + "/presets.json: must hold a JSON array of presets\n");
  EXPECT_FALSE(std::filesystem::exists(host.socket_path()));
}
