#pragma once
// The turns of peers that were asked something. Each asked terminal gets the
// prompt typed in once its program is ready for it (a command of an earlier
// ask may still run: the ask waits for it) and the Enter as a write of its
// own once the program has taken the text, and is then watched until its
// turn ends by the rule of turn.h: on the loop's timers, and again soon
// after each output. A terminal is in at most one turn at a time; any
// number of terminals may be in turns at once, all served by the one event
// loop. A turn whose asker has gone is cancelled: it ends at once, and what
// was typed stays typed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "loop/listeners.h"
#include "loop/timers.h"
#include "pty/terminal_set.h"
#include "turns/turn.h"

namespace host {

/// `prompt` as it is typed: every line break (CR LF, LF or CR) and every
/// other control character (U+0000-U+001F, U+007F and the C1 controls
/// U+0080-U+009F) becomes one space. A prompt is one line of input: a line
/// break would submit it early, and a control character could signal the
/// program (Ctrl-C) or steer it (Escape, or U+009B, an escape sequence of
/// its own).
std::string typed_prompt(std::string_view prompt);

/// The longest typed prompt for a terminal in line mode: the kernel keeps at
/// most Terminal::kLineLimit bytes of a line and drops the rest.
inline constexpr std::size_t kMaxLinePrompt = 4000;

/// How a turn ended, for the asker (and the host's log).
struct AskOutcome {
  TurnAnswer answer;
  /// Set when the turn could not be served; `answer` is empty then.
  std::string error;
  /// The last state of the turn: kEnded also for a dismissed or cancelled
  /// turn, kRunning for a failed one.
  TurnState state = TurnState::kRunning;
  /// One word for why the turn is over (TurnVerdict::reason).
  std::string_view reason;
  /// From the typed prompt to the end of the turn.
  Clock::duration took{};
  /// The exit status a shell marked for the command (OSC 133 D), -1 when
  /// it marked none in this turn.
  int status = -1;
};

/// Names one turn, to cancel it.
struct TurnTicket {
  std::string name;
  std::uint64_t serial = 0;
};

class Asks {
 public:
  /// Receives the outcome of one turn, exactly once.
  using Done = std::function<void(AskOutcome)>;

  Asks(TerminalSet& terminals, Timers& timers, const TurnRule& rule);
  /// Cancels the timers of turns still running; their `done` is not called.
  ~Asks();
  Asks(const Asks&) = delete;
  Asks& operator=(const Asks&) = delete;

  /// Types `prompt` into terminal `name` and calls `done` once its turn is
  /// over, never before start() returns. Refuses a shell
  /// that joined (it has no terminal to type into), a program that has
  /// ended, a terminal that is in another turn, and a prompt over
  /// kMaxLinePrompt bytes for a terminal in line mode.
  OrRefusal<TurnTicket> start(const std::string& name, std::string_view prompt, Done done);

  /// Ends the turn of `ticket` at once, if it still runs, with what it has
  /// produced so far (reason "cancelled"): its asker has gone. Nothing more
  /// is typed; a prompt whose Enter had not gone out yet stays unsent.
  void cancel(const TurnTicket& ticket);

  /// Ends the turn of `name`, if it is in one, with what it has produced so
  /// far and the note "[dismissed during the turn]": it is about to be
  /// dismissed.
  void end_for_dismissal(std::string_view name);

  /// True while terminal `name` is in a turn.
  bool busy(std::string_view name) const { return turns_.find(name) != turns_.end(); }

  /// The prompt of terminal `name`'s turn as it is typed; empty when it is
  /// in none.
  std::string_view prompt_of(std::string_view name) const {
    auto it = turns_.find(name);
    return it == turns_.end() ? std::string_view() : std::string_view(it->second.prompt);
  }

  /// Called with the terminal's name whenever its turn has started or ended.
  void set_listener(std::function<void(const std::string& name)> listener) { listener_ = std::move(listener); }

 private:
  struct Turn {
    Terminal* terminal;
    /// Tells this turn's timer from that of an earlier turn of the name.
    std::uint64_t serial;
    /// The prompt as it is typed, to find its echo.
    std::string prompt;
    TurnMark mark;
    Clock::time_point asked_at;
    /// False until the program was ready and the prompt went out (rule 1).
    bool typed = false;
    TurnTracker tracker;
    Timers::Id timer = 0;
    /// When the timer is due.
    Clock::time_point timer_due{};
    Done done;
    /// Output and the terminal's end bring the timer forward.
    Subscription output;
    Subscription end;
  };
  using TurnMap = std::map<std::string, Turn, std::less<>>;

  /// Runs on the turn's timer: writes the Enter when it is due, judges the
  /// turn, and either finishes it or sets the timer again.
  void step(const std::string& name, std::uint64_t serial);
  void advance(TurnMap::iterator it);
  /// Types the prompt when the program is ready for it (rule 1); false
  /// while it is not.
  bool type_when_ready(Turn& turn, Clock::time_point now);
  /// Writes the Enter once it is due; false while the prompt is still
  /// going out.
  bool write_enter(Turn& turn, Terminal& terminal, Clock::time_point now);
  /// Brings the turn's timer forward after output of its terminal or its end.
  void on_change(const std::string& name, std::uint64_t serial);
  void arm(const std::string& name, Turn& turn, Clock::time_point when);
  /// Answers with the turn's output and removes it.
  void finish(TurnMap::iterator it, TurnVerdict verdict, std::string_view note = {});
  /// The output of `turn`, which has ended (at its idle prompt when
  /// `at_prompt`); a turn that ended there teaches the terminal its home.
  static std::string turn_output_of(Turn& turn, bool at_prompt);
  void fail(TurnMap::iterator it, std::string error);
  /// Removes the turn and cancels its timer.
  Turn take(TurnMap::iterator it);

  TerminalSet& terminals_;
  Timers& timers_;
  TurnRule rule_;
  TurnMap turns_;
  std::uint64_t next_serial_ = 1;
  std::function<void(const std::string&)> listener_;
};

}  // namespace host
