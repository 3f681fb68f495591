// `list` and `check`, and the peer-output renderer that `ask` shares.

#include <cstdint>
#include <string>

#include "../output.h"
#include "commands.h"
#include "reply_fields.h"
#include "utf8.h"

namespace {

/// The Unicode White_Space property.
bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool is_blank(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (!is_white_space(wire::next_code_point(text, i))) return false;
  }
  return true;
}

/// One "=== name ... ===" block per entry of a `results` array.
void print_result_blocks(const Json& results) {
  std::string block;
  for (const Json& entry : results) {
    std::string_view name = fields::text(entry, "name", "?");
    std::string_view error;
    block.assign("=== ").append(name);
    if (fields::has_text(entry, "error", error)) {
      block.append(" (Fehler) ===\n").append(error);
    } else {
      block.append(fields::flag(entry, "awaitingInput") ? " (⚠ wartet auf Eingabe) ===\n" : " ===\n");
      block.append(fields::text(entry, "output"));
    }
    block.append("\n\n");
    out::write(block);
  }
}

}  // namespace

Json build_list(Words, Json envelope) { return envelope; }

void render_list(Words, const Json& result) {
  std::string text;
  const Json& agents = fields::list(result, "agents");
  if (agents.empty()) {
    text = "Keine anderen Agenten verbunden.\n";
  } else {
    text = "Verbundene Agenten:\n";
    for (const Json& agent : agents) text.append("  - ").append(fields::text(agent, "name", "?")).push_back('\n');
  }
  const Json& notes = fields::list(result, "notes");
  if (!notes.empty()) {
    text.append("Notizen:\n");
    for (const Json& note : notes) {
      text.append("  - ").append(fields::text(note, "name", "?"));
      text.append(fields::flag(note, "connected") ? " (verbunden)\n" : "\n");
    }
  }
  out::write(text);
}

Json build_check(Words words, Json envelope) {
  if (words.size() < 2) out::fail("usage: welkmora check \"Name\"");
  envelope["target"] = words[1];
  return envelope;
}

void render_check(Words words, const Json& result) { print_peer_output(result, words[1]); }

void print_peer_output(const Json& result, std::string_view name) {
  if (result.is_object()) {
    auto results = result.find("results");
    if (results != result.end() && results->is_array()) {
      print_result_blocks(*results);
      return;
    }
  }
  std::string_view output = fields::text(result, "output");
  if (is_blank(output)) {
    out::write("(keine Ausgabe)\n");
  } else {
    out::write(output);
    if (output.back() != '\n') out::write("\n");
  }
  if (fields::flag(result, "awaitingInput")) {
    std::string warning = "⚠ '";
    warning.append(name).append("' wartet auf Eingabe (Turn nicht beendet — ggf. erneut `ask`, um zu antworten)\n");
    out::warn(warning);
  }
}
