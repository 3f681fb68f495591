// `ask` end to end: the real client asks terminals of a real host, most of
// them running the demo agent. Timing is checked only where it proves
// something (a batch's turns overlap) and with bounds that a loaded machine
// cannot break; the exact speed is for scripts/bench-ask.sh.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host_fixtures.h"
#include "host_process.h"
#include "unique_fd.h"
#include "utf8.h"

using namespace harness;
using wire::Json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

/// The settle time the host runs with here: long enough that a busy machine
/// cannot end a turn early (the agents print at least every tenth of a
/// second while they work), short enough to keep the suite quick.
constexpr auto kSettle = 1000ms;
/// The host's pause between a prompt and its Enter.
constexpr auto kEnterDelay = 200ms;

/// The demo agent with a delay of `delay` seconds, as a recruit's command.
std::string demo_agent(const std::string& delay = "0.3") {
  return "WELKMORA_DEMO_DELAY=" + delay + " exec '" WELKMORA_DEMO_AGENT "'";
}

/// An ask sent on a connection of its own, its reply read later (or never).
class PendingAsk {
 public:
  PendingAsk(const HostProcess& host, const Env& env, Json request) {
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, host.socket_path().c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect");
    request["command"] = "ask";
    request["terminalId"] = env.at("WELKMORA_TERMINAL_ID");
    request["token"] = env.at("WELKMORA_TOKEN");
    std::string line = wire::to_wire(request) + "\n";
    if (::send(fd_.get(), line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
      throw std::runtime_error("short send");
    }
  }

  /// The host's process id, from the connection's peer credentials.
  pid_t host_pid() const {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd_.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
    return cred.pid;
  }

  /// The reply, or null when none has come within `wait`.
  Json reply(std::chrono::milliseconds wait = 20s) {
    std::string got;
    auto deadline = Clock::now() + wait;
    while (got.find('\n') == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd_.get(), POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return nullptr;
      char buf[65536];
      ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
      if (n <= 0) return nullptr;
      got.append(buf, static_cast<std::size_t>(n));
    }
    wire::Parsed parsed = wire::parse_json(got.substr(0, got.find('\n')));
    return parsed.ok() ? *parsed : Json("unparsable: " + got);
  }

  void hang_up() { fd_.reset(); }

 private:
  os::UniqueFd fd_;
};

/// How many descriptors process `pid` holds open.
/// The sockets `pid` holds open: its listener and its connections. (Files
/// come and go as the host saves its terminals.)
std::size_t open_sockets(pid_t pid) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec).string().starts_with("socket:")) ++n;
  }
  return n;
}

std::vector<long long> stamps(const std::string& path) {
  std::vector<long long> out;
  std::ifstream in(path);
  for (long long t; in >> t;) out.push_back(t);
  return out;
}

class HostAsk : public HostWithLead {
 protected:
  HostAsk() : HostWithLead({"--settle", std::to_string(kSettle.count()) + "ms", "--max-wait", "30s"}) {}

  /// Recruits `name` running `cmd` and waits until its screen shows `ready`.
  void recruit(const std::string& name, const std::string& cmd, const std::string& ready = "demo>") {
    host.recruit(lead, name, cmd);
    RunResult r = host.check_until(lead, name, ready);
    ASSERT_NE(r.out.find(ready), std::string::npos) << r.out << r.err;
  }

  /// The reply to `request` once the peers are free of the turns of an
  /// asker that hung up (an ask is refused as busy until then).
  Json ask_when_free(const Json& request) {
    Json reply = host.request(lead, request);
    for (auto until = Clock::now() + 10s; reply.dump().find("busy") != std::string::npos && Clock::now() < until;) {
      std::this_thread::sleep_for(50ms);
      reply = host.request(lead, request);
    }
    return reply;
  }

  RunResult ask(const std::vector<std::string>& args) {
    std::vector<std::string> words{"ask"};
    words.insert(words.end(), args.begin(), args.end());
    return host.client(lead, words);
  }
};

}  // namespace

TEST_F(HostAsk, SingleAskGetsTheAnswer) {
  recruit("Dev", demo_agent());
  RunResult r = ask({"Dev", "hello there"});
  EXPECT_EQ(r.out, "Answer: hello there\n");  // no echo, no idle prompt
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  // The next turn's output is what came after its own prompt only.
  Json second = host.result(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", "again"}});
  EXPECT_EQ(second, Json({{"output", "Answer: again"}, {"awaitingInput", false}}));
  // The whole history stays for check.
  EXPECT_NE(host.client(lead, {"check", "Dev"}).out.find("Answer: hello there\ndemo> again\nAnswer: again\ndemo>"),
            std::string::npos);
}

TEST_F(HostAsk, BatchTurnsRunAtTheSameTime) {
  // Agents that take a second each and record when they start and finish.
  auto agent = [&](const std::string& name) {
    std::string log = host.dir() + "/" + name;
    return "while IFS= read -r line; do date +%s%N >> '" + log +
           ".start'; i=0; "
           "while [ $i -lt 10 ]; do sleep 0.1; printf .; i=$((i+1)); done; printf '\\r\\033[K'; "
           "date +%s%N >> '" +
           log + ".end'; echo \"done: $line\"; done";
  };
  recruit("A", "stty -echo; echo ready; " + agent("A"), "ready");
  recruit("B", "stty -echo; echo ready; " + agent("B"), "ready");
  auto before = Clock::now();
  RunResult r = ask({"--batch", R"({"B":"two","A":"one"})"});
  auto took = Clock::now() - before;
  EXPECT_EQ(r.out, "=== A ===\ndone: one\n\n=== B ===\ndone: two\n\n");  // in key order
  EXPECT_EQ(r.status, 0) << r.err;

  // Both turns had started before either ended.
  std::vector<long long> a_start = stamps(host.dir() + "/A.start"), b_start = stamps(host.dir() + "/B.start");
  std::vector<long long> a_end = stamps(host.dir() + "/A.end"), b_end = stamps(host.dir() + "/B.end");
  ASSERT_EQ(a_start.size(), 1u);
  ASSERT_EQ(b_start.size(), 1u);
  ASSERT_EQ(a_end.size(), 1u);
  ASSERT_EQ(b_end.size(), 1u);
  EXPECT_LT(std::max(a_start[0], b_start[0]), std::min(a_end[0], b_end[0]));
  // One after the other, the two turns could not take less than this.
  EXPECT_LT(took, 2 * (kEnterDelay + 1s + kSettle));
}

TEST_F(HostAsk, BatchAnswersWhatItCanAndNamesTheRest) {
  Env dev = host.recruit(lead, "Dev", demo_agent());
  ASSERT_NE(host.check_until(lead, "Dev", "demo>").out.find("demo>"), std::string::npos);
  Env stranger = host.join("Stranger");  // not roped to Lead
  RunResult r = ask({"--batch", R"({"Dev":"hi","Ghost":"x","Stranger":"x"})"});
  EXPECT_EQ(r.out,
            "=== Dev ===\nAnswer: hi\n\n"
            "=== Ghost (Fehler) ===\nno such peer: Ghost\n\n"
            "=== Stranger (Fehler) ===\nno such peer: Stranger\n\n");
  EXPECT_EQ(r.status, 0) << r.err;
  // Lead, a joined shell, has no terminal here to type into.
  RunResult back = host.client(dev, {"ask", "--batch", R"({"Lead":"x"})"});
  EXPECT_EQ(back.out, "=== Lead (Fehler) ===\ncannot type into a joined shell: Lead\n\n");

  Json raw = host.result(lead, {{"command", "ask"}, {"batch", {{"Dev", 5}, {"Nope", "x"}}}});
  EXPECT_EQ(raw, Json::parse(R"({"results":[{"name":"Dev","error":"prompt must be a string: Dev"},
                                            {"name":"Nope","error":"no such peer: Nope"}]})"));
  EXPECT_EQ(host.result(lead, {{"command", "ask"}, {"batch", Json::object()}}), Json::parse(R"({"results":[]})"));
  EXPECT_EQ(host.client(lead, {"ask", "Ghost", "x"}).err, "welkmora: no such peer: Ghost\n");
}

TEST_F(HostAsk, AQuestionBackMeansAwaitingInput) {
  recruit("Dev", demo_agent());
  RunResult r = ask({"Dev", "please confirm the plan"});
  EXPECT_EQ(r.out, "Proceed? [y/n]\n");
  EXPECT_EQ(r.err, "⚠ 'Dev' wartet auf Eingabe (Turn nicht beendet — ggf. erneut `ask`, um zu antworten)\n");
  EXPECT_EQ(r.status, 0);
  // A further ask answers the question.
  Json answered = host.result(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", "y"}});
  EXPECT_EQ(answered["awaitingInput"], false);
  EXPECT_EQ(answered["output"].get<std::string>().rfind("Got: y", 0), 0u) << answered;

  RunResult batch = ask({"--batch", R"({"Dev":"confirm again"})"});
  EXPECT_EQ(batch.out, "=== Dev (⚠ wartet auf Eingabe) ===\nProceed? [y/n]\n\n");
}

TEST_F(HostAsk, APeerThatExitsDuringItsTurn) {
  recruit("Dev", demo_agent());
  RunResult r = ask({"Dev", "crash"});
  EXPECT_EQ(r.out, "Crashing.\n[exited with status 3]\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(host.client(lead, {"ask", "Dev", "hello"}).err, "welkmora: program has ended: Dev\n");

  recruit("Sig", "echo ready; read line; echo going; kill -9 $$", "ready");
  Json killed = host.result(lead, {{"command", "ask"}, {"target", "Sig"}, {"prompt", "go"}});
  EXPECT_EQ(killed, Json({{"output", "going\n[terminated by signal 9]"}, {"awaitingInput", false}}));
}

TEST_F(HostAsk, AClientThatHangsUpFreesItsPeersAtOnce) {
  // Peers that work a second and a half over every line: their turns
  // outlast the hang-ups below.
  recruit("A", "echo ready; while read -r line; do sleep 1.5; done", "ready");
  recruit("B", "echo ready; while read -r line; do sleep 1.5; done", "ready");
  PendingAsk first(host, lead, {{"target", "A"}, {"prompt", "first"}});
  pid_t pid = first.host_pid();
  ASSERT_GT(pid, 0);
  // While the turn runs, the peer is busy and the host serves others.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(host.client(lead, {"ask", "A", "second"}).err, "welkmora: busy with another ask: A\n");
  EXPECT_EQ(host.client(lead, {"list"}).out, "Verbundene Agenten:\n  - A\n  - B\n");
  // The listener and the waiting ask's connection (once the host has closed
  // those of the requests just answered, at the end of its round).
  auto sockets_become = [pid](std::size_t n) {
    for (auto until = Clock::now() + 5s; Clock::now() < until; std::this_thread::sleep_for(20ms)) {
      if (open_sockets(pid) == n) return true;
    }
    return false;
  };
  ASSERT_TRUE(sockets_become(2)) << open_sockets(pid);
  first.hang_up();

  // The turn ends with its client, what was typed stays, and the next ask
  // is taken: typed once the peer is done with the line of the first.
  Json again = ask_when_free({{"command", "ask"}, {"target", "A"}, {"prompt", "third"}});
  EXPECT_EQ(again["ok"], true) << again;
  EXPECT_NE(host.client(lead, {"check", "A"}).out.find("first"), std::string::npos);
  // The hung-up connection is closed: the listener is left.
  EXPECT_TRUE(sockets_become(1)) << open_sockets(pid);

  // A batch's turns all end with its client.
  PendingAsk batch(host, lead, {{"batch", {{"A", "fourth"}, {"B", "fifth"}}}});
  std::this_thread::sleep_for(300ms);
  batch.hang_up();
  Json both = ask_when_free({{"command", "ask"}, {"batch", {{"A", "sixth"}, {"B", "seventh"}}}});
  ASSERT_EQ(both["ok"], true) << both;
  for (const Json& entry : both["result"]["results"]) EXPECT_FALSE(entry.contains("error")) << entry;
}

TEST_F(HostAsk, ShellsAndReplsAnswerOnceTheirPromptIsBack) {
  // A settle time no test waits for: only the returned prompt ends these turns.
  EXPECT_EQ(host.stop(), 0);
  host.start({"--settle", "60s", "--max-wait", "90s"});
  lead = host.join("Lead");
  recruit("Sh", "bash --norc --noprofile", "bash-");  // started by sh, in a group of its own
  recruit("Py", "exec python3 -q", ">>>");
  auto before = Clock::now();
  EXPECT_EQ(ask({"Sh", "echo hi"}).out, "hi\n");
  EXPECT_EQ(ask({"Py", "print(6*7)"}).out, "42\n");
  Json nothing = host.result(lead, {{"command", "ask"}, {"target", "Py"}, {"prompt", "x = 1"}});
  EXPECT_EQ(nothing, Json({{"output", ""}, {"awaitingInput", false}}));
  EXPECT_LT(Clock::now() - before, 30s);
}

TEST_F(HostAsk, SilentCommandsAreWaitedFor) {
  recruit("Sh", "bash --norc --noprofile", "bash-");
  recruit("Py", "exec python3 -q", ">>>");
  // Three silent seconds, three times the settle time: bash runs sleep in
  // the foreground, python runs the statement in line mode.
  Json batch = host.result(
      lead, {{"command", "ask"},
             {"batch", {{"Sh", "sleep 3; echo done"}, {"Py", "import time; time.sleep(3); print('slept')"}}}});
  EXPECT_EQ(batch["results"], Json::parse(R"([{"name":"Py","output":"slept","awaitingInput":false},
                                              {"name":"Sh","output":"done","awaitingInput":false}])"));
  // Nothing of it is left for the next turn.
  EXPECT_EQ(ask({"Sh", "echo next"}).out, "next\n");
}

TEST_F(HostAsk, FullScreenProgramsAreNotCutShort) {
  // They keep their input line on screen while they work and redraw their
  // status five times a second: the turn ends when they wait for a key
  // again, at their input line.
  EXPECT_EQ(host.stop(), 0);
  host.start({"--settle", "3s", "--max-wait", "60s"});
  lead = host.join("Lead");
  recruit("Full", "exec bash '" WELKMORA_FULLSCREEN_AGENT "' 2", "? for shortcuts");
  recruit("Inline", "exec bash '" WELKMORA_FULLSCREEN_AGENT "' --inline 2", "Ready");
  Json batch = host.result(lead, {{"command", "ask"}, {"batch", {{"Full", "hello"}, {"Inline", "hi there"}}}});
  ASSERT_EQ(batch["results"].size(), 2u) << batch;
  EXPECT_EQ(batch["results"][0]["output"], "Answer: hello");
  EXPECT_EQ(batch["results"][1]["output"], "Answer: hi there");
}

TEST_F(HostAsk, AnAskWaitsForTheCommandOfAnAbandonedAsk) {
  recruit("Sh", "PS1='$ ' bash --norc --noprofile", "$");
  PendingAsk gone(host, lead, {{"target", "Sh"}, {"prompt", "sleep 2; echo late"}});
  std::this_thread::sleep_for(500ms);
  gone.hang_up();
  // Typed once the shell waits again: the answer is the ask's own, with
  // nothing of the command before it.
  Json next = ask_when_free({{"command", "ask"}, {"target", "Sh"}, {"prompt", "echo next"}});
  EXPECT_EQ(next["result"], Json({{"output", "next"}, {"awaitingInput", false}})) << next;
}

TEST_F(HostAsk, AnAskWaitsForAnAgentStillAtWork) {
  // Its spinner says it works on the abandoned prompt, though its process
  // waits on the terminal as it does when idle.
  recruit("Ag", "AGENT_THINK=1.5 AGENT_PAUSE=0.3 exec '" WELKMORA_AGENT_TUI "'", "for shortcuts");
  PendingAsk gone(host, lead, {{"target", "Ag"}, {"prompt", "first"}});
  std::this_thread::sleep_for(500ms);
  gone.hang_up();
  Json next = ask_when_free({{"command", "ask"}, {"target", "Ag"}, {"prompt", "second"}});
  EXPECT_EQ(next["result"], Json({{"output", "Answer #2: second"}, {"awaitingInput", false}})) << next;
}

TEST_F(HostAsk, PromptsAreTypedAsOneLine) {
  recruit("Dev", demo_agent());
  // Line breaks and control characters (here Ctrl-C and Escape, which would
  // interrupt or steer the program) are typed as spaces.
  Json r = host.result(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", "one\ntwo\r\nthree\tfour\x03\x1b[A."}});
  EXPECT_EQ(r, Json({{"output", "Answer: one two three four  [A."}, {"awaitingInput", false}}));
  // So is U+009B, which a terminal takes for ESC [ (here: clear the screen).
  r = host.result(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", "keep\u009b2J"}});
  EXPECT_EQ(r["output"], "Answer: keep 2J");

  // A line-mode terminal takes lines of 4095 bytes at most.
  Json too_long = host.request(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", std::string(4001, 'x')}});
  EXPECT_EQ(too_long["error"], "prompt too long for a terminal line: 4001 bytes, at most 4000");
  Json fits = host.result(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", std::string(4000, 'y')}});
  // The terminal wrapped it in rows of 80 columns; the answer joins them.
  EXPECT_EQ(fits["output"], "Answer: " + std::string(4000, 'y'));

  // A program that reads the terminal raw gets long prompts whole, and the
  // Enter after them.
  recruit("Raw",
          "stty -icanon -icrnl -echo min 1; echo ready; dd bs=1 count=9001 2>/dev/null | tr -d x | od -An -tx1; "
          "cat >/dev/null",
          "ready");
  Json raw = host.result(lead, {{"command", "ask"}, {"target", "Raw"}, {"prompt", std::string(9000, 'x')}});
  EXPECT_EQ(raw["output"], "0d");
}

TEST_F(HostAsk, DismissalAndTheUpperBoundEndATurn) {
  EXPECT_EQ(host.stop(), 0);
  host.start({"--settle", "1s", "--max-wait", "2s"});
  lead = host.join("Lead");
  recruit("Talker", "echo ready; read line; while :; do echo tick; sleep 0.2; done", "ready");
  Json bounded = host.result(lead, {{"command", "ask"}, {"target", "Talker"}, {"prompt", "go"}});
  std::string out = bounded["output"];
  EXPECT_TRUE(out.starts_with("tick\ntick\n")) << out;
  EXPECT_TRUE(out.ends_with("tick\n[no end of turn after 2 s]")) << out;

  recruit("Slow", demo_agent("5"));
  PendingAsk pending(host, lead, {{"target", "Slow"}, {"prompt", "take your time"}});
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(host.client(lead, {"dismiss", "Slow"}).out, "Entlassen: Slow\n");
  Json reply = pending.reply();
  ASSERT_EQ(reply["ok"], true) << reply;
  std::string dismissed = reply["result"]["output"];
  EXPECT_TRUE(dismissed.starts_with("Thinking")) << dismissed;
  EXPECT_TRUE(dismissed.ends_with("\n[dismissed during the turn]")) << dismissed;
}

TEST_F(HostAsk, OutputIsValidUtf8) {
  recruit("Dev", "echo ready; read line; printf 'bad \\377 \\355\\240\\200 end\\n'; cat >/dev/null", "ready");
  Json r = host.result(lead, {{"command", "ask"}, {"target", "Dev"}, {"prompt", "go"}});
  std::string out = r["output"];
  EXPECT_TRUE(utf8::is_valid_utf8(out));
  EXPECT_TRUE(out.starts_with("bad \xEF\xBF\xBD")) << out;
  EXPECT_TRUE(out.ends_with(" end")) << out;
}
