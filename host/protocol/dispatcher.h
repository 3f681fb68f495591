#pragma once
// One request line in, one reply out. The reply is {"ok":true,"result":...}
// or {"ok":false,"error":"..."} with an English error text. Any input, however
// malformed, gets a reply; nothing here throws to the caller. A request may be
// answered later than handle() returns (a command that waits for terminals),
// so replies go through a responder rather than a return value, and such a
// request comes with a cancel handle for when its client goes away.

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/refusal.h"
#include "catalogue.h"
#include "json_text.h"
#include "model/canvas.h"
#include "model/presets.h"
#include "pty/terminal_set.h"
#include "turns/asks.h"
#include "turns/turn.h"

namespace host {

using Json = wire::Json;

/// Where the canvas is saved (store/state_file.h).
class StateFile;

/// Receives the reply to one request, exactly once.
using Responder = std::function<void(const Json& reply)>;

/// Ends at once what a request that is answered later still waits for (the
/// turns of an `ask`), because nobody waits for its reply any more. Its
/// responder is still called, and its reply goes nowhere. Calling it after
/// the reply does nothing.
using Cancel = std::function<void()>;

/// What a view of the canvas (the canvas page) hears: every change to the
/// canvas as it is made, and each asked turn as it starts and ends.
class CanvasListener : public CanvasWatcher {
 public:
  virtual void turn_changed(const std::string& name) = 0;
};

/// How an attach shows its terminal in the person's.
struct AttachView {
  /// Keys and window sizes do not reach the terminal.
  bool read_only = false;
  /// The person's terminal keeps the lines that scroll off it (no
  /// alternate screen): the terminal's scrollback is drawn into it first.
  bool history = false;
  /// The rows of the person's terminal, when known.
  int rows = 0;
};

/// Who sent a request, and how it is answered.
struct Client {
  /// The connecting process, from the socket's credentials; 0 when unknown.
  pid_t pid = 0;
  /// Receives the reply, exactly once, unless `attach` takes over.
  Responder respond;
  /// For `attach` only: takes the connection over to relay terminal
  /// `name` after sending `reply`; null where nothing can attach.
  std::function<void(const Json& reply, const std::string& name, const AttachView& view)> attach;
  /// When that process started (ProcessInfo::start), read as it connected:
  /// a request is the person's only while this very process still runs.
  unsigned long long started = 0;
  /// True for requests made inside the host on the person's behalf
  /// (answer()); a socket's client is never trusted without examination.
  bool trusted = false;
};

/// What a request works on (handlers.h).
struct Context;

/// Serves a request, or refuses it.
using Serve = std::function<OrRefusal<Json>(Context&)>;

/// What requests depend on besides the canvas.
struct HostSettings {
  /// The absolute socket path, handed to recruits.
  std::string socket_path;
  /// The user's shell, started when a recruit names no command.
  std::string shell = "/bin/sh";
  /// A recruit's size, unless the page gave one to a terminal of its name.
  int rows = 24;
  int cols = 80;
  /// When an asked peer's turn ends (serve's --settle and --max-wait).
  TurnRule turn;
  /// The canvas page's address with its key; empty when it is not served.
  std::string page_url;
  /// Ends the host once the request that calls it is answered.
  std::function<void()> stop_host;
};

class Dispatcher {
 public:
  /// `state` may be null: nothing is saved then.
  Dispatcher(Canvas& canvas, TerminalSet& terminals, StateFile* state, std::vector<Preset> presets,
             HostSettings settings);

  /// Answers the request `line` from `client`, now or later. Returns the
  /// request's cancel handle, empty when there is nothing to cancel.
  Cancel handle(std::string_view line, const Client& client);

  /// handle() for a request that is answered before it returns; null when
  /// the answer is still pending.
  Json answer(std::string_view line);

  /// Serves `row` for the person at the host, with the person's rights and
  /// under the row's policy: runs `serve`; when the row changes what the
  /// state file keeps, saves that (undoing it all when the file cannot be
  /// written); then runs what it left for after that. Returns the reply,
  /// {"ok":true,"result":...} or {"ok":false,"error":...}; never throws.
  Json serve(const catalogue::Request& row, const Serve& serve);

  /// Tells `listener` (null: nobody) of every change from now on.
  void set_listener(CanvasListener* listener);
  /// Calls `changed` after each request served that changed the canvas or
  /// what the state file keeps.
  void on_change(std::function<void()> changed) { on_change_ = std::move(changed); }
  /// Sets what HostSettings::page_url and stop_host say, once the page's
  /// server and the serving loop exist.
  void set_page_url(std::string url) { settings_.page_url = std::move(url); }
  void set_stop_host(std::function<void()> stop) { settings_.stop_host = std::move(stop); }

  const Canvas& canvas() const { return canvas_; }
  const Asks& asks() const { return asks_; }
  const std::vector<Preset>& presets() const { return presets_; }

 private:
  /// Runs `serve` under the row's policy, as serve() describes.
  OrRefusal<Json> run(const catalogue::Request& row, const Serve& serve, Context& ctx);

  Canvas& canvas_;
  TerminalSet& terminals_;
  StateFile* state_;
  std::vector<Preset> presets_;
  HostSettings settings_;
  Asks asks_;
  std::function<void()> on_change_;
};

/// The reply as one line of compact JSON without the line feed; never throws.
std::string reply_text(const Json& reply);

/// The most of an error text a reply carries: error texts quote what they
/// refuse (a name, a command, the JSON parser's last read), and a request
/// of many megabytes must not get a reply as large.
inline constexpr std::size_t kMaxErrorBytes = 512;

/// The most values (and member names) a request may hold: no request
/// needs more than a few dozen, and each costs tens of bytes to build
/// from as few as two of text, so a request of the longest line could
/// otherwise take many times the host's memory budget to parse.
inline constexpr std::size_t kMaxRequestValues = 65536;

/// {"ok":false,"error":text}, with `text` made valid UTF-8 and cut after
/// kMaxErrorBytes ("..." marks the cut).
Json error_reply(std::string_view text);

}  // namespace host
