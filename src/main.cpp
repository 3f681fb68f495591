// welkmora: the command-line client of the Welkmora workspace app. One run
// turns the command line into at most one request to the app, prints the
// reply and exits: argv -> builder -> request() -> unwrap -> renderer.

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "environment.h"
#include "link.h"
#include "output.h"
#include "utf8.h"

namespace {

constexpr std::string_view kHelp =
    "Welkmora — räumlicher Workspace für KI-Agenten.\n"
    "\n"
    "Usage:\n"
    "  welkmora onboard              Identität, verbundene Peers und Kernbefehle ausgeben\n"
    "  welkmora list                 Mit dir verbundene Agenten auflisten\n"
    "  welkmora check \"Name\"          Letzte Ausgabe eines verbundenen Agenten ansehen\n"
    "  welkmora ask   \"Name\" \"prompt\"  Prompt an einen verbundenen Agenten senden, auf Antwort warten\n"
    "  welkmora ask --batch '{\"A\":\"…\",\"B\":\"…\"}'  Mehrere verbundene Agenten parallel fragen\n"
    "  welkmora connect \"From\" \"To\"   Ungerichtetes Seil ziehen (Terminals und/oder Notizen)\n"
    "  welkmora dismiss \"Name\"        Ein Terminal entlassen (killen + Seile trennen)\n"
    "  welkmora role list            Verfügbare Rollen auflisten\n"
    "  welkmora role create \"Name\" \"Prompt\"  Wiederverwendbare Rolle anlegen\n"
    "  welkmora role show \"Name\"      Vollen Rollen-Prompt anzeigen\n"
    "  welkmora role edit \"Name\" \"old\" \"new\"  Teilstring im Rollen-Prompt ersetzen\n"
    "  welkmora role write \"Name\" \"prompt\"  Rollen-Prompt komplett ersetzen\n"
    "  welkmora role delete \"Name\"    Rolle löschen\n"
    "  welkmora role assign \"Recruit\" (\"Role\" | --none)  Bestehenden Recruit in-place umrollen\n"
    "  welkmora preset list          Verfügbare Agent-Presets auflisten\n"
    "  welkmora recruit \"Codename\" [--role \"Role\"] [--preset \"Claude Code\"] [--command \"cmd\"]\n"
    "                                Neues, verbundenes Terminal (Recruit) spawnen\n"
    "  welkmora note list            Geteilte Notizen auflisten\n"
    "  welkmora note create [\"Name\"] [\"Inhalt\"]  Neue Notiz anlegen (Inhalt sonst aus stdin)\n"
    "  welkmora note read \"Name\" [--offset N] [--limit M]  Notiz lesen\n"
    "  welkmora note write \"Name\" [\"Inhalt\"]  Inhalt komplett ersetzen (sonst aus stdin)\n"
    "  welkmora note edit \"Name\" \"old\" \"new\"  Erstes Vorkommen ersetzen\n"
    "  welkmora note delete \"Name\"   Notiz löschen\n"
    "  welkmora debug                Verbindung zur App diagnostizieren\n"
    "  welkmora help                 Diese Hilfe\n";

/// A command word and how it is served. `debug` reports the exchange itself
/// and has neither builder nor renderer.
struct Command {
  std::string_view word;
  BuildFn build;
  RenderFn render;
};

constexpr Command kCommands[] = {
    {"debug", nullptr, nullptr},
    {"list", build_list, render_list},
    {"check", build_check, render_check},
    {"ask", build_ask, render_ask},
    {"connect", build_connect, render_connect},
    {"dismiss", build_dismiss, render_dismiss},
    {"role", build_role, render_role},
    {"preset", build_preset, render_preset},
    {"recruit", build_recruit, render_recruit},
    {"note", build_note, render_note},
};

const Command* find_command(std::string_view word) {
  for (const Command& c : kCommands) {
    if (c.word == word) return &c;
  }
  return nullptr;
}

bool is_help_word(std::string_view word) { return word == "help" || word == "-h" || word == "--help"; }

/// Refuses arguments that are not text before anything else is looked at.
void require_text_arguments(Words words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!wire::is_valid_utf8(words[i])) {
      out::fail("argument " + std::to_string(i + 1) + " is not valid UTF-8");
    }
  }
}

/// Hands an accepted reply's result to the renderer; anything else is a
/// refusal with the app's error text.
int unwrap(const Command& command, Words words, Value reply) {
  if (std::optional<Value> ok = reply.find("ok"); ok && ok->is_true()) {
    command.render(words, reply.find("result").value_or(Value()));
    return out::finish(0);
  }
  std::optional<Value> error = reply.find("error");
  out::fail(error && error->is_string() ? error->text() : "unknown error");
}

int run(Words words) {
  if (words.empty() || is_help_word(words[0])) {
    out::write(kHelp);
    return out::finish(0);
  }
  if (words[0] == "onboard") return run_onboard();

  require_text_arguments(words);
  std::string_view socket = env_text(kSocketVar);
  if (socket.empty()) out::fail("only available inside Welkmora terminals (WELKMORA_SOCKET not set).");
  std::string_view terminal_id = env_text(kTerminalIdVar);
  std::string_view token = env_text(kTokenVar);

  const Command* command = find_command(words[0]);
  if (command == nullptr) {
    out::error_line(std::string("unknown command: ").append(words[0]));
    out::write(kHelp);
    return out::finish(1);
  }
  Json envelope = {{"command", words[0]}, {"terminalId", terminal_id}, {"token", token}};
  if (command->build == nullptr) return run_debug(socket, terminal_id, envelope);

  Json req = command->build(words, std::move(envelope));
  reply::Reading reply = request(socket, req);
  if (!reply.ok()) out::fail("connection failed: " + reply.error);
  return unwrap(*command, words, reply.document->root());
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must surface as a failed write, not kill the run.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string_view> words(argv + 1, argv + argc);
  return run(words);
}
