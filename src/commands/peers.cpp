// `list`, `check` and `ask`: the peers roped to this terminal, and what
// their screens and answers say.

#include <cstdint>
#include <string>

#include "commands.h"
#include "output.h"
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
    if (!is_white_space(utf8::next_code_point(text, i))) return false;
  }
  return true;
}

/// One "=== name ... ===" block per entry of a `results` array. The body,
/// which can be long, is written as it stands in the reply.
void print_result_blocks(reply::Elements results) {
  std::string header;
  for (Value entry : results) {
    std::string_view body;
    header.assign("=== ").append(fields::text(entry, "name", "?"));
    if (fields::has_text(entry, "error", body)) {
      header.append(" (Fehler) ===\n");
    } else {
      header.append(fields::flag(entry, "awaitingInput") ? " (⚠ wartet auf Eingabe) ===\n" : " ===\n");
      body = fields::text(entry, "output");
    }
    out::write(header);
    out::write(body);
    out::write("\n\n");
  }
}

}  // namespace

void render_list(Words, Value result) {
  std::string text;
  reply::Elements agents = fields::list(result, "agents");
  if (agents.empty()) {
    text = "Keine anderen Agenten verbunden.\n";
  } else {
    text = "Verbundene Agenten:\n";
    for (Value agent : agents) text.append("  - ").append(fields::text(agent, "name", "?")).push_back('\n');
  }
  reply::Elements notes = fields::list(result, "notes");
  if (!notes.empty()) {
    text.append("Notizen:\n");
    for (Value note : notes) {
      text.append("  - ").append(fields::text(note, "name", "?"));
      text.append(fields::flag(note, "connected") ? " (verbunden)\n" : "\n");
    }
  }
  out::write(text);
}

void render_check(Words words, Value result) { print_peer_output(result, words[1]); }

void render_ask(Words words, Value result) { print_peer_output(result, words[1]); }

void print_peer_output(Value result, std::string_view name) {
  if (std::optional<Value> results = result.find("results"); results && results->is_array()) {
    print_result_blocks(results->elements());
    return;
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
