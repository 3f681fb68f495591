// The canvas model on its own: ropes, the access rules, names, and what a
// snapshot keeps.

#include "model/canvas.h"

#include <gtest/gtest.h>

#include <chrono>

#include "base/refusal.h"
#include "results.h"

using namespace host;
using harness::ok;
using harness::refusal_of;

namespace {

class HostCanvas : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"Lead", "A", "B", "Stranger"})
      canvas.add_terminal({name, std::string("tok-") + name, false, ""});
    canvas.rope(Item::terminal("Lead"), Item::terminal("A"));
    canvas.rope(Item::terminal("Lead"), Item::terminal("B"));
  }
  Canvas canvas;
};

}  // namespace

TEST_F(HostCanvas, PeersAreTheRopedTerminals) {
  EXPECT_EQ(canvas.peers("Lead"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(canvas.peers("A"), (std::vector<std::string>{"Lead"}));
  EXPECT_TRUE(canvas.peers("Stranger").empty());
  EXPECT_EQ(ok(canvas.peer("Lead", "A")).name, "A");
  EXPECT_EQ(refusal_of([&] { return canvas.peer("A", "B"); }), "no such peer: B");
  EXPECT_EQ(refusal_of([&] { return canvas.peer("Lead", "Lead"); }), "no such peer: Lead");
  EXPECT_TRUE(canvas.authenticate("A", "tok-A"));
  EXPECT_FALSE(canvas.authenticate("A", "tok-B"));
  EXPECT_FALSE(canvas.authenticate("A", "tok-"));
  EXPECT_FALSE(canvas.authenticate("Nobody", ""));
}

TEST_F(HostCanvas, ConnectStaysWithinReach) {
  EXPECT_TRUE(ok(canvas.connect("Lead", "A", "B")));
  EXPECT_FALSE(ok(canvas.connect("Lead", "B", "A")));
  EXPECT_EQ(canvas.peers("A"), (std::vector<std::string>{"B", "Lead"}));
  EXPECT_EQ(refusal_of([&] { return canvas.connect("A", "A", "Stranger"); }), "no such item: Stranger");
  EXPECT_EQ(refusal_of([&] { return canvas.connect("Stranger", "Stranger", "Lead"); }), "no such item: Lead");
  EXPECT_EQ(refusal_of([&] { return canvas.connect("Lead", "Lead", "Lead"); }), "cannot rope an item to itself: Lead");
  EXPECT_TRUE(canvas.peers("Stranger").empty());
}

TEST_F(HostCanvas, TerminalsAndNotesShareOneNamespace) {
  EXPECT_EQ(refusal_of([&] { return canvas.create_note("Stranger", "A", ""); }), "name taken by a terminal: A");
  ok(canvas.create_note("Lead", "board", ""));
  EXPECT_EQ(canvas.free_terminal_name("board"), "board-2");
  // Generated names pass over terminals too.
  canvas.add_terminal({"note-1", "t", false, ""});
  EXPECT_EQ(ok(canvas.create_note("Lead", std::nullopt, "")), "note-2");
  EXPECT_TRUE(ok(canvas.connect("Lead", "board", "A")));
  EXPECT_TRUE(canvas.roped(Item::terminal("A"), Item::note("board")));
}

TEST_F(HostCanvas, NotesRopedToNobodyLieFree) {
  ok(canvas.create_note("A", "Kept", "k"));
  ok(canvas.create_note("B", "Mine", "m"));
  canvas.remove_terminal("A");  // Kept's last rope goes with A
  EXPECT_EQ(refusal_of([&] { return canvas.note("Stranger", "Kept"); }), "note not roped to you: Kept");
  EXPECT_TRUE(ok(canvas.connect("Stranger", "Stranger", "Kept")));
  EXPECT_EQ(ok(canvas.note("Stranger", "Kept")), "k");
  // A note roped to a terminal is out of reach, the person's too.
  canvas.add_terminal({"Person", "t", true, "", true});
  for (const char* caller : {"Stranger", "Person"}) {
    EXPECT_EQ(refusal_of([&] { return canvas.connect(caller, caller, "Mine"); }), "note not roped to you: Mine");
  }
  // A shell that leaves keeps its note ropes by name, as over a restart;
  // while it is gone, only the person may take its notes.
  canvas.forget_terminal("B");
  EXPECT_TRUE(canvas.roped(Item::terminal("B"), Item::note("Mine")));
  EXPECT_EQ(refusal_of([&] { return canvas.connect("Stranger", "Stranger", "Mine"); }), "note not roped to you: Mine");
  EXPECT_TRUE(ok(canvas.connect("Person", "Mine", "Person")));
  EXPECT_EQ(ok(canvas.note("Person", "Mine")), "m");
}

TEST_F(HostCanvas, NotesAreReachedThroughRopes) {
  EXPECT_EQ(ok(canvas.create_note("A", std::nullopt, "x")), "note-1");
  EXPECT_EQ(ok(canvas.note("A", "note-1")), "x");
  EXPECT_EQ(refusal_of([&] { return canvas.note("Lead", "note-1"); }), "note not roped to you: note-1");
  EXPECT_EQ(refusal_of([&] { return canvas.note("Lead", "nope"); }), "no such note: nope");
  std::vector<NoteListing> seen = canvas.notes_for("Lead");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(seen[0].connected);
  // A introduces its note to Lead, its peer.
  ok(canvas.connect("A", "note-1", "Lead"));
  ok(canvas.edit_note("Lead", "note-1", "x", "y"));
  EXPECT_EQ(ok(canvas.note("A", "note-1")), "y");
  EXPECT_TRUE(canvas.notes_for("Lead")[0].connected);
  ok(canvas.delete_note("Lead", "note-1"));
  EXPECT_TRUE(canvas.notes_for("A").empty());
  ok(canvas.create_note("Stranger", "note-1", ""));
  EXPECT_EQ(refusal_of([&] { return canvas.note("A", "note-1"); }), "note not roped to you: note-1");
}

TEST_F(HostCanvas, RemovingATerminalCutsItsRopes) {
  ok(canvas.create_note("A", "N", ""));
  canvas.remove_terminal("A");
  EXPECT_EQ(canvas.peers("Lead"), (std::vector<std::string>{"B"}));
  EXPECT_FALSE(canvas.roped(Item::terminal("A"), Item::note("N")));
  EXPECT_EQ(canvas.free_terminal_name("A"), "A");
  canvas.add_terminal({"A", "new", false, ""});
  EXPECT_TRUE(canvas.peers("A").empty());
}

TEST_F(HostCanvas, FreeNamesTakeASuffix) {
  EXPECT_EQ(canvas.free_terminal_name("Dev"), "Dev");
  EXPECT_EQ(canvas.free_terminal_name("A"), "A-2");
  canvas.add_terminal({"A-2", "t", false, ""});
  EXPECT_EQ(canvas.free_terminal_name("A"), "A-3");
  EXPECT_EQ(refusal_of([] { return check_name("name", ""); }), "name must not be empty");
  EXPECT_EQ(refusal_of([] { return check_name("name", "a\tb"); }), "name must not contain control characters");
  EXPECT_EQ(refusal_of([] { return check_name("name", "a\x7f"); }), "name must not contain control characters");
  EXPECT_EQ(refusal_of([] { return check_name("name", std::string(257, 'x')); }), "name is longer than 256 bytes");
  EXPECT_EQ(refusal_of([] { return check_name("name", "Ümlaut — ok"); }), "<accepted>");
  // C1 controls a terminal would act on, and text that reads otherwise
  // than it is ("A\u202Eevil" shows as "Alive").
  EXPECT_EQ(refusal_of([] { return check_name("name", "a\u009b31m"); }), "name must not contain control characters");
  EXPECT_EQ(refusal_of([] { return check_name("name", "A\u202Eevil"); }),
            "name must not contain bidirectional controls");
  EXPECT_EQ(refusal_of([] { return check_name("name", "x\u2067y"); }), "name must not contain bidirectional controls");

  // A suffix never takes a name past the limit, nor cuts a character in two.
  std::string longest = std::string(253, 'x') + "ü";
  canvas.add_terminal({longest, "t", false, ""});
  std::string second = canvas.free_terminal_name(longest);
  EXPECT_EQ(second, std::string(253, 'x') + "-2");
  EXPECT_EQ(refusal_of([&] { return check_name("name", second); }), "<accepted>");

  // Thousands of the same name cost little each, and a freed suffix is
  // given out again first.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) canvas.add_terminal({canvas.free_terminal_name("Lead"), "t", true, ""});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(canvas.free_terminal_name("Lead"), "Lead-20002");
  canvas.remove_terminal("Lead-7");
  EXPECT_EQ(canvas.free_terminal_name("Lead"), "Lead-7");
}

TEST_F(HostCanvas, NotesHaveASizeAndATotalLimit) {
  std::string mib(kMaxNoteBytes, 'x');
  EXPECT_EQ(refusal_of([&] { return canvas.create_note("A", "big", mib + "x"); }),
            "note too large: 1048577 bytes, at most 1048576 (1 MiB)");
  for (int i = 0; i < 63; ++i) ok(canvas.create_note("A", "n" + std::to_string(i), mib));
  ok(canvas.create_note("A", "half", std::string(kMaxNoteBytes / 2, 'x')));
  ok(canvas.create_note("A", "last", std::string(kMaxNoteBytes / 2 - 10, 'x')));
  EXPECT_EQ(refusal_of([&] { return canvas.create_note("A", "more", std::string(11, 'x')); }),
            "notes full: all notes together hold at most 67108864 bytes (64 MiB)");
  EXPECT_EQ(refusal_of([&] { return canvas.edit_note("A", "last", "xx", "xxxxxxxxxxxxx"); }),
            "notes full: all notes together hold at most 67108864 bytes (64 MiB)");
  // What replaces a note counts without the text it replaces.
  ok(canvas.write_note("A", "n0", mib));
  ok(canvas.delete_note("A", "n1"));
  EXPECT_EQ(refusal_of([&] { return canvas.create_note("A", "again", mib); }), "<accepted>");
}

TEST_F(HostCanvas, SnapshotKeepsNoteRopesByName) {
  ok(canvas.create_note("Lead", "Plan", "p"));
  ok(canvas.connect("Lead", "Plan", "A"));
  ok(canvas.create_role("Dev", "code"));
  Snapshot saved = canvas.snapshot();
  EXPECT_EQ(saved.ropes.size(), 2u);  // the two note ropes, not those between terminals
  for (const Rope& rope : saved.ropes) EXPECT_TRUE(rope.has_note());

  // A fresh canvas: the ropes wait for terminals of those names.
  Canvas restarted;
  restarted.restore(saved);
  restarted.add_terminal({"A", "t", true, ""});
  restarted.add_terminal({"B", "t", true, ""});
  EXPECT_EQ(ok(restarted.note("A", "Plan")), "p");
  EXPECT_EQ(refusal_of([&] { return restarted.note("B", "Plan"); }), "note not roped to you: Plan");
  EXPECT_EQ(ok(restarted.role("Dev")), "code");

  // Restoring leaves the ropes between terminals alone.
  ok(canvas.delete_note("Lead", "Plan"));
  canvas.restore(saved);
  EXPECT_EQ(canvas.peers("Lead"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ok(canvas.note("A", "Plan")), "p");
  EXPECT_EQ(canvas.snapshot(), saved);
}

TEST_F(HostCanvas, Roles) {
  ok(canvas.create_role("Dev", "a b a"));
  EXPECT_EQ(refusal_of([&] { return canvas.create_role("Dev", ""); }), "role already exists: Dev");
  ok(canvas.edit_role("Dev", "a", "c"));
  EXPECT_EQ(ok(canvas.role("Dev")), "c b a");
  EXPECT_EQ(refusal_of([&] { return canvas.edit_role("Dev", "z", "y"); }), "text not found in role: Dev");
  EXPECT_EQ(refusal_of([&] { return canvas.assign_role("Lead", "Stranger", "Dev"); }), "no such peer: Stranger");
  ok(canvas.assign_role("Lead", "A", "Dev"));
  EXPECT_EQ(canvas.terminal("A")->role, "Dev");
  ok(canvas.assign_role("Lead", "A", std::nullopt));
  EXPECT_EQ(canvas.terminal("A")->role, "");
  ok(canvas.delete_role("Dev"));
  EXPECT_TRUE(canvas.role_names().empty());
  EXPECT_EQ(refusal_of([&] { return canvas.assign_role("Lead", "A", "Dev"); }), "no such role: Dev");
}

TEST_F(HostCanvas, AChangeIsUndoneStepByStep) {
  ok(canvas.create_note("Lead", "Plan", "p"));
  ok(canvas.create_note("A", "Gone", "g"));
  ok(canvas.create_role("Dev", "code"));
  ok(canvas.assign_role("Lead", "A", "Dev"));
  canvas.set_box(Item::note("Gone"), {1, 2, 3, 4});
  canvas.set_box(Item::terminal("B"), {5, 6, 7, 8});
  Snapshot before = canvas.snapshot();
  {
    Canvas::Change change(canvas);
    ok(canvas.connect("Lead", "A", "B"));
    EXPECT_FALSE(change.kept_changed());  // ropes between terminals are not kept
    ok(canvas.write_note("Lead", "Plan", "new"));
    ok(canvas.edit_note("Lead", "Plan", "new", "newer"));
    ok(canvas.delete_note("A", "Gone"));
    ok(canvas.create_note("B", "Fresh", "f"));
    ok(canvas.write_role("Dev", "test"));
    ok(canvas.delete_role("Dev"));
    ok(canvas.create_role("Ops", "run"));
    canvas.remove_terminal("A");
    canvas.add_terminal({"C", "t", false, ""});
    // The person's own acts on the page.
    ok(canvas.add_note("Loose", "l"));
    ok(canvas.set_note("Plan", "by hand"));
    canvas.set_box(Item::terminal("B"), {0, 0, 80, 24});
    canvas.set_box(Item::note("Loose"), {9, 9, 9, 9});
    canvas.cut(Item::terminal("Lead"), Item::terminal("B"));
    ok(canvas.remove_note("Plan"));
    EXPECT_TRUE(change.kept_changed());
  }
  EXPECT_EQ(canvas.snapshot(), before);
  EXPECT_EQ(canvas.peers("Lead"), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(canvas.peers("B").size() == 1 && canvas.terminal("C") == nullptr);
  EXPECT_EQ(canvas.terminal("A")->role, "Dev");
  {
    Canvas::Change change(canvas);
    ok(canvas.write_note("Lead", "Plan", "kept"));
    change.keep();
  }
  EXPECT_EQ(ok(canvas.note("Lead", "Plan")), "kept");
}
