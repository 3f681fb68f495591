// `debug`: the connection self-test.

#include "../output.h"
#include "commands.h"

int run_debug(std::string_view, std::string_view, const Json&) { out::fail("debug: not built yet"); }
