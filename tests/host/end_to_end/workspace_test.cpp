// The workspace as a person lives with it, in real pseudo-terminals with
// real signals: Lead is the person's shell, at the size of their terminal,
// until it ends; the terminal it was started from is closed in the middle
// of an ask and the workspace goes on; a second terminal attaches to it
// again; `stop` ends it; a restart, after a stop and after kill -9, brings
// every recruit back held, and `resume` runs it again.

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "files.h"
#include "host_process.h"
#include "pty_process.h"

using namespace std::chrono_literals;
using harness::PtyProcess;
using wire::Json;
using Clock = std::chrono::steady_clock;

namespace {

/// True once `done` is, polled for at most thirty seconds.
bool eventually(const std::function<bool()>& done) {
  for (auto deadline = Clock::now() + 30s; Clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
    if (done()) return true;
  }
  return false;
}

bool gone(pid_t pid) {
  return eventually([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; });
}

/// True once some process runs with exactly `cmdline` (arguments joined by
/// NUL bytes).
bool running(const std::string& cmdline) {
  return eventually([&] {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream in(entry.path() / "cmdline", std::ios::binary);
      if (std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()) == cmdline) return true;
    }
    return false;
  });
}

/// A person's terminals and shells in a private home: the workspace on its
/// default socket and state file there.
class Workspace {
 public:
  Workspace() : dir_(place_.dir()) {
    std::string bin = std::filesystem::path(WELKMORA_BIN).parent_path().string();
    env_ = {{"PATH", bin + ":/usr/bin:/bin"},
            {"HOME", dir_},
            {"XDG_RUNTIME_DIR", dir_ + "/run"},
            {"XDG_STATE_HOME", dir_ + "/state"},
            {"SHELL", "/bin/sh"},
            {"PS1", "lead> "},
            {"LANG", "C.UTF-8"},
            {"WELKMORA_DEMO_DELAY", "1.5"}};
    std::filesystem::create_directories(dir_ + "/run");
  }
  ~Workspace() {
    // Whatever a failed test left running goes.
    pid_t host = std::filesystem::exists(state() + ".lock") ? host_pid() : 0;
    if (host > 0) ::kill(host, SIGKILL);
  }

  /// `welkmora-host` in a new terminal, at Lead's prompt.
  std::unique_ptr<PtyProcess> view() const {
    winsize size{};
    size.ws_row = 30;
    size.ws_col = 100;
    auto view = std::make_unique<PtyProcess>(std::vector<std::string>{harness::host_path()}, env_, size);
    EXPECT_TRUE(view->expect("lead>")) << view->transcript();
    return view;
  }
  /// welkmora-host COMMAND... from another shell of the person's.
  harness::RunResult host(const std::vector<std::string>& args) const { return harness::run_host(args, env_); }
  Json listed() const { return Json::parse(host({"ls", "--json"}).out); }
  /// The host's process, from its lock file.
  pid_t host_pid() const { return harness::wait_for_pid(state() + ".lock"); }
  std::string state() const { return dir_ + "/state/welkmora/host-state.json"; }
  const std::string& dir() const { return dir_; }
  const harness::Env& env() const { return env_; }

 private:
  harness::HostProcess place_;  // for its private directory
  std::string dir_;
  harness::Env env_;
};

Json terminal_named(const Json& listing, const std::string& name) {
  for (const Json& t : listing["terminals"]) {
    if (t["name"] == name) return t;
  }
  return nullptr;
}

}  // namespace

TEST(HostWorkspace, LeadIsThePersonsShellUntilItEnds) {
  Workspace w;
  std::unique_ptr<PtyProcess> user = w.view();
  // The shell is the terminal Lead, with the host's variables, at the size
  // of the person's terminal.
  user->send("echo id=$WELKMORA_TERMINAL_ID size=$(stty size)\r");
  ASSERT_TRUE(user->expect("id=Lead size=30 100")) << user->transcript();

  // It recruits and asks like any terminal.
  user->send("welkmora recruit Dev --command 'echo $$ > " + w.dir() + "/dev.pid; exec welkmora-demo-agent'\r");
  ASSERT_TRUE(user->expect("Recruit gespawnt: Dev")) << user->transcript();
  user->send("until welkmora check Dev | grep -q demo; do sleep 0.1; done; welkmora ask Dev hello\r");
  ASSERT_TRUE(user->expect("Answer: hello")) << user->transcript();

  // Window-size changes reach the shell.
  user->resize(50, 132);
  user->send("stty size\r");
  ASSERT_TRUE(user->expect("50 132")) << user->transcript();

  // Ctrl-C goes to the shell's program, not to the host. Wait for the
  // program itself: a Ctrl-C that reaches the shell first would flush the
  // typed-ahead line below.
  user->send("sleep 61\r");
  ASSERT_TRUE(
      running(std::string("sleep\0"
                          "61\0",
                          9)))
      << user->transcript();
  user->send("\x03");
  user->send("echo still; echo here\r");
  ASSERT_TRUE(user->expect("still\r\nhere")) << user->transcript();

  // Lead is the person's shell: its recruits cannot dismiss it.
  std::string rogue = w.dir() + "/rogue";
  user->send("welkmora recruit Rogue --command 'welkmora dismiss Lead >" + rogue + ".tmp 2>&1; mv " + rogue + ".tmp " +
             rogue + "; sleep 60'\r");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(rogue); }));
  EXPECT_EQ(harness::read_file(rogue), "welkmora: cannot dismiss Lead: it is the person's shell\n");

  // Leaving the shell stops the host and everything it started, and the
  // view ends with the shell's status once the host has.
  pid_t dev = harness::wait_for_pid(w.dir() + "/dev.pid");
  ASSERT_GT(dev, 0);
  user->send("exit 7\r");
  EXPECT_EQ(user->wait(), 7) << user->transcript();
  EXPECT_TRUE(gone(dev));
  EXPECT_FALSE(std::filesystem::exists(w.dir() + "/run/welkmora/host.sock"));
  EXPECT_FALSE(std::filesystem::exists(w.state() + ".lock"));
}

TEST(HostWorkspace, OutlivesItsTerminalUntilStopped) {
  Workspace w;
  std::unique_ptr<PtyProcess> first = w.view();
  first->send("KEPT=before-hangup; welkmora recruit Dev --command 'echo $$ > " + w.dir() +
              "/dev.pid; exec welkmora-demo-agent'\r");
  ASSERT_TRUE(first->expect("Recruit gespawnt: Dev")) << first->transcript();
  first->send("until welkmora check Dev | grep -q demo; do sleep 0.1; done; welkmora ask Dev hello > " + w.dir() +
              "/answer.tmp; mv " + w.dir() + "/answer.tmp " + w.dir() + "/answer\r");
  ASSERT_TRUE(eventually([&] { return terminal_named(w.listed(), "Dev")["busy"] == true; }));

  // The terminal window closes in the middle of the ask: the view detaches,
  // and the ask, Lead's shell and the host go on.
  first->hang_up();
  EXPECT_EQ(first->wait(), 0);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(w.dir() + "/answer"); }));
  EXPECT_EQ(harness::read_file(w.dir() + "/answer"), "Answer: hello\n");

  // A second terminal brings Lead back: its scrollback, its variables.
  std::unique_ptr<PtyProcess> second = w.view();
  EXPECT_TRUE(second->expect("Recruit gespawnt: Dev")) << second->transcript();
  second->send("echo kept=$KEPT\r");
  EXPECT_TRUE(second->expect("kept=before-hangup")) << second->transcript();

  // `stop` from another shell ends it all, and the view is told.
  pid_t dev = harness::wait_for_pid(w.dir() + "/dev.pid");
  harness::RunResult stopped = w.host({"stop"});
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  EXPECT_EQ(stopped.out.rfind("stopped the host on " + w.dir() + "/run/welkmora/host.sock (process ", 0), 0u)
      << stopped.out;
  EXPECT_NE(stopped.out.find("and the 2 programs it ran\n"), std::string::npos) << stopped.out;
  EXPECT_TRUE(second->expect("[the workspace has stopped]")) << second->transcript();
  EXPECT_EQ(second->wait(), 0);
  EXPECT_TRUE(gone(dev));
  EXPECT_FALSE(std::filesystem::exists(w.dir() + "/run/welkmora/host.sock"));
}

TEST(HostWorkspace, RestartBringsEveryTerminalBackHeld) {
  Workspace w;
  std::unique_ptr<PtyProcess> lead = w.view();
  lead->send(
      "welkmora role create Dev 'You code.'; welkmora recruit Alice --role Dev --command welkmora-demo-agent;"
      " welkmora recruit Bob --command 'echo bob-was-here; exec sh'; welkmora connect Alice Bob\r");
  ASSERT_TRUE(lead->expect("Verbunden: Alice <-> Bob")) << lead->transcript();
  lead->send("until welkmora check Alice | grep -q demo; do sleep 0.1; done; welkmora ask Alice first\r");
  ASSERT_TRUE(lead->expect("Answer: first")) << lead->transcript();
  // Leaving Lead's shell ends the workspace, with the shell's status.
  lead->send("exit 4\r");
  EXPECT_TRUE(lead->expect("the workspace has ended")) << lead->transcript();
  EXPECT_EQ(lead->wait(), 4);

  auto held_back = [&](const std::string& shown) {
    std::unique_ptr<PtyProcess> view = w.view();
    Json alice = terminal_named(w.listed(), "Alice");
    EXPECT_EQ(alice["state"], "held") << alice;
    EXPECT_EQ(alice["role"], "Dev") << alice;
    EXPECT_EQ(alice["ropes"], Json({"Bob", "Lead"})) << alice;
    EXPECT_EQ(terminal_named(w.listed(), "Bob")["state"], "held");
    // Agents see it as ended; its saved screen is there to check.
    view->send("welkmora list; welkmora check Alice\r");
    EXPECT_TRUE(view->expect(shown)) << view->transcript();
    EXPECT_TRUE(view->expect("restored and held: welkmora-host resume Alice runs it")) << view->transcript();
    return view;
  };
  // After a stop: held, until resumed. An attach shows the saved screen
  // and goes on with the program that resumes it.
  std::unique_ptr<PtyProcess> again = held_back("Answer: first");
  PtyProcess bob({harness::host_path(), "attach", "Bob"}, w.env());
  EXPECT_TRUE(bob.expect("restored and held: welkmora-host resume Bob runs it")) << bob.transcript();
  EXPECT_EQ(w.host({"resume", "Bob"}).out, "resumed Bob\n");
  // Drawn again, the saved screen above the program's new output.
  EXPECT_TRUE(bob.expect("runs it")) << bob.transcript();
  EXPECT_TRUE(bob.expect("bob-was-here")) << bob.transcript();
  bob.send("exit 5\r");
  EXPECT_TRUE(bob.expect("[Bob exited with status 5]")) << bob.transcript();
  EXPECT_EQ(bob.wait(), 0);
  again->send("welkmora ask Alice hi\r");
  EXPECT_TRUE(again->expect("program has ended: Alice")) << again->transcript();
  harness::RunResult resumed = w.host({"resume", "Alice"});
  EXPECT_EQ(resumed.out, "resumed Alice\n") << resumed.err;
  again->send("until welkmora check Alice | grep -q 'demo>'; do sleep 0.1; done; welkmora ask Alice second\r");
  ASSERT_TRUE(again->expect("Answer: second")) << again->transcript();

  // After kill -9: what the last periodic save kept.
  ASSERT_TRUE(eventually([&] {
    for (const auto& entry : std::filesystem::directory_iterator(w.state() + ".terminals")) {
      // The file renamed into place, not the one still being written.
      if (entry.path().filename().string().starts_with("Alice-") && entry.path().extension() == ".screen" &&
          harness::read_file(entry.path()).find("Answer: second") != std::string::npos) {
        return true;
      }
    }
    return false;
  }));
  pid_t host = w.host_pid();
  ASSERT_GT(host, 0);
  ::kill(host, SIGKILL);
  EXPECT_TRUE(again->expect("[lost the connection to the host]")) << again->transcript();
  EXPECT_EQ(again->wait(), 1);
  std::unique_ptr<PtyProcess> last = held_back("Answer: second");
  last->send("exit\r");
  EXPECT_EQ(last->wait(), 0);
}
