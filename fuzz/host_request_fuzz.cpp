// One request line through the host's dispatcher, against a small canvas of
// joined terminals, notes and roles. Every input must get exactly one reply
// that writes as one line of valid JSON with a boolean `ok`, and a refused
// request must leave the canvas as it was. The line is served twice: once
// without a state file, and once with a state file that can never be written,
// where every change must be undone.
//
// No process is started: recruits get an empty shell (refused before any
// fork), and requests that name a command to run are skipped.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loop/reactor.h"
#include "model/canvas.h"
#include "protocol/dispatcher.h"
#include "pty/terminal_set.h"
#include "store/state_file.h"
#include "utf8.h"

namespace {

using host::Json;

/// The terminals of the canvas with the tokens the seeds use.
constexpr std::pair<std::string_view, std::string_view> kTerminals[] = {
    {"Lead", "lead-token"}, {"Dev", "dev-token"}, {"Stranger", "stranger-token"}};

/// A state file below a regular file: its temporary file cannot be created,
/// not even by root.
constexpr const char* kUnwritableState = "/dev/null/state.json";

[[noreturn]] void fail(const char* what, std::string_view line, const std::string& detail = {}) {
  std::fprintf(stderr, "host_request: %s\n  request: %.*s\n  %s\n", what, static_cast<int>(line.size()), line.data(),
               detail.c_str());
  std::abort();
}

/// Lead and Dev are roped, Dev has a role, and both reach the note Plan;
/// Stranger keeps Secret to itself; Loose is roped to nobody.
void populate(host::Canvas& canvas) {
  using host::Item;
  for (auto [name, token] : kTerminals) canvas.add_terminal({std::string(name), std::string(token), true, ""});
  host::Snapshot saved;
  saved.notes = {{"Plan", "one\ntwo\nthree\n"}, {"Secret", "hidden"}, {"Loose", "x"}};
  saved.roles = {{"Reviewer", "Review the change.\nBe kind."}, {"Coder", ""}};
  for (auto [terminal, note] : {std::pair{"Lead", "Plan"}, {"Dev", "Plan"}, {"Stranger", "Secret"}}) {
    saved.ropes.insert(host::Rope::between(Item::terminal(terminal), Item::note(note)));
  }
  canvas.restore(std::move(saved));
  canvas.rope(Item::terminal("Lead"), Item::terminal("Dev"));
  if (!canvas.assign_role("Lead", "Dev", "Coder").ok()) std::abort();  // the fixture itself is wrong
}

/// What a request could change: the saved part of the canvas plus every
/// terminal's presence, role and peers.
struct Fingerprint {
  host::Snapshot saved;
  std::vector<std::string> terminals;
  bool operator==(const Fingerprint&) const = default;
};

Fingerprint fingerprint(const host::Canvas& canvas) {
  Fingerprint f{canvas.snapshot(), {}};
  for (auto [name, token] : kTerminals) {
    const host::TerminalEntry* entry = canvas.terminal(name);
    std::string line = entry == nullptr ? "-" : "role=" + entry->role + " peers=";
    for (const std::string& peer : canvas.peers(name)) line += peer + ",";
    f.terminals.push_back(line);
  }
  return f;
}

/// True when serving `line` could start a process: a recruit with a command.
bool starts_a_process(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  wire::Parsed parsed = wire::parse_json(line);
  if (!parsed.ok() || !parsed->is_object()) return false;
  const Json& request = *parsed;
  auto command = request.find("command");
  if (command == request.end() || *command != "recruit") return false;
  auto cmd = request.find("cmd");
  return cmd != request.end() && cmd->is_string() && !cmd->get_ref<const std::string&>().empty();
}

/// Fails unless `reply` is {"ok":true,"result":...} or {"ok":false,
/// "error":"..."} and writes as one line of valid UTF-8 that reads back.
void check_reply(std::string_view line, const Json& reply) {
  std::string text = host::reply_text(reply);
  if (text.find('\n') != std::string::npos) fail("reply spans lines", line, text);
  if (!utf8::is_valid_utf8(text)) fail("reply is not valid UTF-8", line, text);
  wire::Parsed back = wire::parse_json(text);
  if (!back.ok() || !back->is_object()) fail("reply does not read back as an object", line, text);
  const Json& r = *back;
  auto ok = r.find("ok");
  if (ok == r.end() || !ok->is_boolean() || r.size() != 2) fail("reply lacks a boolean ok", line, text);
  bool accepted = *ok;
  if (accepted && !r.contains("result")) fail("accepted reply has no result", line, text);
  if (!accepted &&
      (!r.contains("error") || !r["error"].is_string() || r["error"].get_ref<const std::string&>().empty())) {
    fail("refusal has no error text", line, text);
  }
}

/// Serves `line` on a fresh canvas and checks the reply; true when it was
/// accepted.
bool serve(std::string_view line, host::StateFile* state) {
  host::Canvas canvas;
  populate(canvas);
  Fingerprint before = fingerprint(canvas);
  host::Reactor reactor;
  host::TerminalSet terminals(reactor, std::chrono::milliseconds(0));
  host::HostSettings settings;
  settings.socket_path = "/nonexistent/host.sock";
  settings.shell = "";
  host::Dispatcher dispatcher(canvas, terminals, state, host::default_presets(), settings);

  int replies = 0;
  std::optional<Json> reply;
  dispatcher.handle(line, host::Client{0,
                                       [&](const Json& r) {
                                         ++replies;
                                         reply = r;
                                       },
                                       nullptr, 0, /*trusted=*/true});
  if (replies != 1) fail("not exactly one reply", line, std::to_string(replies) + " replies");
  check_reply(line, *reply);
  if (terminals.has_processes()) fail("a process was started", line);
  bool accepted = (*reply)["ok"] == true;
  if (!accepted && fingerprint(canvas) != before) fail("a refused request changed the canvas", line, reply->dump());
  if (state != nullptr && canvas.snapshot() != before.saved) {
    fail("a change that could not be saved was kept", line, reply->dump());
  }
  return accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  if (starts_a_process(line)) return 0;
  static host::StateFile unwritable(kUnwritableState);
  serve(line, nullptr);
  serve(line, &unwritable);
  return 0;
}
