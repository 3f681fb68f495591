#pragma once
// How the client serves each of the catalogue's rows: the renderer that
// prints an accepted reply's result on standard output. The request itself
// is built from the row (request.h); `debug` and `onboard` run on their own.
// Every agent's row must have its line in kCommands, which the compiler
// checks.

#include <span>
#include <string_view>

#include "catalogue.h"
#include "json_text.h"
#include "reply.h"
#include "request.h"

using Json = wire::Json;
using Value = reply::Value;

/// Prints the `result` of an accepted reply (null when it was absent).
using RenderFn = void (*)(Words words, Value result);

// peers.cpp
void render_list(Words words, Value result);
void render_check(Words words, Value result);
/// Prints a `check` or `ask` result; `name` is the first operand as typed,
/// used in the awaiting-input warning.
void print_peer_output(Value result, std::string_view name);
void render_ask(Words words, Value result);

// wiring.cpp
void render_connect(Words words, Value result);
void render_dismiss(Words words, Value result);
void render_recruit(Words words, Value result);

// roles.cpp
void render_role_list(Words words, Value result);
void render_role_show(Words words, Value result);
void render_role_created(Words words, Value result);
void render_role_updated(Words words, Value result);
void render_role_deleted(Words words, Value result);
void render_role_assigned(Words words, Value result);
void render_preset_list(Words words, Value result);

// notes.cpp
void render_note_list(Words words, Value result);
void render_note_read(Words words, Value result);
void render_note_created(Words words, Value result);
void render_note_updated(Words words, Value result);
void render_note_deleted(Words words, Value result);

// diagnostics.cpp
/// Runs `debug`: prints the report around one exchange; returns the status.
int run_debug(std::string_view socket_path, std::string_view terminal_id, const Json& envelope);

// onboard.cpp
/// Runs `onboard`, which reads the environment itself and never fails.
int run_onboard();

/// A row's command and subcommand words and its renderer; the forms of a
/// command share it.
struct Command {
  std::string_view command;
  std::string_view sub;
  RenderFn render;
};

inline constexpr Command kCommands[] = {
    {"list", {}, render_list},
    {"check", {}, render_check},
    {"ask", {}, render_ask},
    {"connect", {}, render_connect},
    {"dismiss", {}, render_dismiss},
    {"recruit", {}, render_recruit},
    {"role", "list", render_role_list},
    {"role", "create", render_role_created},
    {"role", "show", render_role_show},
    {"role", "edit", render_role_updated},
    {"role", "write", render_role_updated},
    {"role", "delete", render_role_deleted},
    {"role", "assign", render_role_assigned},
    {"preset", "list", render_preset_list},
    {"note", "list", render_note_list},
    {"note", "create", render_note_created},
    {"note", "read", render_note_read},
    {"note", "write", render_note_updated},
    {"note", "edit", render_note_updated},
    {"note", "delete", render_note_deleted},
    {"debug", {}, nullptr},
};

constexpr const Command* find_command(const catalogue::Request& row) {
  for (const Command& c : kCommands) {
    if (c.command == row.command && c.sub == row.sub) return &c;
  }
  return nullptr;
}

consteval bool every_row_is_served() {
  for (const catalogue::Request& row : catalogue::kRequests) {
    if (row.from != catalogue::From::kAgent) continue;
    bool served = false;
    for (const Command& c : kCommands) served = served || (c.command == row.command && c.sub == row.sub);
    if (!served) return false;
  }
  return true;
}
static_assert(every_row_is_served(), "an agent's request in the catalogue has no line in kCommands");
