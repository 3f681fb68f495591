// `ask`: prompting one peer, or several at once with --batch.

#include "../output.h"
#include "commands.h"

Json build_ask(Words, Json envelope) { out::fail("ask: not built yet"); return envelope; }
void render_ask(Words words, const Json& result) { print_peer_output(result, words[1]); }
