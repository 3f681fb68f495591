#pragma once
// How the client serves each of the catalogue's rows: the renderer that
// prints an accepted reply's result on standard output. The request itself
// is built from the row (request.h); `debug` and `onboard` run on their own.
// Every agent's row must have its entry in kRenderers, and every entry its
// row, which the compiler checks.

#include <array>
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

/// The renderer of each of the agents' rows, by its id. The rows the
/// client answers itself or runs on their own (onboard, debug, help) have
/// none. Checked both ways while compiling: every agent's row has its
/// entry here, and every entry its row.
inline constexpr catalogue::Bound<RenderFn> kRenderers[] = {
    {catalogue::Id::kOnboard, nullptr},
    {catalogue::Id::kList, render_list},
    {catalogue::Id::kCheck, render_check},
    {catalogue::Id::kAsk, render_ask},
    {catalogue::Id::kAskBatch, render_ask},
    {catalogue::Id::kConnect, render_connect},
    {catalogue::Id::kDismiss, render_dismiss},
    {catalogue::Id::kRoleList, render_role_list},
    {catalogue::Id::kRoleCreate, render_role_created},
    {catalogue::Id::kRoleShow, render_role_show},
    {catalogue::Id::kRoleEdit, render_role_updated},
    {catalogue::Id::kRoleWrite, render_role_updated},
    {catalogue::Id::kRoleDelete, render_role_deleted},
    {catalogue::Id::kRoleAssign, render_role_assigned},
    {catalogue::Id::kPresetList, render_preset_list},
    {catalogue::Id::kRecruit, render_recruit},
    {catalogue::Id::kNoteList, render_note_list},
    {catalogue::Id::kNoteCreate, render_note_created},
    {catalogue::Id::kNoteRead, render_note_read},
    {catalogue::Id::kNoteWrite, render_note_updated},
    {catalogue::Id::kNoteEdit, render_note_updated},
    {catalogue::Id::kNoteDelete, render_note_deleted},
    {catalogue::Id::kDebug, nullptr},
    {catalogue::Id::kHelp, nullptr},
};
static_assert(catalogue::binds(kRenderers,
                               [](const catalogue::Request& row) { return row.from == catalogue::From::kAgent; }),
              "the agents' rows in the catalogue and the renderers here disagree");

inline constexpr std::array<RenderFn, catalogue::kRowCount> kRendererOf = catalogue::by_id(kRenderers);

/// The renderer of `row`, one of the agents' rows; null for those that run
/// on their own.
constexpr RenderFn renderer_of(const catalogue::Request& row) { return kRendererOf[catalogue::index(row.id)]; }
