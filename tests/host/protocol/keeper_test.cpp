// The terminals kept over a restart, in this process: what is saved (and
// how the files are kept), how it comes back held, and saved files that
// are cut short, damaged or from a terminal of another size.

#include "protocol/keeper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "files.h"
#include "host_process.h"
#include "loop/reactor.h"
#include "model/canvas.h"
#include "protocol/dispatcher.h"
#include "pty/terminal_set.h"
#include "store/terminal_store.h"

using namespace std::chrono_literals;
using namespace host;

namespace {

/// A host's canvas, terminals and keeper, without a socket.
struct Host {
  explicit Host(const std::string& state) : store(state), keeper(canvas, terminals, store) {}

  /// Serves the loop until `done` is true; false after ten seconds.
  template <class Done>
  bool serve_until(Done done) {
    for (auto deadline = Clock::now() + 10s; !done(); reactor.run_once(Clock::now() + 20ms)) {
      if (Clock::now() > deadline) return false;
    }
    return true;
  }
  std::string screen(const std::string& name) { return terminals.find(name)->screen_text(); }

  Canvas canvas;
  Reactor reactor;
  TerminalSet terminals{reactor, 10ms};
  TerminalStore store;
  Keeper keeper;
};

/// `text` without line feeds and blanks: the same however it wrapped.
std::string flat(std::string text) {
  std::erase_if(text, [](char c) { return c == '\n' || c == ' '; });
  return text;
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}  // namespace

TEST(HostKeeper, SavesEveryTerminalAndBringsItBackHeld) {
  harness::HostProcess place;  // for its private directory
  std::string state = place.dir() + "/state.json";
  {
    Host before(state);
    before.keeper.restore({});
    ASSERT_TRUE(before.canvas.create_role("Dev", "p").ok());
    Launch launch;
    launch.argv = {"/bin/sh", "-c", "seq 3000; sleep 60"};
    launch.rows = 12;
    launch.cols = 50;
    for (const char* name : {"A", "B"}) {
      ASSERT_TRUE(before.terminals.start(name, launch).ok());
      before.canvas.add_terminal({name, "token", false, "Dev", false, Recipe{"seq-and-sleep", "", ""}});
    }
    before.canvas.rope(Item::terminal("A"), Item::terminal("B"));
    ASSERT_TRUE(before.serve_until([&] {
      return before.screen("A").find("3000") != std::string::npos &&
             before.screen("B").find("3000") != std::string::npos;
    }));
    before.keeper.save_all();
  }
  std::string dir = state + ".terminals";
  EXPECT_EQ(mode_of(dir), 0700u);
  EXPECT_EQ(mode_of(dir + "/terminals.json"), 0600u);
  TerminalStore files(state);
  EXPECT_EQ(mode_of(files.screen_path("A")), 0600u);

  Host after(state);
  wire::Fallible<std::vector<SavedTerminal>> saved = after.store.load();
  ASSERT_TRUE(saved.ok()) << saved.failure().text;
  ASSERT_TRUE(after.canvas.create_role("Dev", "p").ok());
  EXPECT_EQ(after.keeper.restore(*saved), "");  // no Lead was saved
  Terminal* a = after.terminals.find("A");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->held());
  EXPECT_EQ(a->screen().rows(), 12);
  EXPECT_EQ(after.canvas.terminal("A")->role, "Dev");
  EXPECT_EQ(after.canvas.terminal("A")->recipe.command, "seq-and-sleep");
  EXPECT_EQ(after.canvas.peers("A"), std::vector<std::string>{"B"});
  // The last 2,000 lines of scrollback and the screen, under the line that
  // says it is held.
  // The screen showed 2990 to 3000 above its cursor's row.
  ScreenText shot = a->screen_snapshot(0);
  ASSERT_GT(shot.rows.size(), 2011u);
  EXPECT_EQ(shot.rows.front(), "990");
  EXPECT_EQ(shot.rows[2010], "3000");
  EXPECT_TRUE(flat(a->screen_text()).ends_with(flat("3000 restored and held: welkmora-host resume A runs it")))
      << a->screen_text();
}

TEST(HostKeeper, ScreensCutShortDamagedOrResizedComeBackAsFarAsTheyCan) {
  harness::HostProcess place;
  std::string state = place.dir() + "/state.json";
  {
    TerminalStore store(state);
    std::vector<SavedTerminal> saved(3);
    for (std::size_t i = 0; i < saved.size(); ++i) {
      saved[i].name = std::string(1, static_cast<char>('A' + i));
      saved[i].rows = 10;
      saved[i].cols = 40;
    }
    store.save(saved);
    // A was saved 80 columns wide; it comes back 40 wide, its line wrapped.
    store.save_screen("A", {24, 80, std::string(60, 'a') + "\r\nend\r\n"});
    store.save_screen("B", {24, 80, "cut short\r\n"});
    store.save_screen("C", {24, 80, "damaged\r\n"});
    store.flush();
    std::filesystem::resize_file(store.screen_path("B"), std::filesystem::file_size(store.screen_path("B")) - 3);
    std::fstream damaged(store.screen_path("C"), std::ios::in | std::ios::out | std::ios::binary);
    damaged.seekp(-3, std::ios::end);
    damaged.put('X');
  }
  Host host(state);
  wire::Fallible<std::vector<SavedTerminal>> saved = host.store.load();
  ASSERT_TRUE(saved.ok());
  testing::internal::CaptureStderr();
  host.keeper.restore(*saved);
  std::string said = testing::internal::GetCapturedStderr();

  EXPECT_EQ(host.screen("A").substr(0, 66), std::string(40, 'a') + "\n" + std::string(20, 'a') + "\nend\n");
  EXPECT_EQ(flat(host.screen("A")).substr(63), flat("restored and held: welkmora-host resume A runs it"));
  for (const char* name : {"B", "C"}) {
    EXPECT_TRUE(host.terminals.find(name)->held()) << name;
    EXPECT_EQ(flat(host.screen(name)), flat("restored without its screen (unreadable) and held: welkmora-host resume " +
                                            std::string(name) + " runs it"));
  }
  EXPECT_NE(said.find("the screen of B is not restored: the saved screen " + host.store.screen_path("B") +
                      " is refused: it is cut short or overlong (8 bytes of 11)"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("the screen of C is not restored: the saved screen " + host.store.screen_path("C") +
                      " is refused: it is damaged (its checksum does not match)"),
            std::string::npos)
      << said;

  // A record file that cannot be read stops the start, and stays as it is.
  std::string records = state + ".terminals/terminals.json";
  std::ofstream(records) << "{\"version\": 1, \"terminals\": [{\"name\": 7}]}";
  wire::Fallible<std::vector<SavedTerminal>> corrupt = TerminalStore(state).load();
  ASSERT_FALSE(corrupt.ok());
  EXPECT_EQ(corrupt.failure().text, "the saved terminals " + records +
                                        " are corrupt (a terminal's \"name\" has the wrong type); they are left "
                                        "untouched: repair or move the file away");
  EXPECT_EQ(harness::read_file(records), "{\"version\": 1, \"terminals\": [{\"name\": 7}]}");
}

TEST(HostKeeper, ResumeRunsThePresetsResumeCommandWhereItRan) {
  harness::HostProcess place;
  std::string state = place.dir() + "/state.json";
  std::filesystem::create_directory(place.dir() + "/project");
  SavedTerminal agent;
  agent.name = "Agent";
  agent.command = "echo first run; sleep 60";
  agent.preset = "Coder";
  agent.cwd = place.dir() + "/project";
  SavedTerminal plain = agent;
  plain.name = "Plain";
  plain.preset = "";
  Host host(state);
  host.keeper.restore({agent, plain});
  std::vector<Preset> presets = default_presets();
  presets.push_back({"Coder", "echo first run; sleep 60", "echo continued in $PWD; sleep 60"});
  Dispatcher dispatcher(host.canvas, host.terminals, nullptr, presets, {});

  // An agent continues its conversation, in its directory; a terminal
  // without such a preset runs its command again; neither runs twice.
  EXPECT_EQ(dispatcher.answer(R"({"command":"resume","all":true})")["result"],
            wire::Json::parse(R"({"resumed":["Agent","Plain"],"failed":[]})"));
  ASSERT_TRUE(host.serve_until([&] {
    return host.screen("Agent").ends_with("continued in " + agent.cwd) && host.screen("Plain").ends_with("first run");
  })) << host.screen("Agent");
  EXPECT_TRUE(host.screen("Agent").starts_with("restored and held")) << "below the saved screen";
  EXPECT_EQ(dispatcher.answer(R"({"command":"resume","name":"Agent"})"),
            wire::Json::parse(R"({"ok":false,"error":"not held: Agent"})"));
}
