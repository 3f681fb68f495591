// The `role` family and `preset list`.

#include "../output.h"
#include "commands.h"

Json build_role_request(Words, std::string_view, std::string_view) { out::fail("role: not built yet"); }
Json build_role(Words words, Json envelope) { return build_role_request(words, "", ""); (void)envelope; }
void render_role(Words, const Json&) {}
Json build_preset(Words, Json envelope) { out::fail("preset: not built yet"); return envelope; }
void render_preset(Words, const Json&) {}
