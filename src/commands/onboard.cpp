// `onboard`: the English summary an agent reads first.

#include "../output.h"
#include "commands.h"

int run_onboard() { out::fail("onboard: not built yet"); }
