// welkmora: the command-line client of the Welkmora workspace app. One run
// turns the command line into at most one request to the app, prints the
// reply and exits: argv -> the catalogue's row -> request -> exchange ->
// unwrap -> renderer. A failure anywhere comes back here as a value and is
// reported once.

#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "environment.h"
#include "link.h"
#include "output.h"
#include "utf8.h"

namespace {

constexpr std::string_view kHelpHead =
    "Welkmora — räumlicher Workspace für KI-Agenten.\n"
    "\n"
    "Usage:\n";

/// The help: a line or two for each of the agents' rows, in the
/// catalogue's order.
std::string help_text() {
  std::string text(kHelpHead);
  for (const catalogue::Request& row : catalogue::kRequests) text.append(row.help);
  return text;
}

bool is_help_word(std::string_view word) {
  return word == catalogue::row(catalogue::Id::kHelp).command || word == "-h" || word == "--help";
}

/// Refuses arguments that are not text before anything else is looked at.
out::Outcome<void> check_text_arguments(Words words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!utf8::is_valid_utf8(words[i]))
      return out::failure("argument " + std::to_string(i + 1) + " is not valid UTF-8");
  }
  return {};
}

/// Hands an accepted reply's result to the renderer; anything else is a
/// refusal with the app's error text.
int unwrap(RenderFn render, Words words, Value reply) {
  if (std::optional<Value> ok = reply.find("ok"); ok && ok->is_true()) {
    render(words, reply.find("result").value_or(Value()));
    return out::finish(0);
  }
  std::optional<Value> error = reply.find("error");
  return out::report(out::failure(std::string(error && error->is_string() ? error->text() : "unknown error")));
}

int run(Words words) {
  if (words.empty() || is_help_word(words[0])) {
    out::write(help_text());
    return out::finish(0);
  }
  if (words[0] == catalogue::row(catalogue::Id::kOnboard).command) return run_onboard();

  if (out::Outcome<void> checked = check_text_arguments(words); !checked.ok()) return out::report(checked.failure());
  std::string_view socket = env_text(kSocketVar);
  if (socket.empty())
    return out::report(out::failure("only available inside Welkmora terminals (WELKMORA_SOCKET not set)."));
  std::string_view terminal_id = env_text(kTerminalIdVar);
  std::string_view token = env_text(kTokenVar);

  out::Outcome<const catalogue::Request*> row = find_row(words);
  if (!row.ok()) return out::report(row.failure());
  if (*row == nullptr) {
    out::error_line(std::string("unknown command: ").append(words[0]));
    out::write(help_text());
    return out::finish(1);
  }
  Json bare = envelope(words, terminal_id, token);
  if ((*row)->id == catalogue::Id::kDebug) return run_debug(socket, terminal_id, bare);

  out::Outcome<Json> request = build_request(**row, words, std::move(bare));
  if (!request.ok()) return out::report(request.failure());
  reply::Reading reply = ::request(socket, *request);
  if (!reply.ok()) return out::report(out::failure("connection failed: " + reply.failure()));
  return unwrap(renderer_of(**row), words, reply->root());
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must surface as a failed write, not kill the run.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string_view> words(argv + 1, argv + argc);
  return run(words);
}
