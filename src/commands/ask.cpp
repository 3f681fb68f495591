// `ask`: prompting one peer, or several at once with --batch.

#include <string>

#include "commands.h"
#include "output.h"

namespace {

constexpr std::string_view kUsage = "usage: welkmora ask \"Name\" \"prompt\"  |  welkmora ask --batch '{…}'";
constexpr std::string_view kBatchUsage = "usage: welkmora ask --batch '{\"Name\":\"prompt\", …}'";
constexpr std::string_view kBatchWord = "--batch";

/// The --batch operand as a JSON object; ends the run when it is not one.
/// The parser refuses nesting past the writer's depth bound, so whatever
/// comes back can be sent.
Json parse_batch(std::string_view operand) {
  wire::Result parsed = wire::parse_json(operand);
  if (!parsed.ok()) out::fail("--batch needs valid JSON: " + parsed.error);
  if (!parsed.value->is_object()) out::fail("--batch expects a JSON object {\"Name\":\"prompt\"}");
  return std::move(*parsed.value);
}

}  // namespace

Json build_ask(Words words, Json envelope) {
  if (words.size() < 2) out::fail(kUsage);
  if (words[1] == kBatchWord) {
    if (words.size() < 3) out::fail(kBatchUsage);
    envelope["batch"] = parse_batch(words[2]);
    return envelope;
  }
  if (words.size() < 3) out::fail(kUsage);
  envelope["target"] = words[1];
  envelope["prompt"] = words[2];
  return envelope;
}

void render_ask(Words words, Value result) { print_peer_output(result, words[1]); }
