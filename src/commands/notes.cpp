// The `note` family's renderers: the shared notes that the app keeps on its
// canvas, listed, read, created, changed and deleted.

#include <string>

#include "commands.h"
#include "output.h"
#include "reply_fields.h"

void render_note_list(Words, Value result) {
  reply::Elements notes = fields::list(result, "notes");
  if (notes.empty()) {
    out::write("Keine Notizen vorhanden.\n");
    return;
  }
  std::string text = "Notizen:\n";
  for (Value note : notes) text.append("  - ").append(fields::text(note, "name", "?")).push_back('\n');
  out::write(text);
}

void render_note_read(Words, Value result) {
  std::string_view content = fields::text(result, "content");
  if (content.empty()) {
    out::write("(leere Notiz)\n");
    return;
  }
  out::write(out::on_screen(content));
  if (content.back() != '\n') out::write("\n");
}

void render_note_created(Words, Value result) { fields::print_named("Notiz angelegt: ", result); }
void render_note_updated(Words, Value result) { fields::print_named("Notiz aktualisiert: ", result); }
void render_note_deleted(Words, Value result) { fields::print_named("Notiz gelöscht: ", result); }
