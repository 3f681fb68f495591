#pragma once
// The command line as a request: the catalogue's row that the words name,
// and the request its operands and flags make. Everything the client may
// refuse before sending comes from here, as a Failure with the row's usage
// or the word at fault; nothing is sent or printed.

#include <span>
#include <string_view>

#include "catalogue.h"
#include "json_text.h"
#include "output.h"

/// The arguments after the program name; word 0 is the command.
using Words = std::span<const std::string_view>;

/// The agent's row that `words` name: for a family, by its subcommand (or
/// the family's fallback); for a command with forms, by the form word.
/// Null for a command word that names no row; a Failure with the family's
/// usage for a missing or unknown subcommand.
out::Outcome<const catalogue::Request*> find_row(Words words);

/// The request for `words` under `row`: `envelope` (which holds `command`,
/// `terminalId` and `token`) with `sub` and the members of the operands and
/// flags. Operands the row leaves optional may come from standard input.
out::Outcome<wire::Json> build_request(const catalogue::Request& row, Words words, wire::Json envelope);

/// What every request holds: `command` (word 0), `terminalId` and `token`.
wire::Json envelope(Words words, std::string_view terminal_id, std::string_view token);

/// find_row and build_request in one, with the envelope made of
/// `terminal_id` and `token`.
out::Outcome<wire::Json> request_for(Words words, std::string_view terminal_id, std::string_view token);
