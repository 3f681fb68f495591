#pragma once
// What the person does on the canvas page, as the host carries it out: the
// page's messages {"op": ..., ...}, the catalogue's page rows (which name
// each message's members as their operands), served with the person's
// rights under the rows' policy like any request, and answered with the
// request's reply: {"ok":true,"result":...} or {"ok":false,"error":...}.
// A key message names a key as the browser does (Enter, ArrowUp, F5, ...;
// screen/keys.h) or is one character.

#include <string>

#include "catalogue.h"
#include "json_text.h"
#include "protocol/dispatcher.h"

namespace host {

/// Serves the page row `row` (one of the catalogue's page actions) for
/// `message`; refuses the rows the feed answers itself.
wire::Json perform(Dispatcher& dispatcher, const catalogue::Request& row, const wire::Json& message);

}  // namespace host
