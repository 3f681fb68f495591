// The `note` family seen from outside: the request bytes of every
// subcommand, its usage and flag lines, content piped on standard input and
// the renderings of the reply.

#include <gtest/gtest.h>

#include <cerrno>

#include "exchange_checks.h"
#include "fake_app.h"
#include "os_error.h"
#include "replies.h"

using namespace harness;

namespace {

constexpr const char* kNoteUsage =
    "welkmora: usage: welkmora note list | create | read | write | edit | delete (see 'welkmora help')\n";
constexpr const char* kReadUsage = "welkmora: usage: welkmora note read \"Name\" [--offset N] [--limit M]\n";
constexpr const char* kWriteUsage = "welkmora: usage: welkmora note write \"Name\" \"content\"\n";
constexpr const char* kEditUsage = "welkmora: usage: welkmora note edit \"Name\" \"old\" \"new\"\n";
constexpr const char* kDeleteUsage = "welkmora: usage: welkmora note delete \"Name\"\n";
constexpr const char* kOffsetRefused = "welkmora: --offset requires a positive integer\n";
constexpr const char* kLimitRefused = "welkmora: --limit requires a positive integer\n";
constexpr const char* kBadUtf8 =
    "welkmora: failed to read note content from stdin: stream did not contain valid UTF-8\n";

Exchange run_note(FakeApp& app, const std::vector<std::string>& args, Stdin in,
                  const std::string& reply = ok_result(R"({"name":"N"})")) {
  RunOptions o;
  o.env = app.env();
  o.in = std::move(in);
  return app.exchange(args, Script::reply(reply), o);
}

}  // namespace

TEST(NoteSubcommand, MissingEmptyOrUnknownWordsPrintTheUsage) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"note"}, kNoteUsage},
      {{"note", ""}, kNoteUsage},
      {{"note", "", "list"}, kNoteUsage},
      {{"note", "show"}, std::string(kNoteUsage) + "welkmora: unknown note subcommand: show\n"},
      {{"note", "List"}, std::string(kNoteUsage) + "welkmora: unknown note subcommand: List\n"},
      {{"note", " list", "x"}, std::string(kNoteUsage) + "welkmora: unknown note subcommand:  list\n"},
      {{"note", "löschen"}, std::string(kNoteUsage) + "welkmora: unknown note subcommand: löschen\n"},
  };
  for (const Case& c : cases) expect_refused(run_note(app, c.args, Stdin::null()), c.err, describe(c.args));
}

TEST(NoteRequest, MembersOfEachSubcommand) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* request;
  } cases[] = {
      {{"note", "list", "extra", "--offset"}, R"({"command":"note","sub":"list","terminalId":"T1","token":"tok"})"},
      {{"note", "create"}, R"({"command":"note","sub":"create","terminalId":"T1","token":"tok"})"},
      {{"note", "create", "Plan"},
       R"({"command":"note","name":"Plan","sub":"create","terminalId":"T1","token":"tok"})"},
      {{"note", "create", "Plan", "a\nb\"c", "ignored"},
       R"({"command":"note","content":"a\nb\"c","name":"Plan","sub":"create","terminalId":"T1","token":"tok"})"},
      {{"note", "create", "", ""},
       R"({"command":"note","content":"","name":"","sub":"create","terminalId":"T1","token":"tok"})"},
      {{"note", "read", "Plan"}, R"({"command":"note","name":"Plan","sub":"read","terminalId":"T1","token":"tok"})"},
      {{"note", "read", ""}, R"({"command":"note","name":"","sub":"read","terminalId":"T1","token":"tok"})"},
      {{"note", "read", "Plan", "--offset", "0"},
       R"({"command":"note","name":"Plan","offset":0,"sub":"read","terminalId":"T1","token":"tok"})"},
      {{"note", "read", "Plan", "--limit", "3", "--offset", "12"},
       R"({"command":"note","limit":3,"name":"Plan","offset":12,"sub":"read","terminalId":"T1","token":"tok"})"},
      {{"note", "read", "Plan", "--limit", "5", "--limit", "9"},
       R"({"command":"note","limit":9,"name":"Plan","sub":"read","terminalId":"T1","token":"tok"})"},
      {{"note", "write", "Plan", ""},
       R"({"command":"note","content":"","name":"Plan","sub":"write","terminalId":"T1","token":"tok"})"},
      {{"note", "write", "Plan", "neu\n", "ignored"},
       R"({"command":"note","content":"neu\n","name":"Plan","sub":"write","terminalId":"T1","token":"tok"})"},
      {{"note", "edit", "Plan", "alt", "neu", "ignored"},
       R"({"command":"note","name":"Plan","new":"neu","old":"alt","sub":"edit","terminalId":"T1","token":"tok"})"},
      {{"note", "edit", "Plan", "", ""},
       R"({"command":"note","name":"Plan","new":"","old":"","sub":"edit","terminalId":"T1","token":"tok"})"},
      {{"note", "delete", "Plan", "ignored"},
       R"({"command":"note","name":"Plan","sub":"delete","terminalId":"T1","token":"tok"})"},
  };
  // /dev/null on standard input: not a terminal, and empty.
  for (const Case& c : cases) expect_sent(run_note(app, c.args, Stdin::null()), c.request, describe(c.args));
}

TEST(NoteRequest, ReadNumbersAreSentAsUnsignedIntegers) {
  FakeApp app;
  struct Case {
    const char* value;
    const char* sent;
  } cases[] = {
      {"0", "0"},
      {"+7", "7"},
      {"007", "7"},
      {"+000", "0"},
      {"18446744073709551615", "18446744073709551615"},
      {"0018446744073709551615", "18446744073709551615"},
  };
  for (const Case& c : cases) {
    const std::string sent = c.sent;
    Exchange offset = run_note(app, {"note", "read", "N", "--offset", c.value}, Stdin::null());
    EXPECT_EQ(offset.request, R"({"command":"note","name":"N","offset":)" + sent +
                                  R"(,"sub":"read","terminalId":"T1","token":"tok"})"
                                  "\n")
        << c.value;
    EXPECT_EQ(offset.run.status, 0);
    Exchange limit = run_note(app, {"note", "read", "N", "--limit", c.value}, Stdin::null());
    EXPECT_EQ(limit.request, R"({"command":"note","limit":)" + sent +
                                 R"(,"name":"N","sub":"read","terminalId":"T1","token":"tok"})"
                                 "\n")
        << c.value;
    EXPECT_EQ(limit.run.status, 0);
  }
}

TEST(NoteUsage, ArgumentAndFlagErrorsSendNothing) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"note", "read"}, kReadUsage},
      {{"note", "read", "N", "stray"}, "welkmora: unknown note read flag: stray\n"},
      {{"note", "read", "N", "--offset", "1", "stray"}, "welkmora: unknown note read flag: stray\n"},
      {{"note", "read", "N", "--offset", "1", "stray", "2"}, "welkmora: unknown note read flag: stray\n"},
      {{"note", "read", "N", "--offset=5"}, "welkmora: unknown note read flag: --offset=5\n"},
      {{"note", "read", "N", "--Offset", "5"}, "welkmora: unknown note read flag: --Offset\n"},
      {{"note", "read", "N", "-offset", "5"}, "welkmora: unknown note read flag: -offset\n"},
      {{"note", "read", "N", ""}, "welkmora: unknown note read flag: \n"},
      {{"note", "read", "N", "--offset"}, kOffsetRefused},
      {{"note", "read", "N", "--limit"}, kLimitRefused},
      {{"note", "read", "N", "--limit", "5", "--offset"}, kOffsetRefused},
      {{"note", "read", "N", "--offset", "x", "--limit", "y"}, kOffsetRefused},
      {{"note", "read", "N", "--limit", "5", "--offset", "-1"}, kOffsetRefused},
      {{"note", "write"}, kWriteUsage},
      {{"note", "write", "N"}, kWriteUsage},  // standard input is /dev/null: empty
      {{"note", "edit"}, kEditUsage},
      {{"note", "edit", "N"}, kEditUsage},
      {{"note", "edit", "N", "alt"}, kEditUsage},
      {{"note", "delete"}, kDeleteUsage},
  };
  for (const Case& c : cases) expect_refused(run_note(app, c.args, Stdin::null()), c.err, describe(c.args));
}

TEST(NoteUsage, RejectedNumbersNameTheirFlag) {
  FakeApp app;
  for (std::string value : {"-1", "1.5", " 1", "1 ", "", "+", "-", "++1", "+-1", "-0", "18446744073709551616",
                            "99999999999999999999", "0x10", "1e3", "1_000", "١", "５"}) {
    expect_refused(run_note(app, {"note", "read", "N", "--offset", value}, Stdin::null()), kOffsetRefused,
                   "--offset [" + value + "]");
    expect_refused(run_note(app, {"note", "read", "N", "--limit", value}, Stdin::null()), kLimitRefused,
                   "--limit [" + value + "]");
  }
}

TEST(NoteStdin, ContentComesFromAPipeOnlyWhenNotGiven) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    Stdin in;
    const char* request;
    const char* out;
  } cases[] = {
      // A terminal is never read: nothing is waited for.
      {{"note", "create"},
       Stdin::terminal(),
       R"({"command":"note","sub":"create","terminalId":"T1","token":"tok"})",
       "Notiz angelegt: N\n"},
      {{"note", "create", "Plan"},
       Stdin::terminal(),
       R"({"command":"note","name":"Plan","sub":"create","terminalId":"T1","token":"tok"})",
       "Notiz angelegt: N\n"},
      {{"note", "create"},
       Stdin::bytes(""),
       R"({"command":"note","sub":"create","terminalId":"T1","token":"tok"})",
       "Notiz angelegt: N\n"},
      {{"note", "create", "Plan"},
       Stdin::bytes("eins\nzwei\n"),
       R"({"command":"note","content":"eins\nzwei\n","name":"Plan","sub":"create","terminalId":"T1","token":"tok"})",
       "Notiz angelegt: N\n"},
      {{"note", "create"},
       Stdin::bytes(" \n"),
       R"({"command":"note","content":" \n","sub":"create","terminalId":"T1","token":"tok"})",
       "Notiz angelegt: N\n"},
      {{"note", "create", "Plan", "Wort"},
       Stdin::bytes("aus der Pipe\n"),
       R"({"command":"note","content":"Wort","name":"Plan","sub":"create","terminalId":"T1","token":"tok"})",
       "Notiz angelegt: N\n"},
      {{"note", "write", "Plan"},
       Stdin::bytes("Zeile 1\n\tZeile \"2\" ü\n"),
       R"({"command":"note","content":"Zeile 1\n\tZeile \"2\" ü\n","name":"Plan","sub":"write","terminalId":"T1","token":"tok"})",
       "Notiz aktualisiert: N\n"},
      {{"note", "write", "Plan", ""},
       Stdin::bytes("aus der Pipe"),
       R"({"command":"note","content":"","name":"Plan","sub":"write","terminalId":"T1","token":"tok"})",
       "Notiz aktualisiert: N\n"},
      {{"note", "write", "Plan"},
       Stdin::bytes("\n"),
       R"({"command":"note","content":"\n","name":"Plan","sub":"write","terminalId":"T1","token":"tok"})",
       "Notiz aktualisiert: N\n"},
  };
  for (Case& c : cases) {
    Exchange x = run_note(app, c.args, c.in);
    expect_sent(x, c.request, describe(c.args));
    EXPECT_EQ(x.run.out, c.out) << describe(c.args);
  }
}

TEST(NoteStdin, WriteWithoutContentIsAUsageError) {
  FakeApp app;
  // A terminal would never end, so a client that read it would be killed by
  // the harness after a minute instead of exiting with status 1.
  expect_refused(run_note(app, {"note", "write", "Plan"}, Stdin::terminal()), kWriteUsage, "terminal");
  expect_refused(run_note(app, {"note", "write", "Plan"}, Stdin::bytes("")), kWriteUsage, "empty pipe");
  expect_refused(run_note(app, {"note", "write", "Plan"}, Stdin::null()), kWriteUsage, "/dev/null");
}

TEST(NoteStdin, UnreadableOrNonUtf8InputFails) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    Stdin in;
    std::string err;
  } cases[] = {
      {{"note", "create"}, Stdin::bytes("\xff"), kBadUtf8},
      {{"note", "create", "Plan"}, Stdin::bytes("gut\n\xc3"), kBadUtf8},
      {{"note", "write", "Plan"}, Stdin::bytes("\xed\xa0\x80"), kBadUtf8},
      {{"note", "write", "Plan"}, Stdin::bytes(std::string(100000, 'a') + "\xc0\xaf"), kBadUtf8},
      {{"note", "create"},
       Stdin::closed(),
       "welkmora: failed to read note content from stdin: " + os::error_text(EBADF) + "\n"},
  };
  for (Case& c : cases) expect_refused(run_note(app, c.args, c.in), c.err, describe(c.args));
}

TEST(NoteStdin, ManyMebibytesAreSentWhole) {
  FakeApp app;
  const std::string line = "Zeile ü \"x\" \\ 0123456789abcdefghijklmnopqrstuvwxyz\n";
  const std::string escaped = "Zeile ü \\\"x\\\" \\\\ 0123456789abcdefghijklmnopqrstuvwxyz\\n";
  std::string content, expected_content;
  while (content.size() < 9u * 1024 * 1024) {
    content += line;
    expected_content += escaped;
  }
  Exchange x = run_note(app, {"note", "write", "Gross"}, Stdin::bytes(content));
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);
  const std::string expected = R"({"command":"note","content":")" + expected_content +
                               R"(","name":"Gross","sub":"write","terminalId":"T1","token":"tok"})"
                               "\n";
  EXPECT_EQ(x.request.size(), expected.size());
  EXPECT_TRUE(x.request == expected) << "the request differs from the piped content";
}

TEST(NoteRender, LenientReadingOfTheResult) {
  FakeApp app;
  struct Case {
    std::vector<std::string> args;
    const char* result;
    const char* out;
  } cases[] = {
      {{"note", "list"}, R"({"notes":[{"name":"Plan"},{"name":"Ideen"}]})", "Notizen:\n  - Plan\n  - Ideen\n"},
      {{"note", "list"},
       R"({"notes":[{"name":5},"Plan",{},null,{"name":"ok"}]})",
       "Notizen:\n  - ?\n  - ?\n  - ?\n  - ?\n  - ok\n"},
      {{"note", "list"}, R"({"notes":[]})", "Keine Notizen vorhanden.\n"},
      {{"note", "list"}, R"({"notes":{"name":"Plan"}})", "Keine Notizen vorhanden.\n"},
      {{"note", "list"}, R"({})", "Keine Notizen vorhanden.\n"},
      {{"note", "list"}, "null", "Keine Notizen vorhanden.\n"},
      {{"note", "read", "N"}, R"({"content":"abc"})", "abc\n"},
      {{"note", "read", "N"}, R"({"content":"abc\n"})", "abc\n"},
      {{"note", "read", "N"}, R"({"content":"a\n\n"})", "a\n\n"},
      {{"note", "read", "N"}, R"({"content":"\n"})", "\n"},
      {{"note", "read", "N"}, R"({"content":"  "})", "  \n"},
      {{"note", "read", "N"}, R"({"content":""})", "(leere Notiz)\n"},
      {{"note", "read", "N"}, R"({"content":7})", "(leere Notiz)\n"},
      {{"note", "read", "N"}, R"({})", "(leere Notiz)\n"},
      {{"note", "read", "N"}, "[]", "(leere Notiz)\n"},
      {{"note", "create", "Getippt"}, R"({"name":"Vom App"})", "Notiz angelegt: Vom App\n"},
      {{"note", "create"}, R"({"name":5})", "Notiz angelegt: ?\n"},
      {{"note", "create"}, "null", "Notiz angelegt: ?\n"},
      {{"note", "write", "N", "x"}, R"({"name":"N"})", "Notiz aktualisiert: N\n"},
      {{"note", "write", "N", "x"}, R"({})", "Notiz aktualisiert: ?\n"},
      {{"note", "edit", "N", "a", "b"}, R"({"name":"N"})", "Notiz aktualisiert: N\n"},
      {{"note", "edit", "N", "a", "b"}, R"({"name":null})", "Notiz aktualisiert: ?\n"},
      {{"note", "delete", "N"}, R"({"name":"N"})", "Notiz gelöscht: N\n"},
      {{"note", "delete", "N"}, R"("N")", "Notiz gelöscht: ?\n"},
  };
  for (const Case& c : cases) {
    expect_printed(run_note(app, c.args, Stdin::null(), ok_result(c.result)), c.out, describe(c.args) + " " + c.result);
  }
}

TEST(NoteRender, AnAppRefusalPrintsNoConfirmation) {
  FakeApp app;
  Exchange x = run_note(app, {"note", "delete", "Plan"}, Stdin::null(),
                        R"({"ok":false,"error":"Notiz fehlt"})"
                        "\n");
  EXPECT_EQ(x.request, R"({"command":"note","name":"Plan","sub":"delete","terminalId":"T1","token":"tok"})"
                       "\n");
  EXPECT_EQ(x.run.out, "");
  EXPECT_EQ(x.run.err, "welkmora: Notiz fehlt\n");
  EXPECT_EQ(x.run.status, 1);
}

TEST(NoteRender, ControlsAreShownOnATerminalAndPassedExactlyElsewhere) {
  // What an agent wrote: a clipboard write, a window title, a query whose
  // answer would arrive as typed input, a carriage return that hides the
  // line before it, CSI as a C1 control; tab and line feed are text.
  FakeApp app;
  std::string reply =
      ok_result(R"({"content":"a\u001b]52;c;ZXZpbA==\u0007b\u001b]0;T\u0007c\u001b[6n\td\r\n\u009b1m"})");
  RunOptions o;
  o.env = app.env();
  o.stdout_mode = Stdout::kTerminal;
  Exchange shown = app.exchange({"note", "read", "N"}, Script::reply(reply), o);
  EXPECT_EQ(shown.run.out, "a\\x1b]52;c;ZXZpbA==\\x07b\\x1b]0;T\\x07c\\x1b[6n\td\\x0d\n\\xc2\\x9b1m\n");
  EXPECT_EQ(shown.run.status, 0);
  o.stdout_mode = Stdout::kPipe;
  Exchange piped = app.exchange({"note", "read", "N"}, Script::reply(reply), o);
  EXPECT_EQ(piped.run.out,
            "a\x1b]52;c;ZXZpbA==\x07"
            "b\x1b]0;T\x07"
            "c\x1b[6n\td\r\n\xc2\x9b"
            "1m\n");
}
