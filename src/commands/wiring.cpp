// `connect`, `dismiss` and `recruit`: shaping the group on the canvas.

#include <string>

#include "commands.h"
#include "output.h"
#include "reply_fields.h"

void render_connect(Words words, Value) {
  std::string line = "Verbunden: ";
  line.append(words[1]).append(" <-> ").append(words[2]).push_back('\n');
  out::write(line);
}

void render_dismiss(Words, Value result) { fields::print_named("Entlassen: ", result); }

void render_recruit(Words, Value result) { fields::print_named("Recruit gespawnt: ", result); }
