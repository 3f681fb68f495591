// The state file: what survives a restart, how it is written, and a file
// the host cannot read.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files.h"
#include "host_process.h"
#include "run_checks.h"
#include "store/state_file.h"

using namespace harness;
using wire::Json;

namespace {

std::vector<std::string> dir_entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

/// The notes the state file at `path` names, each read from its file:
/// {"NAME": "TEXT", ...}.
Json saved_notes(const std::string& path) {
  Json out = Json::object();
  Json state = Json::parse(read_file(path));
  for (const Json& note : state["notes"]) {
    out[note["name"].get<std::string>()] = read_file(path + ".notes/" + note["file"].get<std::string>());
  }
  return out;
}

}  // namespace

TEST(HostState, RestartKeepsNotesRolesAndNoteRopes) {
  HostProcess host;
  host.start();
  Env lead = host.join("Lead");
  Env other = host.join("Other");
  ASSERT_TRUE(printed(host.client(lead, {"note", "create", "Plan", "ümlaut\nline 2\n"}), "Notiz angelegt: Plan\n"));
  ASSERT_TRUE(printed(host.client(other, {"note", "create", "Solo"}), "Notiz angelegt: Solo\n"));
  ASSERT_TRUE(printed(host.client(lead, {"role", "create", "Dev", "Code \"well\"."}), "Rolle angelegt: Dev\n"));
  host.recruit(lead, "Worker");
  ASSERT_TRUE(printed(host.client(lead, {"connect", "Plan", "Worker"}), "Verbunden: Plan <-> Worker\n"));
  ASSERT_EQ(host.stop(), 0) << host.error_output();

  host.start();
  Env lead_again = host.join("Lead");
  // Notes and roles are back, and the rope from Plan to the name Lead holds.
  EXPECT_TRUE(printed(host.client(lead_again, {"list"}),
                      "Keine anderen Agenten verbunden.\nNotizen:\n  - Plan (verbunden)\n  - Solo\n"));
  EXPECT_TRUE(printed(host.client(lead_again, {"note", "read", "Plan"}), "ümlaut\nline 2\n"));
  EXPECT_TRUE(printed(host.client(lead_again, {"role", "show", "Dev"}), "Rolle Dev:\nCode \"well\".\n"));
  EXPECT_EQ(host.result(lead_again, {{"command", "role"}, {"sub", "show"}, {"name", "Dev"}}),
            Json({{"name", "Dev"}, {"prompt", "Code \"well\"."}}));
  // The recruit is back, held, with its rope to Plan; joined shells are
  // not, and ropes to them wait for their names.
  EXPECT_EQ(host.result(lead_again, {{"command", "list"}})["agents"], Json::array());
  Json terminals = host.result(lead_again, {{"command", "ls"}})["terminals"];
  EXPECT_EQ(terminals[1], Json({{"name", "Worker"}, {"state", "held"}, {"busy", false}, {"ropes", {"Plan"}}}));
  // Only the state file, the terminals kept beside it and the host's log
  // are left beside the socket: no temporary files, and the lock file went
  // with the host.
  EXPECT_EQ(host.stop(), 0);
  std::vector<std::string> files = dir_entries(host.dir());
  std::erase_if(files, [](const std::string& f) { return f.starts_with("recruit-"); });
  EXPECT_EQ(files, (std::vector<std::string>{"host.err", "state.json", "state.json.notes", "state.json.terminals"}));
  struct stat st {};
  ASSERT_EQ(::stat(host.state_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The notes' own files, one a note, are the user's alone.
  std::string notes = host.state_path() + ".notes";
  ASSERT_EQ(::stat(notes.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(dir_entries(notes).size(), 2u);
  ASSERT_EQ(::stat((notes + "/" + dir_entries(notes)[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(HostState, EveryChangeIsWrittenAtOnce) {
  HostProcess host;
  host.start();
  Env lead = host.join("Lead");
  EXPECT_FALSE(std::filesystem::exists(host.state_path()));  // nothing changed yet
  ASSERT_TRUE(printed(host.client(lead, {"note", "create", "N", "v1"}), "Notiz angelegt: N\n"));
  Json saved = Json::parse(read_file(host.state_path()));
  EXPECT_EQ(saved_notes(host.state_path()), Json({{"N", "v1"}}));
  EXPECT_EQ(saved["ropes"], Json::parse(R"([[{"kind":"terminal","name":"Lead"},{"kind":"note","name":"N"}]])"));
  EXPECT_EQ(saved["version"], 1);

  ASSERT_TRUE(printed(host.client(lead, {"note", "edit", "N", "v1", "v2"}), "Notiz aktualisiert: N\n"));
  EXPECT_EQ(saved_notes(host.state_path()), Json({{"N", "v2"}}));
  EXPECT_EQ(dir_entries(host.state_path() + ".notes").size(), 1u);  // the text replaced is gone
  ASSERT_TRUE(printed(host.client(lead, {"role", "create", "R", "p"}), "Rolle angelegt: R\n"));
  EXPECT_EQ(Json::parse(read_file(host.state_path()))["roles"], Json::parse(R"([{"name":"R","prompt":"p"}])"));
  ASSERT_TRUE(printed(host.client(lead, {"note", "delete", "N"}), "Notiz gelöscht: N\n"));
  saved = Json::parse(read_file(host.state_path()));
  EXPECT_EQ(saved["notes"], Json::array());
  EXPECT_EQ(saved["ropes"], Json::array());
  EXPECT_TRUE(dir_entries(host.state_path() + ".notes").empty());
  EXPECT_EQ(host.stop(), 0);
}

TEST(HostState, ASmallChangeWritesLittle) {
  // 16 MiB of notes; an agent writing a small one over and over must not
  // make the host write them all again each time.
  HostProcess host;
  host.start();
  Env lead = host.join("Lead");
  for (int i = 0; i < 16; ++i) {
    Json create = {{"command", "note"}, {"sub", "create"}, {"name", "big" + std::to_string(i)}};
    create["content"] = std::string(1 << 20, 'a' + i);
    host.result(lead, create);
  }
  host.result(lead, {{"command", "note"}, {"sub", "create"}, {"name", "small"}, {"content", "x"}});
  auto written = [&] {
    std::istringstream io(read_file("/proc/" + std::to_string(host.pid()) + "/io"));
    for (std::string line; std::getline(io, line);) {
      if (line.rfind("wchar: ", 0) == 0) return std::stoull(line.substr(7));
    }
    return 0ull;
  };
  unsigned long long before = written();
  for (int i = 0; i < 10; ++i) {
    host.result(lead, {{"command", "note"}, {"sub", "write"}, {"name", "small"}, {"content", std::to_string(i)}});
  }
  EXPECT_LT(written() - before, 256u << 10) << "bytes written for ten small changes";
  EXPECT_EQ(host.stop(), 0);
  // And all of it is there after a restart.
  host.start();
  Env again = host.join("Lead");
  EXPECT_EQ(host.result(again, {{"command", "note"}, {"sub", "read"}, {"name", "big7"}})["content"],
            std::string(1 << 20, 'h'));
  EXPECT_EQ(host.result(again, {{"command", "note"}, {"sub", "read"}, {"name", "small"}})["content"], "9");
}

TEST(HostState, NotesFilesOfACrashGoAndAMissingOneStopsTheStart) {
  HostProcess host;
  host.start();
  Env lead = host.join("Lead");
  host.result(lead, {{"command", "note"}, {"sub", "create"}, {"name", "N"}, {"content", "kept"}});
  ASSERT_EQ(host.stop(), 0);
  // A save cut short by a crash leaves a note's file that nothing names.
  std::string notes = host.state_path() + ".notes";
  std::vector<std::string> named = dir_entries(notes);
  std::ofstream(notes + "/99") << "half";
  std::ofstream(notes + "/other") << "not ours";
  host.start();
  EXPECT_EQ(dir_entries(notes), (std::vector<std::string>{named[0], "other"}));
  Env again = host.join("Lead");
  EXPECT_EQ(host.result(again, {{"command", "note"}, {"sub", "read"}, {"name", "N"}})["content"], "kept");
  ASSERT_EQ(host.stop(), 0);

  std::string saved = read_file(host.state_path());
  std::filesystem::remove(notes + "/" + named[0]);
  RunResult r = run_host({"serve", "--socket", host.socket_path(), "--state", host.state_path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("welkmora-host: state file " + host.state_path() + " is corrupt (note N: cannot read " + notes +
                            "/" + named[0] + ": ",
                        0),
            0u)
      << r.err;
  EXPECT_EQ(read_file(host.state_path()), saved);
}

TEST(HostState, CorruptFileStopsTheStartAndIsKept) {
  HostProcess host;
  struct Case {
    const char* text;
    const char* why;
  } cases[] = {
      {"{\"version\":1,\"notes\":[", "not valid JSON: EOF while parsing a value at line 1 column 22"},
      {"[]", "not a JSON object"},
      {"{\"notes\":[],\"roles\":[],\"ropes\":[]}", "unknown \"version\" (this host reads version 1)"},
      {"{\"version\":1,\"notes\":{},\"roles\":[],\"ropes\":[]}", "\"notes\" is not an array"},
      {"{\"version\":1,\"notes\":[{\"name\":\"A\",\"content\":\"x\"},{\"name\":\"A\",\"content\":\"y\"}],"
       "\"roles\":[],\"ropes\":[]}",
       "\"notes\" names A twice"},
      {"{\"version\":1,\"notes\":[],\"roles\":[{\"name\":\"R\"}],\"ropes\":[]}",
       "an entry lacks the string \"prompt\""},
      {"{\"version\":1,\"notes\":[],\"roles\":[],\"ropes\":[[{\"kind\":\"terminal\",\"name\":\"A\"},"
       "{\"kind\":\"terminal\",\"name\":\"B\"}]]}",
       "a rope has no note at either end"},
      {"{\"version\":1,\"notes\":[{\"name\":\"\xff\",\"content\":\"\"}],\"roles\":[],\"ropes\":[]}", nullptr},
  };
  for (const Case& c : cases) {
    { std::ofstream(host.state_path(), std::ios::binary) << c.text; }
    RunResult r = run_host({"serve", "--socket", host.socket_path(), "--state", host.state_path()});
    EXPECT_EQ(r.status, 1) << c.text;
    std::string start = "welkmora-host: state file " + host.state_path() + " is corrupt (";
    EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
    if (c.why != nullptr) {
      EXPECT_EQ(r.err, start + c.why + "); it is left untouched: repair it or move it away\n");
    }
    EXPECT_EQ(read_file(host.state_path()), c.text);
    EXPECT_FALSE(std::filesystem::exists(host.socket_path()));
  }
}

TEST(HostState, UnwritableStateUndoesTheChange) {
  HostProcess host;
  std::string dir = host.dir() + "/state";
  std::filesystem::create_directory(dir);
  host.start({"--state", dir + "/state.json"});
  Env lead = host.join("Lead");
  ASSERT_TRUE(printed(host.client(lead, {"note", "create", "Kept", "k"}), "Notiz angelegt: Kept\n"));
  // Taking the directory away fails the next save, also for root, whom
  // permissions would not stop.
  std::filesystem::remove_all(dir);
  RunResult lost = host.client(lead, {"note", "create", "Lost", "x"});
  EXPECT_EQ(lost.err.rfind(
                "welkmora: cannot write the state file, change undone: cannot create " + dir + "/state.json.notes", 0),
            0u)
      << lost.err;
  EXPECT_EQ(lost.out, "");
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(host.result(lead, {{"command", "note"}, {"sub", "list"}}),
            Json::parse(R"({"notes":[{"name":"Kept","connected":true}]})"));
  EXPECT_TRUE(printed(host.client(lead, {"note", "read", "Kept"}), "k\n"));
  EXPECT_EQ(host.stop(), 0);
}

TEST(HostState, AWriteThatFailsMidwayUndoesTheChangeAndKeepsTheOldFile) {
  HostProcess host;
  host.start();
  Env lead = host.join("Lead");
  ASSERT_TRUE(printed(host.client(lead, {"note", "create", "Kept", "k"}), "Notiz angelegt: Kept\n"));
  // A file size limit the state file fits in, but not with a large note:
  // the write stops partway through.
  rlimit old{};
  ASSERT_EQ(::prlimit(host.pid(), RLIMIT_FSIZE, nullptr, &old), 0);
  rlimit small{8192, old.rlim_max};
  ASSERT_EQ(::prlimit(host.pid(), RLIMIT_FSIZE, &small, nullptr), 0);
  RunResult lost = host.client(lead, {"note", "create", "Big", std::string(64 << 10, 'x')});
  EXPECT_EQ(lost.err.rfind("welkmora: cannot write the state file, change undone: cannot write ", 0), 0u) << lost.err;
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(host.result(lead, {{"command", "note"}, {"sub", "list"}}),
            Json::parse(R"({"notes":[{"name":"Kept","connected":true}]})"));
  ASSERT_EQ(::prlimit(host.pid(), RLIMIT_FSIZE, &old, nullptr), 0);
  EXPECT_EQ(host.stop(), 0) << host.error_output();
  // The old file is in place, whole, with no temporary left beside it.
  for (const std::string& name : dir_entries(host.dir())) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
  auto kept = host::StateFile(host.state_path()).load();
  ASSERT_TRUE(kept.ok()) << kept.failure().text;
  ASSERT_EQ(kept->notes.size(), 1u);
  EXPECT_EQ(kept->notes.at("Kept"), "k");
}

TEST(HostState, PlacesOnThePageAreKeptAndOlderFilesLoad) {
  HostProcess host;  // for its private directory
  host::StateFile file(host.state_path());
  host::Snapshot state;
  state.notes["Plan"] = "x";
  state.layout[host::Item::note("Plan")] = {-10, 20, 300, 200};
  state.layout[host::Item::terminal("Worker")] = {1000, 0, 120, 40};
  host::Canvas canvas;
  canvas.restore(state);
  ASSERT_TRUE(file.save(canvas).ok());
  EXPECT_EQ(*file.load(), state);

  // A file of a host before the page has no places, and loads.
  std::ofstream(host.state_path()) << R"({"version":1,"notes":[{"name":"A","content":"a"}],"roles":[],"ropes":[]})";
  host::Snapshot older = *file.load();
  EXPECT_EQ(older.notes.at("A"), "a");
  EXPECT_TRUE(older.layout.empty());
  std::ofstream(host.state_path()) << R"({"version":1,"notes":[],"roles":[],"ropes":[],"layout":[{"kind":"note"}]})";
  EXPECT_FALSE(file.load().ok());
}

TEST(HostState, OneHostPerStateFileAndNoLeftoverTemporaries) {
  HostProcess host;
  // What a host killed in the middle of saves leaves behind.
  for (const char* name : {"state.json.tmp-a1B2c3", "state.json.tmp-XyZ789"})
    std::ofstream(host.dir() + "/" + name) << "{";
  std::ofstream(host.dir() + "/other.tmp-a1B2c3") << "not ours";
  host.start();
  EXPECT_FALSE(std::filesystem::exists(host.dir() + "/state.json.tmp-a1B2c3"));
  EXPECT_FALSE(std::filesystem::exists(host.dir() + "/state.json.tmp-XyZ789"));
  EXPECT_TRUE(std::filesystem::exists(host.dir() + "/other.tmp-a1B2c3"));

  RunResult second = run_host({"serve", "--socket", host.dir() + "/second.sock", "--state", host.state_path()});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "welkmora-host: another host uses the state file " + host.state_path() + " (process " +
                            std::to_string(host.pid()) + ")\n");
  EXPECT_FALSE(std::filesystem::exists(host.dir() + "/second.sock"));
  EXPECT_EQ(host.stop(), 0);
  // Once the first has stopped, the file is free and its lock file gone; a
  // lock file a killed host left is taken over.
  const std::string lock = host.state_path() + ".lock";
  EXPECT_FALSE(std::filesystem::exists(lock));
  std::ofstream(lock) << "999999\n";
  host.start();
  std::ifstream holder(lock);
  pid_t pid = 0;
  holder >> pid;
  EXPECT_EQ(pid, host.pid());
  EXPECT_EQ(host.stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(lock));
}

TEST(HostState, OnlyRegularFilesAndLinksAreFollowed) {
  HostProcess host;
  std::string fifo = host.dir() + "/fifo.json", dir = host.dir() + "/dir.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir);
  for (const std::string& path : {fifo, dir}) {
    RunResult r = run_host({"serve", "--socket", host.socket_path(), "--state", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "welkmora-host: state file " + path + " is not a regular file\n");
  }
  std::string dangling = host.dir() + "/dangling.json";
  std::filesystem::create_symlink(host.dir() + "/nowhere/state.json", dangling);
  RunResult r = run_host({"serve", "--socket", host.socket_path(), "--state", dangling});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("welkmora-host: state file " + dangling + " is a symbolic link to nothing: ", 0), 0u) << r.err;

  // A link is followed: its target is read and rewritten, the link stays.
  std::filesystem::create_directory(host.dir() + "/real");
  std::string target = host.dir() + "/real/state.json";
  std::ofstream(target) << R"({"version":1,"notes":[{"name":"Old","content":"o"}],"roles":[],"ropes":[]})";
  std::filesystem::create_symlink(target, host.state_path());
  host.start();
  Env lead = host.join("Lead");
  ASSERT_TRUE(printed(host.client(lead, {"note", "create", "New", "n"}), "Notiz angelegt: New\n"));
  EXPECT_TRUE(std::filesystem::is_symlink(host.state_path()));
  EXPECT_EQ(saved_notes(target), Json({{"New", "n"}, {"Old", "o"}}));
  EXPECT_EQ(host.stop(), 0);
}
