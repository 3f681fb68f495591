// `ask`: the single and batch forms on the wire, every refusal before
// sending, and the rendering of the peers' answers.

#include <gtest/gtest.h>

#include "exchange_checks.h"
#include "fake_app.h"
#include "replies.h"

using namespace harness;

namespace {

using namespace std::chrono_literals;

/// The request line an `ask --batch` with the given wire form of `batch` sends.
std::string batch_request(const std::string& batch) {
  return R"({"batch":)" + batch +
         R"(,"command":"ask","terminalId":"T1","token":"tok"})"
         "\n";
}

constexpr const char* kUsage = "welkmora: usage: welkmora ask \"Name\" \"prompt\"  |  welkmora ask --batch '{…}'\n";
constexpr const char* kBatchUsage = "welkmora: usage: welkmora ask --batch '{\"Name\":\"prompt\", …}'\n";
constexpr const char* kNotObject = "welkmora: --batch expects a JSON object {\"Name\":\"prompt\"}\n";
constexpr const char* kWarnDev =
    "⚠ 'Dev' wartet auf Eingabe (Turn nicht beendet — ggf. erneut `ask`, um zu antworten)\n";

/// Runs `args` and expects it refused with `err` before any connection.
void expect_refused(FakeApp& app, const std::vector<std::string>& args, const std::string& err) {
  harness::expect_refused(app.exchange(args, ok_result("null")), err, args.size() > 2 ? args[2] : "");
}

}  // namespace

TEST(AskSingle, SendsTargetAndPrompt) {
  FakeApp app;
  Exchange x = app.exchange({"ask", "Dev", "Wie weit?\n\"Tests\"", "ignored"}, ok_result(R"({"output":"fertig"})"));
  EXPECT_EQ(x.request,
            R"({"command":"ask","prompt":"Wie weit?\n\"Tests\"","target":"Dev","terminalId":"T1","token":"tok"})"
            "\n");
  EXPECT_EQ(x.run.out, "fertig\n");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);

  // Empty operands go out as they are; the app decides about them.
  Exchange empty = app.exchange({"ask", "", ""}, ok_result("null"));
  EXPECT_EQ(empty.request, R"({"command":"ask","prompt":"","target":"","terminalId":"T1","token":"tok"})"
                           "\n");
  EXPECT_EQ(empty.run.out, "(keine Ausgabe)\n");
  EXPECT_EQ(empty.run.status, 0);

  // Only the exact word selects the batch form.
  Exchange cased = app.exchange({"ask", "--Batch", "{}"}, ok_result("null"));
  EXPECT_EQ(cased.request, R"({"command":"ask","prompt":"{}","target":"--Batch","terminalId":"T1","token":"tok"})"
                           "\n");
}

TEST(AskSingle, AwaitingInputWarnsWithTheTarget) {
  FakeApp app;
  Exchange x =
      app.exchange({"ask", "Dev", "weiter"}, ok_result(R"({"output":"Overwrite? [y/N]","awaitingInput":true})"));
  EXPECT_EQ(x.run.out, "Overwrite? [y/N]\n");
  EXPECT_EQ(x.run.err, kWarnDev);
  EXPECT_EQ(x.run.status, 0);
}

TEST(AskSingle, RefusalAndFailedExchangeEndWithStatusOne) {
  FakeApp app;
  Exchange refused = app.exchange({"ask", "Nobody", "hi"}, R"({"ok":false,"error":"Nobody ist nicht verbunden"})"
                                                           "\n");
  EXPECT_EQ(refused.run.err, "welkmora: Nobody ist nicht verbunden\n");
  EXPECT_EQ(refused.run.out, "");
  EXPECT_EQ(refused.run.status, 1);

  RunOptions o;
  o.env = app.env();
  Script hang_up;
  hang_up.read_request = true;
  Exchange cut = app.exchange({"ask", "Dev", "hi"}, hang_up, o);
  EXPECT_EQ(cut.run.err, "welkmora: connection failed: bad response: EOF while parsing a value at line 1 column 0\n");
  EXPECT_EQ(cut.run.status, 1);
}

TEST(AskSingle, WaitsForASlowAnswer) {
  // No time limit of the client's own: the answer arrives in pieces, the
  // last well after the request.
  FakeApp app;
  RunOptions o;
  o.env = app.env();
  Script slow{{R"({"ok":true,)", R"("result":{"output":"spät"}})"
                                 "\n"},
              1500ms,
              true};
  Exchange x = app.exchange({"ask", "Dev", "hi"}, slow, o);
  EXPECT_EQ(x.run.out, "spät\n");
  EXPECT_EQ(x.run.status, 0);
}

TEST(AskUsage, EveryCheckInItsOrder) {
  FakeApp app;
  expect_refused(app, {"ask"}, kUsage);
  expect_refused(app, {"ask", "Dev"}, kUsage);
  expect_refused(app, {"ask", "--Batch"}, kUsage);
  expect_refused(app, {"ask", "--batch"}, kBatchUsage);
  // The JSON is judged before its type, and an argument check comes first.
  expect_refused(app, {"ask", "--batch", "[1"},
                 "welkmora: --batch needs valid JSON: EOF while parsing a list at line 1 column 2\n");
  expect_refused(app, {"ask", "--batch", "\xff"}, "welkmora: argument 3 is not valid UTF-8\n");
}

TEST(AskUsage, BatchOperandMustParse) {
  FakeApp app;
  const std::string prefix = "welkmora: --batch needs valid JSON: ";
  struct Case {
    const char* operand;
    const char* problem;
  } cases[] = {
      {R"({"A":"x"} extra)", "trailing characters at line 1 column 11"},
      {R"({"A":"x"}{})", "trailing characters at line 1 column 10"},
      {R"({"A":"x")", "EOF while parsing an object at line 1 column 8"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   \n", "EOF while parsing a value at line 2 column 0"},
      {"{\n  \"A\": \"x\",\n  \"B\": y\n}",
       "syntax error while parsing value - invalid literal; last read: '\"B\": y' at line 3 column 8"},
  };
  for (const Case& c : cases) expect_refused(app, {"ask", "--batch", c.operand}, prefix + c.problem + "\n");

  // Escapes that would put broken UTF-8 on the wire are refused by the
  // parser, not sent.
  for (const char* operand : {R"({"A":"\ud800"})", R"({"A":"\udc00x"})"}) {
    Exchange x = app.exchange({"ask", "--batch", operand}, ok_result("null"));
    EXPECT_EQ(x.run.err.rfind(prefix + "syntax error while parsing value - invalid string: surrogate", 0), 0u)
        << x.run.err;
    EXPECT_EQ(x.run.status, 1);
    EXPECT_EQ(x.run.signal, 0);
    EXPECT_FALSE(x.connected);
  }
}

TEST(AskUsage, ByteOrderMarkBeforeTheOperandIsRefused) {
  FakeApp app;
  expect_refused(app, {"ask", "--batch", "\xEF\xBB\xBF{\"A\":\"x\"}"},
                 "welkmora: --batch needs valid JSON: unexpected byte order mark at line 1 column 1\n");
}

TEST(AskUsage, BatchOperandMustBeAnObject) {
  FakeApp app;
  for (const char* operand : {"[]", R"(["A","x"])", R"("A")", "42", "-0.5", "true", "false", "null", " null "}) {
    expect_refused(app, {"ask", "--batch", operand}, kNotObject);
  }
}

TEST(AskUsage, NestingPastTheLimitIsRefusedWithoutACrash) {
  FakeApp app;
  const std::string prefix = "welkmora: --batch needs valid JSON: recursion limit exceeded at line 1 column ";
  auto nested = [](std::size_t levels) {
    std::string text;
    for (std::size_t i = 1; i < levels; ++i) text += R"({"a":)";
    text += "{}";
    for (std::size_t i = 1; i < levels; ++i) text += "}";
    return text;
  };
  // 128 levels: the last "{" stands at column 5 * 127 + 1.
  expect_refused(app, {"ask", "--batch", nested(128)}, prefix + "636\n");
  expect_refused(app, {"ask", "--batch", std::string(120000, '[')}, prefix + "128\n");

  Exchange deepest = app.exchange({"ask", "--batch", nested(127)}, ok_result(R"({"results":[]})"));
  EXPECT_EQ(deepest.request, batch_request(nested(127)));
  EXPECT_EQ(deepest.run.status, 0);
}

TEST(AskBatch, ObjectGoesOutInKeyOrderWithTheLastOfRepeatedNames) {
  FakeApp app;
  Exchange x = app.exchange({"ask", "--batch", R"( {"B":"b?","A":"erst","Ä":"ä?","A":"dann"} )", "ignored", "words"},
                            ok_result(R"({"results":[]})"));
  EXPECT_EQ(x.request, batch_request(R"({"A":"dann","B":"b?","Ä":"ä?"})"));
  EXPECT_EQ(x.run.out, "");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);
}

TEST(AskBatch, ValuesPassThroughWhateverTheirType) {
  FakeApp app;
  Exchange x =
      app.exchange({"ask", "--batch", R"({"N":7,"L":[true,null,-3],"O":{"z":"\u001b","a":"tab\there"},"S":"zeile\n"})"},
                   ok_result("null"));
  EXPECT_EQ(x.request, batch_request(R"({"L":[true,null,-3],"N":7,"O":{"a":"tab\there","z":"\u001b"},"S":"zeile\n"})"));
  EXPECT_EQ(x.run.status, 0);
}

TEST(AskBatch, EmptyObjectIsSent) {
  FakeApp app;
  Exchange x = app.exchange({"ask", "--batch", "{}"}, ok_result(R"({"results":[]})"));
  EXPECT_EQ(x.request, batch_request("{}"));
  EXPECT_EQ(x.run.out, "");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);
}

TEST(AskBatch, RendersEveryEntryInReplyOrder) {
  FakeApp app;
  Exchange x = app.exchange({"ask", "--batch", R"({"A":"a?","B":"b?","C":"c?"})"},
                            ok_result(R"({"results":[)"
                                      R"({"name":"C","error":"C antwortet nicht","awaitingInput":true},)"
                                      R"({"name":"A","output":"Antwort A\n"},)"
                                      R"({"name":"B","output":"Weiter? [y/N]","awaitingInput":true}]})"));
  EXPECT_EQ(x.run.out,
            "=== C (Fehler) ===\nC antwortet nicht\n\n"
            "=== A ===\nAntwort A\n\n\n"
            "=== B (⚠ wartet auf Eingabe) ===\nWeiter? [y/N]\n\n");
  EXPECT_EQ(x.run.err, "");
  EXPECT_EQ(x.run.status, 0);

  Exchange all_failed =
      app.exchange({"ask", "--batch", R"({"A":"a?"})"}, ok_result(R"({"results":[{"name":"A","error":"weg"}]})"));
  EXPECT_EQ(all_failed.run.out, "=== A (Fehler) ===\nweg\n\n");
  EXPECT_EQ(all_failed.run.status, 0);
}

TEST(AskBatch, SingleShapedReplyWarnsWithTheBatchWord) {
  FakeApp app;
  Exchange x = app.exchange({"ask", "--batch", R"({"Dev":"hi"})"}, ok_result(R"({"output":"?","awaitingInput":true})"));
  EXPECT_EQ(x.run.out, "?\n");
  EXPECT_EQ(x.run.err, "⚠ '--batch' wartet auf Eingabe (Turn nicht beendet — ggf. erneut `ask`, um zu antworten)\n");
  EXPECT_EQ(x.run.status, 0);
}
