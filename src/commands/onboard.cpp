// `onboard`: the English summary an agent reads first: who it is, who is
// roped to it and the commands it needs. It asks the app for the peers when
// it can and prints the whole text whatever happens on the way.

#include <string>

#include "commands.h"
#include "environment.h"
#include "link.h"
#include "output.h"
#include "reply_fields.h"

namespace {

constexpr std::string_view kNoIdentity = "this terminal";

constexpr std::string_view kNoPeers =
    "  (none yet — you are not roped to anyone. Ask the user to connect you, or 'welkmora recruit' a teammate.)";

constexpr std::string_view kCommands =
    "What you can do:\n"
    "  Talk    welkmora list                       — list your connected peers (names are exact; quote them)\n"
    "          welkmora check \"Name\"               — peek at a peer's recent screen without prompting it\n"
    "          welkmora ask \"Name\" \"prompt\"        — send a prompt and wait for the answer\n"
    "  Notes   welkmora note list | read | write   — shared sticky notes; read before you write\n"
    "  Team    welkmora recruit \"Codename\" --command claude   — spawn a new connected agent\n"
    "\n"
    "Start by running `welkmora list`. Run `welkmora help` for the full command list, or load the `welkmora` skill "
    "for the rules.\n";

/// One line per roped agent, then one per roped note, joined by line feeds
/// without a final one; empty when nothing is roped.
std::string peer_lines(Value result) {
  std::string lines;
  auto add = [&lines](std::string_view name, std::string_view kind) {
    if (!lines.empty()) lines.push_back('\n');
    lines.append("  - \"").append(name).append("\" (").append(kind).push_back(')');
  };
  for (Value agent : fields::list(result, "agents")) add(fields::text(agent, "name", "?"), "terminal");
  for (Value note : fields::list(result, "notes")) {
    if (fields::flag(note, "connected")) add(fields::text(note, "name", "?"), "note");
  }
  return lines;
}

/// The peer lines from the app, or none when it cannot be asked, cannot be
/// reached or refuses; every failure is silent.
std::string fetch_peer_lines(std::string_view identity) {
  std::string_view socket = env_text(kSocketVar);
  if (socket.empty()) return {};
  Json envelope = {{"command", "list"}, {"terminalId", identity}, {"token", env_text(kTokenVar)}};
  reply::Reading reply = request(socket, envelope);
  if (!reply.ok() || !fields::flag(reply->root(), "ok")) return {};
  std::optional<Value> result = reply->root().find("result");
  return result ? peer_lines(*result) : std::string();
}

std::string onboarding_text(std::string_view identity, std::string_view peers) {
  std::string text = "You are \"";
  text.append(identity).append("\", an agent in WelkMora — a canvas where AI agents collaborate.\n");
  text.append("Visibility is topology-gated: you only see and reach peers connected to you by a rope on the canvas.\n");
  text.append("\nConnected peers:\n");
  text.append(peers.empty() ? kNoPeers : peers).append("\n\n");
  text.append(kCommands);
  return text;
}

}  // namespace

int run_onboard() {
  std::string_view identity = env_text(kTerminalIdVar);
  if (identity.empty()) identity = kNoIdentity;
  std::string peers = fetch_peer_lines(identity);
  out::write(onboarding_text(identity, peers));
  return out::finish(0);
}
