// `connect`, `dismiss` and `recruit`: shaping the group on the canvas.

#include "../output.h"
#include "commands.h"

Json build_connect(Words, Json envelope) { out::fail("connect: not built yet"); return envelope; }
void render_connect(Words, const Json&) {}
Json build_dismiss(Words, Json envelope) { out::fail("dismiss: not built yet"); return envelope; }
void render_dismiss(Words, const Json&) {}
Json build_recruit(Words, Json envelope) { out::fail("recruit: not built yet"); return envelope; }
void render_recruit(Words, const Json&) {}
