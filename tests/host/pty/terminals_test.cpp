// Recruits with real processes: their screens as `check` shows them, what
// they are given at start, their end, and dismissal.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "files.h"
#include "host_fixtures.h"
#include "host_process.h"
#include "loop/reactor.h"
#include "pty/terminal.h"
#include "pty/terminal_set.h"
#include "run_checks.h"

using namespace harness;
using wire::Json;
using namespace std::chrono_literals;

namespace {

class HostTerminals : public HostWithLead {
 protected:
  /// Recruits through the client; returns the name it reports, or ""
  /// when the recruit is refused.
  std::string recruit(const std::string& name, const std::string& cmd) {
    RunResult r = host.client(lead, {"recruit", name, "--command", cmd});
    const std::string prefix = "Recruit gespawnt: ";
    if (r.status != 0 || r.out.rfind(prefix, 0) != 0 || !r.out.ends_with('\n') || !r.err.empty()) {
      ADD_FAILURE() << "recruit " << name << ": " << r.out << r.err;
      return "";
    }
    return r.out.substr(prefix.size(), r.out.size() - prefix.size() - 1);
  }

  /// Waits until `path` exists; false after ten seconds.
  /// Waits until process `pid` is gone (reaped, not a zombie); false after
  /// ten seconds.
  static bool wait_for_end(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (::kill(pid, 0) == 0 || errno != ESRCH) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
};

}  // namespace

TEST_F(HostTerminals, CheckShowsTheScreen) {
  EXPECT_EQ(recruit("Dev", "printf 'hello\\n  from  dev   \\n\\n'; sleep 600"), "Dev");
  RunResult r = host.check_until(lead, "Dev", "from");
  EXPECT_EQ(r.out, "hello\n  from  dev\n");  // trailing blanks and empty rows trimmed
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(host.result(lead, {{"command", "check"}, {"target", "Dev"}}),
            Json({{"output", "hello\n  from  dev"}, {"awaitingInput", false}, {"state", "running"}}));
  EXPECT_EQ(host.client(lead, {"list"}).out, "Verbundene Agenten:\n  - Dev\n");
}

TEST_F(HostTerminals, TakenCodenamesGetASuffix) {
  EXPECT_EQ(recruit("Dev", "sleep 600"), "Dev");
  EXPECT_EQ(recruit("Dev", "sleep 600"), "Dev-2");
  EXPECT_EQ(recruit("Dev", "sleep 600"), "Dev-3");
  EXPECT_EQ(host.client(lead, {"list"}).out, "Verbundene Agenten:\n  - Dev\n  - Dev-2\n  - Dev-3\n");
  EXPECT_TRUE(refused(host.client(lead, {"recruit", ""}), "codename must not be empty"));
}

TEST_F(HostTerminals, ScrollbackFeedsTheRecentText) {
  recruit("Dev", "seq 1 300; sleep 600");
  RunResult r = host.check_until(lead, "Dev", "\n300\n");
  // The screen has 24 rows; the last one is empty (the cursor's), the
  // other 23 show 278..300, and the scrollback adds the lines before.
  std::size_t first = 300 - 23 - host::Terminal::kCheckHistory + 1;
  std::string expected;
  for (std::size_t n = first; n <= 300; ++n) expected += std::to_string(n) + "\n";
  EXPECT_EQ(r.out, expected);
}

TEST_F(HostTerminals, TerminalQueriesAreAnswered) {
  // A program that asks for the cursor position and waits for the answer.
  recruit("Dev", "stty -icanon -echo min 1; printf '\\033[6n'; dd bs=1 count=6 2>/dev/null | od -An -tx1; sleep 600");
  RunResult r = host.check_until(lead, "Dev", "52");
  EXPECT_NE(r.out.find("1b 5b 31 3b 31 52"), std::string::npos) << r.out;  // ESC [ 1 ; 1 R
}

TEST_F(HostTerminals, AlternateScreenComesAndGoes) {
  std::string go = host.dir() + "/go";
  recruit("Dev",
          "echo main; printf '\\033[?1049h'; echo full-screen; "
          "while [ ! -e '" +
              go + "' ]; do sleep 0.05; done; printf '\\033[?1049l'; echo back; sleep 600");
  RunResult alt = host.check_until(lead, "Dev", "full-screen");
  // The cursor keeps its row when the program switches screens.
  EXPECT_EQ(alt.out, "\nfull-screen\n");
  std::ofstream(go).put('x');
  RunResult back = host.check_until(lead, "Dev", "back");
  EXPECT_EQ(back.out, "main\nback\n");
}

TEST_F(HostTerminals, OutputThatIsNotUtf8IsMadeReadable) {
  recruit("Dev", "printf 'bad:\\377\\376:end\\n'; printf '\\303'; echo; sleep 600");
  RunResult r = host.check_until(lead, "Dev", ":end");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("bad:\xEF\xBF\xBD\xEF\xBF\xBD:end"), std::string::npos) << r.out;
}

TEST_F(HostTerminals, ExitedTerminalsStayListedWithTheirLastScreen) {
  recruit("Dev", "echo last words; exit 3");
  Json result;
  auto deadline = std::chrono::steady_clock::now() + 10s;
  do {
    result = host.result(lead, {{"command", "check"}, {"target", "Dev"}});
    if (result["state"] == "exited") break;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(result, Json({{"output", "last words"}, {"awaitingInput", false}, {"state", "exited"}, {"exitCode", 3}}));
  Json listed = host.result(lead, {{"command", "list"}});
  EXPECT_EQ(listed["agents"], Json::parse(R"([{"name":"Dev","state":"exited"}])"));
  EXPECT_TRUE(printed(host.client(lead, {"dismiss", "Dev"}), "Entlassen: Dev\n"));
  EXPECT_TRUE(printed(host.client(lead, {"list"}), "Keine anderen Agenten verbunden.\n"));
}

TEST_F(HostTerminals, DismissHangsUpAndReaps) {
  std::string pid_file = host.dir() + "/dev.pid";
  recruit("Dev", "echo $$ > '" + pid_file + "'; exec sleep 600");
  pid_t pid = wait_for_pid(pid_file);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(printed(host.client(lead, {"dismiss", "Dev"}), "Entlassen: Dev\n"));
  EXPECT_TRUE(wait_for_end(pid));
  EXPECT_TRUE(refused(host.client(lead, {"check", "Dev"}), "no such peer: Dev"));
  EXPECT_TRUE(refused(host.client(lead, {"dismiss", "Dev"}), "no such peer: Dev"));
}

TEST_F(HostTerminals, RecruitsFromPresetsRolesAndTheShell) {
  EXPECT_TRUE(printed(host.client(lead, {"role", "create", "Reviewer", "Review 'it'.\nBe kind."}),
                      "Rolle angelegt: Reviewer\n"));
  recruit("Plain", "echo role=${WELKMORA_ROLE-unset}; sleep 600");
  EXPECT_NE(host.check_until(lead, "Plain", "role=").out.find("role=unset"), std::string::npos);

  RunResult with_role = host.client(lead, {"recruit", "Rev", "--role", "Reviewer", "--command",
                                           "printf '%s|%s|' \"$WELKMORA_ROLE\" \"$WELKMORA_ROLE_PROMPT\"; sleep 600"});
  EXPECT_TRUE(printed(with_role, "Recruit gespawnt: Rev\n"));
  EXPECT_NE(host.check_until(lead, "Rev", "kind.|").out.find("Reviewer|Review 'it'.\nBe kind.|"), std::string::npos);
  EXPECT_EQ(host.result(lead, {{"command", "list"}})["agents"][1],
            Json({{"name", "Rev"}, {"role", "Reviewer"}, {"state", "running"}}));

  // Without a command the "Shell" preset, like no preset at all, starts the
  // user's shell (here /bin/sh), which waits for input on the terminal.
  EXPECT_TRUE(printed(host.client(lead, {"recruit", "Sh", "--preset", "Shell"}), "Recruit gespawnt: Sh\n"));
  Json shell = host.result(lead, {{"command", "check"}, {"target", "Sh"}});
  EXPECT_EQ(shell["state"], "running");

  EXPECT_TRUE(refused(host.client(lead, {"recruit", "X", "--role", "Nope"}), "no such role: Nope"));
  EXPECT_TRUE(
      refused(host.client(lead, {"recruit", "X", "--preset", "Nope", "--command", "true"}), "no such preset: Nope"));
  EXPECT_EQ(host.request(lead, {{"command", "recruit"}, {"name", "X"}, {"cmd", 5}})["error"],
            "member cmd must be a string");
  EXPECT_EQ(host.result(lead, {{"command", "list"}})["agents"].size(), 3u);  // refusals started nothing
}

TEST_F(HostTerminals, PresetsFromAFile) {
  EXPECT_EQ(host.stop(), 0);
  std::string file = host.dir() + "/presets.json";
  std::ofstream(file) << R"([{"name":"Echo","command":"echo from-preset; sleep 600"},{"name":"Shell","command":""}])";
  host.start({"--presets", file});
  lead = host.join("Lead");
  EXPECT_EQ(
      host.result(lead, {{"command", "preset"}, {"sub", "list"}}),
      Json::parse(
          R"({"presets":[{"name":"Shell","command":""},{"name":"Echo","command":"echo from-preset; sleep 600"}]})"));
  EXPECT_TRUE(printed(host.client(lead, {"preset", "list"}),
                      "Verfügbare Presets:\n  - Shell\n  - Echo  (echo from-preset; sleep 600)\n"));
  EXPECT_TRUE(printed(host.client(lead, {"recruit", "E", "--preset", "Echo"}), "Recruit gespawnt: E\n"));
  EXPECT_EQ(host.check_until(lead, "E", "from-preset").out, "from-preset\n");
  // An explicit command wins over the preset's.
  EXPECT_TRUE(printed(host.client(lead, {"recruit", "F", "--preset", "Echo", "--command", "echo own; sleep 600"}),
                      "Recruit gespawnt: F\n"));
  EXPECT_EQ(host.check_until(lead, "F", "own").out, "own\n");
}

TEST_F(HostTerminals, StoppingEndsEveryTerminal) {
  std::string pid_file = host.dir() + "/dev.pid";
  recruit("Dev", "trap '' HUP; echo $$ > '" + pid_file + "'; exec sleep 600");
  pid_t pid = wait_for_pid(pid_file);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(host.stop(), 0);
  EXPECT_TRUE(wait_for_end(pid));
  EXPECT_FALSE(std::filesystem::exists(host.socket_path()));
  host.start();  // for TearDown
}

TEST(TerminalInput, WhatAProgramDoesNotReadIsCapped) {
  host::Reactor reactor;
  host::Launch launch;
  launch.argv = {"/bin/sh", "-c", "stty raw -echo; echo ready; exec sleep 600"};
  host::OrRefusal<std::unique_ptr<host::Terminal>> started = host::Terminal::start(launch, reactor);
  ASSERT_TRUE(started.ok()) << started.failure().text;
  std::unique_ptr<host::Terminal>& terminal = *started;
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       terminal->screen_text().find("ready") == std::string::npos && std::chrono::steady_clock::now() < deadline;) {
    ASSERT_TRUE(reactor.run_once(std::chrono::steady_clock::now() + 50ms));
  }
  // Input is counted before it is added: one past the limit never waits.
  EXPECT_FALSE(terminal->send(std::string(host::Terminal::kMaxPendingInput + 1, 'y')));
  std::string chunk(64 << 10, 'x');
  int dropped = 0;
  for (int i = 0; i < 40; ++i) dropped += !terminal->send(chunk);
  EXPECT_GT(dropped, 0);
  EXPECT_LE(terminal->pending_input(), host::Terminal::kMaxPendingInput);
  pid_t pid = terminal->pid();
  terminal.reset();  // kills it
  ::waitpid(pid, nullptr, 0);
}

TEST(TerminalHolders, WhatTheHostAdoptedIsATerminals) {
  // The host's only children are its terminals' programs; anything else
  // whose parent it is came to it as the subreaper, from a terminal. Here
  // the test process plays the host: its own child stands for such a
  // process, in the test's group (below none of the host's), so only the
  // adoption tells.
  host::Reactor reactor;
  auto set = std::make_unique<host::TerminalSet>(reactor, 100ms);
  set->adopt_orphans();
  pid_t child = ::fork();
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  std::optional<std::vector<host::ProcessInfo>> line = host::ancestry(child);
  ASSERT_TRUE(line);
  std::optional<host::Holder> holder = set->holder_of(*line);
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->name, "");
  EXPECT_FALSE(set->holder_of(*host::ancestry(::getpid())));  // the host's own line is nobody's
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  set.reset();
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}
