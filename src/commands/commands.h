#pragma once
// Every command family's entry points. A command is a pair: a builder that
// turns the word list into the request (ending the run on a usage error,
// before anything is sent) and a renderer that prints an accepted reply's
// result on standard output.

#include <span>
#include <string_view>

#include "json_text.h"
#include "reply.h"

using Json = wire::Json;
using Value = reply::Value;

/// The arguments after the program name; word 0 is the command.
using Words = std::span<const std::string_view>;

/// Completes `envelope` (which holds `command`, `terminalId` and `token`)
/// with the command's own members.
using BuildFn = Json (*)(Words words, Json envelope);

/// Prints the `result` of an accepted reply (null when it was absent).
using RenderFn = void (*)(Words words, Value result);

// peers.cpp
Json build_list(Words words, Json envelope);
void render_list(Words words, Value result);
Json build_check(Words words, Json envelope);
void render_check(Words words, Value result);
/// Prints a `check` or `ask` result; `name` is the first operand as typed,
/// used in the awaiting-input warning.
void print_peer_output(Value result, std::string_view name);

// ask.cpp
Json build_ask(Words words, Json envelope);
void render_ask(Words words, Value result);

// wiring.cpp
Json build_connect(Words words, Json envelope);
void render_connect(Words words, Value result);
Json build_dismiss(Words words, Json envelope);
void render_dismiss(Words words, Value result);
Json build_recruit(Words words, Json envelope);
void render_recruit(Words words, Value result);

// roles.cpp
/// The complete `role` request for `words`; ends the run on a usage error.
Json build_role_request(Words words, std::string_view token, std::string_view terminal_id);
Json build_role(Words words, Json envelope);
void render_role(Words words, Value result);
Json build_preset(Words words, Json envelope);
void render_preset(Words words, Value result);

// notes.cpp
Json build_note(Words words, Json envelope);
void render_note(Words words, Value result);

// diagnostics.cpp
/// Runs `debug`: prints the report around one exchange; returns the status.
int run_debug(std::string_view socket_path, std::string_view terminal_id, const Json& envelope);

// onboard.cpp
/// Runs `onboard`, which reads the environment itself and never fails.
int run_onboard();
