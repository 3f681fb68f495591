// The person's seat: welkmora-host's own commands against a real host, and
// what they refuse to recruits.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "files.h"
#include "host_process.h"
#include "pty_process.h"

using namespace harness;
using namespace std::chrono_literals;
using wire::Json;

namespace {

/// Runs `argv` in a process group of its own, with nothing on its standard
/// streams; returns its pid.
pid_t spawn(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    int null = ::open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) ::dup2(null, fd);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

class HostPerson : public ::testing::Test {
 protected:
  void SetUp() override {
    host.start();
    boss = host.join("Boss");
  }
  RunResult person(std::vector<std::string> args) {
    args.insert(args.end(), {"--socket", host.socket_path()});
    return run_host(args);
  }
  Json ls() { return Json::parse(person({"ls", "--json"}).out); }

  HostProcess host;
  Env boss;
};

}  // namespace

TEST_F(HostPerson, LsListsEveryTerminalAndNote) {
  host.client(boss, {"role", "create", "Rev", "review"});
  host.recruit(boss, "Dev", "sleep 600", {{"role", "Rev"}});
  host.recruit(boss, "Gone", "exit 3");
  host.client(boss, {"note", "create", "plan", "12345"});
  host.client(boss, {"connect", "Dev", "plan"});
  Json all;
  for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(20ms)) {
    all = ls();
    if (all["terminals"][2]["state"] == "exited") break;
  }
  EXPECT_EQ(all["terminals"][0],
            Json({{"name", "Boss"}, {"state", "joined"}, {"busy", false}, {"ropes", {"Dev", "Gone", "plan"}}}));
  EXPECT_EQ(
      all["terminals"][1],
      Json({{"name", "Dev"}, {"state", "running"}, {"role", "Rev"}, {"busy", false}, {"ropes", {"Boss", "plan"}}}));
  EXPECT_EQ(all["terminals"][2],
            Json({{"name", "Gone"}, {"state", "exited"}, {"exitCode", 3}, {"busy", false}, {"ropes", {"Boss"}}}));
  EXPECT_EQ(all["notes"], Json::parse(R"([{"name":"plan","bytes":5,"ropes":["Boss","Dev"]}])"));
  std::string table = person({"ls"}).out;
  EXPECT_NE(table.find("Gone      exited (3)  -     idle  Boss"), std::string::npos) << table;
}

TEST_F(HostPerson, SendKeysInterruptsAShellThenAskWorks) {
  host.recruit(boss, "Sh", "PS1='sh$ ' exec bash --norc --noprofile");
  host.check_until(boss, "Sh", "sh$");
  ASSERT_EQ(person({"send-keys", "Sh", "sleep 100", "Enter"}).status, 0);
  host.check_until(boss, "Sh", "sleep 100");
  // An ask now waits for the sleep; C-c ends it at once.
  EXPECT_EQ(person({"send-keys", "Sh", "C-c"}).status, 0);
  RunResult asked = host.client(boss, {"ask", "Sh", "echo after-$((6*7))"});
  EXPECT_NE(asked.out.find("after-42"), std::string::npos) << asked.out << asked.err;
  // -l types key names as text.
  EXPECT_EQ(person({"send-keys", "Sh", "-l", "echo", "Space"}).status, 0);
  EXPECT_NE(host.check_until(boss, "Sh", "echoSpace").out.find("echoSpace"), std::string::npos);

  // What is about to be typed counts: an input past the limit is refused.
  Json huge = {{"command", "send-keys"}, {"name", "Sh"}, {"literal", true}, {"keys", {std::string(2 << 20, 'x')}}};
  EXPECT_EQ(Json::parse(host.send_line(wire::to_wire(huge)))["error"],
            "input too long: 2097152 bytes, at most 1048576");

  RunResult joined = person({"send-keys", "Boss", "x"});
  EXPECT_EQ(joined.status, 1);
  EXPECT_EQ(joined.err, "welkmora-host: cannot type into a joined shell: Boss\n");
  EXPECT_EQ(person({"send-keys", "Nobody", "x"}).err, "welkmora-host: no such terminal: Nobody\n");
}

TEST_F(HostPerson, AttachShowsTypesDetachesAndEndsWithTheProgram) {
  host.recruit(boss, "Sh", "PS1='sh$ ' exec bash --norc --noprofile");
  host.client(boss, {"ask", "Sh", "echo drawn-before"});
  std::vector<std::string> attach = {host_path(), "attach", "Sh", "--socket", host.socket_path()};
  {
    PtyProcess user(attach, environment_with({}));
    ASSERT_TRUE(user.expect("drawn-before")) << user.transcript();  // the screen as it was
    user.send("echo typed-$((2+3))\r");
    ASSERT_TRUE(user.expect("typed-5")) << user.transcript();
    user.send("\x1c");
    ASSERT_TRUE(user.expect("[detached from Sh]")) << user.transcript();
    EXPECT_EQ(user.wait(), 0);
  }
  PtyProcess watcher({host_path(), "attach", "Sh", "--read-only", "--socket", host.socket_path()},
                     environment_with({}));
  PtyProcess user(attach, environment_with({}));
  ASSERT_TRUE(user.expect("typed-5")) << user.transcript();
  user.send("exit 4\r");
  ASSERT_TRUE(user.expect("[Sh exited with status 4]")) << user.transcript();
  EXPECT_EQ(user.wait(), 0);
  ASSERT_TRUE(watcher.expect("[Sh exited with status 4]")) << watcher.transcript();

  RunResult piped = person({"attach", "Sh"});
  EXPECT_EQ(piped.status, 2);
  EXPECT_EQ(piped.err.rfind("welkmora-host: attach needs a terminal on standard input\n", 0), 0u) << piped.err;
}

TEST_F(HostPerson, RecruitsGetNoneOfIt) {
  std::string out = host.dir() + "/out";
  // The last probe runs below a line of 70 subshells in a session of its
  // own, so only a far ancestor shows it is the recruit's.
  std::string cmd = "for c in ls 'send-keys Boss x' 'attach Boss' 'join X'; do " + host_path() + " $c >>" + out +
                    " 2>&1; echo status=$? >>" + out + "; done; " + "setsid " + host_path() + " ls >>" + out +
                    " 2>&1; welkmora dismiss Boss >>" + out + " 2>&1; setsid bash -c 'd() { if [ $1 -gt 0 ]; then (d " +
                    "$(($1 - 1))); else " + host_path() + " send-keys Boss x; echo deep=$?; fi; }; d 70' >>" + out +
                    " 2>&1; echo all-probed >>" + out + "; sleep 600";
  host.recruit(boss, "R", "PATH=" + std::filesystem::path(WELKMORA_BIN).parent_path().string() + ":$PATH; " + cmd);
  std::string text = wait_for(out, "all-probed");
  for (std::string command : {"ls", "send-keys", "attach", "join"}) {
    EXPECT_NE(text.find("welkmora-host: " + command + " is for the person at the host, not for terminal R\n"),
              std::string::npos)
        << text;
  }
  EXPECT_EQ(text.find("status=0"), std::string::npos) << text;
  EXPECT_NE(text.find("send-keys is for the person at the host, not for terminal R\ndeep=1\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("ls is for the person at the host, not for terminal R\nwelkmora: cannot dismiss Boss: it is "
                      "the person's shell\n"),
            std::string::npos)
      << text;
}

TEST_F(HostPerson, ADoubleForkDoesNotMakeARecruitThePerson) {
  // `setsid -f` leaves the recruit's session, pty and line of parents: the
  // host adopts what is left (and, where it may create groups, it stays in
  // the recruit's group).
  std::string out = host.dir() + "/escaped";
  std::string probes;
  for (std::string probe : {"ls", "join Evil --pid 1", "send-keys R -l X"})
    probes += host_path() + " " + probe + "; echo status=$?; ";
  host.recruit(boss, "R", "setsid -f sh -c '" + probes + "echo all-probed' >" + out + " 2>&1; exec sleep 600");
  std::string text = wait_for(out, "all-probed");
  EXPECT_EQ(text.find("status=0"), std::string::npos) << text;
  for (std::string command : {"ls", "join", "send-keys"}) {
    EXPECT_NE(text.find("welkmora-host: " + command + " is for the person at the host, not for "), std::string::npos)
        << text;
  }
  EXPECT_EQ(ls()["terminals"].size(), 2u);
}

TEST_F(HostPerson, ARequestOutlivingTheProcessThatConnectedIsNotThePersons) {
  // A child connects and ends; the request comes later over its socket (as
  // from a recruit's process that forked and exited before sending).
  os::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", host.socket_path().c_str());
  pid_t child = ::fork();
  if (child == 0) _exit(::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  std::string request = R"({"command":"send-keys","name":"Boss","keys":["x"]})"
                        "\n";
  ASSERT_EQ(::write(fd.get(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
  char reply[512] = {};
  ASSERT_GT(::read(fd.get(), reply, sizeof reply - 1), 0);
  EXPECT_EQ(std::string(reply),
            R"({"error":"send-keys is for the person at the host: the requesting process has ended","ok":false})"
            "\n");
}

TEST_F(HostPerson, JoinedShellsLeaveWithTheirShell) {
  // The join runs in a pipeline inside the command substitution, so its
  // parent is a subshell that ends at once; the shell itself stays.
  std::string token_file = host.dir() + "/temp.token";
  std::string join = "'" + host_path() + "' join Temp --socket '" + host.socket_path() + "'";
  pid_t shell =
      spawn({"/bin/bash", "-c",
             "eval \"$(" + join + " | cat)\"; echo \"$WELKMORA_TOKEN\" > '" + token_file + "'; exec sleep 600"});
  ASSERT_GT(shell, 0);
  std::string token = wait_for(token_file, "\n");
  ASSERT_EQ(token.size(), 33u) << token;
  Env temp = {{"WELKMORA_TERMINAL_ID", "Temp"}, {"WELKMORA_TOKEN", token.substr(0, 32)}};
  ASSERT_EQ(host.result(temp, {{"command", "note"}, {"sub", "create"}, {"name", "Mine"}, {"content", "m"}}),
            Json({{"name", "Mine"}}));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(ls()["terminals"][1]["name"], "Temp");

  // The shell ends: its terminal leaves, and its note waits for its name.
  ::kill(shell, SIGKILL);
  ::waitpid(shell, nullptr, 0);
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (ls()["terminals"].size() > 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ls()["terminals"].size(), 1u) << ls();
  EXPECT_EQ(host.request(temp, {{"command", "list"}})["error"], "unknown terminal or token");
  EXPECT_EQ(ls()["notes"], Json::parse(R"([{"name":"Mine","bytes":1,"ropes":[]}])"));
  Env again = host.join("Temp");
  EXPECT_EQ(again.at("WELKMORA_TERMINAL_ID"), "Temp");
  EXPECT_EQ(host.result(again, {{"command", "note"}, {"sub", "read"}, {"name", "Mine"}})["content"], "m");
}
