#pragma once
// What a terminal asks of the person, as the canvas page shows it in the
// window's header: working, idle, awaiting input, finished (a turn ended,
// or a stretch of work, and the person has not looked since) or exited.
//
// Pure logic, fed with events and looks. The feed (feed.h) tells a tracker
// of its terminal's output, the person's keys and looks, the asked turns
// and the end of the program, all of which cost nothing to record; and, at
// the moments when the state can have changed (output has gone quiet, the
// person typed, a turn ended, silent work goes on), it takes a look: what
// the foreground does (pty/foreground.h, a scan of /proc) and the cursor line.
// The tracker says when the next look is due: at most one a second, and
// none while output streams, while a turn runs, or while nothing happens.
//
// The rule:
//  - exited: the program has ended (the page adds its status);
//  - working: an asked turn runs; or the program printed on the normal
//    screen (not the echo of the person's keys, not a full-screen program
//    redrawing on the alternate screen, as a monitor does) less than
//    kQuiet ago; or, at the last look, its foreground ran or was busy
//    (a command at work in silence);
//  - awaiting input: the last asked turn ended "awaiting input" and nothing
//    has happened since; or, at the last look, a question waits
//    (awaits_input);
//  - finished: an asked turn ended, or work that went on for kStretch or
//    longer, and the person has neither typed into the terminal nor looked
//    at it (the page says so) since;
//  - idle: otherwise.

#include <chrono>
#include <optional>
#include <string_view>

#include "loop/clock.h"
#include "pty/foreground.h"

namespace host {

enum class Attention { kIdle, kWorking, kInput, kFinished, kExited };

/// "idle", "working", "input", "finished", "exited": the page's words.
std::string_view attention_name(Attention attention);

/// What one look at a terminal reads.
struct AttentionLook {
  Activity activity = Activity::kUnknown;
  /// The text of the cursor's row.
  std::string_view cursor_line;
  bool alternate = false;
  /// The program waits at its idle prompt, as the turn rule learned it
  /// (at_home_prompt), or at a prompt its shell marked.
  bool at_home = false;
  /// The turn rule has learned the program's idle prompt.
  bool home_known = false;
};

/// True when the look shows a question waiting for the person: the same
/// evidence as an asked turn's end in "awaiting input". The foreground waits
/// for the terminal (or the kernel cannot tell), and the cursor line asks
/// (looks_like_input_request), or the program waits away from its learned
/// idle prompt. A full-screen program waiting for keys (an editor, a pager,
/// a monitor) is not taken for a question unless its cursor line asks in
/// words: its ":" is a command line, not a question.
bool awaits_input(const AttentionLook& look);

class AttentionTracker {
 public:
  /// Output this soon after a key of the person's is its echo.
  static constexpr std::chrono::milliseconds kEcho{300};
  /// How long output must have been quiet before a look.
  static constexpr std::chrono::milliseconds kQuiet{300};
  /// The least time between two looks: a look reads /proc (some
  /// milliseconds with a few hundred processes), and a program that prints
  /// a line now and then must not make the host scan it each time.
  static constexpr std::chrono::milliseconds kLookEvery{1000};
  /// Work at least this long is "finished" when it ends.
  static constexpr std::chrono::milliseconds kStretch{2000};
  /// Silent work is looked at again after this, then twice as long each
  /// time up to kRecheckMost.
  static constexpr std::chrono::milliseconds kRecheckFirst{1000};
  static constexpr std::chrono::milliseconds kRecheckMost{8000};

  Attention state() const { return state_; }

  // Each of these is true when it changed state().

  /// The program wrote output at `at`, with the alternate screen shown or not.
  bool output(Clock::time_point at, bool alternate);
  /// The person typed into the terminal at `at`: they look at it.
  bool typed(Clock::time_point at);
  /// The person looked at the terminal.
  bool seen();
  bool turn_started(Clock::time_point at);
  bool turn_ended(Clock::time_point at);
  /// Why the turn that just ended ended (TurnVerdict::reason).
  bool turn_reason(std::string_view reason);
  bool exited();
  /// Applies a look taken at `now`.
  bool looked(Clock::time_point now, const AttentionLook& look);

  /// When a look can tell something new; empty until an event.
  std::optional<Clock::time_point> look_due() const;

 private:
  bool set(Attention state);

  Attention state_ = Attention::kIdle;
  bool exited_ = false;
  bool in_turn_ = false;
  bool finished_ = false;
  /// The last asked turn ended awaiting input, and nothing happened since.
  bool question_ = false;
  bool look_pending_ = true;
  Clock::time_point typed_at_{};
  /// The last output, key or end of a turn: a look waits kQuiet after it.
  Clock::time_point event_at_{};
  /// The current stretch of work: its start and its last sign.
  std::optional<Clock::time_point> work_since_;
  Clock::time_point work_until_{};
  Clock::time_point looked_at_{};
  /// Zero unless the last look found silent work.
  Clock::duration recheck_{};
};

}  // namespace host
