// The state file's text read in-process: what a whole file says, and the
// words of each refusal the person has to act on.

#include "store/state_text.h"

#include <gtest/gtest.h>

namespace {

TEST(StateText, AWholeFileSaysEverythingItHolds) {
  host::Read<host::StateText> read = host::parse_state(R"({"version":1,
    "notes":[{"name":"Plan","file":"7"},{"name":"Old","content":"kept inline"}],
    "roles":[{"name":"Reviewer","prompt":"Review."}],
    "ropes":[[{"kind":"terminal","name":"Ann"},{"kind":"note","name":"Plan"}]],
    "layout":[{"kind":"note","name":"Plan","x":-10,"y":20,"w":300,"h":200}]})");
  ASSERT_TRUE(read.ok()) << read.failure().why;
  EXPECT_EQ(read->note_files, (std::map<std::string, std::string, std::less<>>{{"Plan", "7"}}));
  host::Snapshot& state = read->state;
  EXPECT_EQ(state.notes.at("Old"), "kept inline");
  EXPECT_FALSE(state.notes.contains("Plan"));  // its text is in its file
  EXPECT_EQ(state.roles.at("Reviewer"), "Review.");
  EXPECT_EQ(state.ropes.size(), 1u);
  EXPECT_TRUE(state.ropes.begin()->has_note());
  EXPECT_EQ(state.layout.at(host::Item::note("Plan")), (host::Box{-10, 20, 300, 200}));
}

TEST(StateText, EachRefusalSaysWhatIsWrong) {
  const std::string head = R"({"version":1,"notes":[],"roles":[],)";
  struct Case {
    std::string text;
    const char* why;
  } cases[] = {
      {R"({"version":1,"notes":[{"name":"A","file":"../x"}],"roles":[],"ropes":[]})",
       "note A names the file \"../x\", which is none of the notes' files"},
      {R"({"version":1,"notes":[{"name":"A","file":""}],"roles":[],"ropes":[]})",
       "note A names the file \"\", which is none of the notes' files"},
      {R"({"version":1,"notes":[{"name":"A","file":"1"},{"name":"A","content":""}],"roles":[],"ropes":[]})",
       "\"notes\" names A twice"},
      {R"({"version":1,"notes":[],"roles":[{"name":"R","prompt":""},{"name":"R","prompt":""}],"ropes":[]})",
       "\"roles\" names R twice"},
      {head + R"("ropes":[[{"kind":"note","name":"N"}]]})", "a rope is not a pair of ends"},
      {head + R"("ropes":[[{"kind":"pipe","name":"N"},{"kind":"note","name":"N"}]]})",
       "a rope end has the unknown kind pipe"},
      {head + R"("ropes":[],"layout":[{"kind":"note","name":"N","x":0,"y":0,"w":1}]})",
       "a box lacks the integer \"h\""},
      {head + R"("ropes":[],"layout":[{"kind":"note","name":"N","x":2000000000,"y":0,"w":1,"h":1}]})",
       "a box's \"x\" is out of range"},
      {head + R"("ropes":[],"layout":[{"kind":"note","name":"N","x":0,"y":0,"w":1,"h":1},)"
              R"({"kind":"note","name":"N","x":5,"y":5,"w":1,"h":1}]})",
       "\"layout\" places an item twice"},
      {R"({"version":2,"notes":[],"roles":[],"ropes":[]})", "unknown \"version\" (this host reads version 1)"},
  };
  for (const Case& c : cases) {
    host::Read<host::StateText> read = host::parse_state(c.text);
    ASSERT_FALSE(read.ok()) << c.text;
    EXPECT_EQ(read.failure().why, c.why) << c.text;
  }
}

}  // namespace
