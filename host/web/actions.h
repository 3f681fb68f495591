#pragma once
// What the person does on the canvas page, as the host carries it out: the
// page's messages {"op": ..., ...}, the catalogue's page rows, served with
// the person's rights under the rows' policy like any request, and answered
// with the request's reply: {"ok":true,"result":...} or {"ok":false,
// "error":...}.
//
//   text   {id, text}            types text into terminal id
//   key    {id, key, ctrl?, alt?, shift?}
//                                a key by its name in the browser (Enter,
//                                Escape, ArrowUp, F5, ...) or a character
//   paste  {id, text}            pastes (bracketed when the program wants)
//   place  {id, box:{x,y,w,h}}   moves or resizes an item; a terminal's w
//                                and h are columns and rows: its pty follows
//   connect / cut  {a, b}        ropes or unropes two items
//   recruit {name, role?, preset?, cmd?}
//   dismiss {id}                 a recruit, not a shell of the person's
//   resume {id}                  a held terminal (protocol/keeper.h)
//   note-create {name?, text}, note-write {id, text}, note-delete {id}
//   history {id, from, count}   kept scrollback rows of terminal id
//   search {text}               the rows of every terminal that hold text

#include <string>

#include "catalogue.h"
#include "json_text.h"
#include "protocol/dispatcher.h"

namespace host {

/// Serves the page row `row` (one of the catalogue's page actions) for `message`.
wire::Json perform(Dispatcher& dispatcher, const catalogue::Request& row, const wire::Json& message);

}  // namespace host
