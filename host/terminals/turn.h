#pragma once
// The turn of a peer that was asked something: when it has ended, whether it
// ended waiting for input, and what the terminal produced in it. Pure logic:
// the event loop feeds in times and screen text, nothing here reads a clock
// or a descriptor.
//
// The rule, as the loop applies it to one asked terminal:
//
//  1. The prompt text is written at `typed`; the Enter follows as a write of
//     its own once `enter_delay` has passed, so that programs which treat fast
//     input as a paste still take the Enter as "submit".
//  2. A peer whose process has exited (and whose output has been read to the
//     end) has ended its turn: `kExited`, answered with what it printed and a
//     note saying how it exited.
//  3. Once the Enter is written, the turn is quiet when no output has come for
//     `settle` since the later of the Enter and the last output. A quiet turn
//     has ended: `kAwaitingInput` when the cursor line looks like a question
//     or an input request (`looks_like_input_request`), `kEnded` otherwise.
//  4. A turn that is not over `max_wait` after `typed` is `kTimedOut`; it is
//     answered with what is there so far and a note.
//  5. Otherwise the turn is `kRunning`.
//
// A peer that prints nothing at all for `settle` after the Enter has ended its
// turn with an empty answer; programs that think silently for longer need a
// larger settle time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "loop/clock.h"
#include "terminals/screen.h"

namespace host {

/// The timing of a turn; `settle` and `max_wait` are options of `serve`.
struct TurnRule {
  /// How long the terminal must stay silent before its turn counts as ended.
  std::chrono::milliseconds settle{2000};
  /// Upper bound on the wait for one turn, counted from the typed prompt.
  std::chrono::milliseconds max_wait{std::chrono::minutes(10)};
  /// Pause between the prompt text and its Enter.
  std::chrono::milliseconds enter_delay{200};
};

enum class TurnState {
  kRunning,        ///< not over yet
  kEnded,          ///< quiet, and the cursor line asks nothing: answered
  kAwaitingInput,  ///< quiet, and the cursor line asks a question
  kExited,         ///< the peer's process exited during the turn
  kTimedOut,       ///< `max_wait` passed without an end of turn
};

/// The clock side of one turn: fed with events, asked for the state.
class TurnTracker {
 public:
  /// Starts a turn whose prompt text was written at `typed`.
  TurnTracker(const TurnRule& rule, Clock::time_point typed);

  /// True until `enter_written` is called.
  bool enter_pending() const { return !enter_written_; }
  /// When the Enter is due.
  Clock::time_point enter_due() const { return typed_ + rule_.enter_delay; }
  /// Records that the Enter was written at `at`.
  void enter_written(Clock::time_point at);
  /// Records output of the terminal at `at`.
  void output_seen(Clock::time_point at);
  /// Records that the process has exited and its output has been read.
  void peer_exited() { exited_ = true; }

  /// The state at `now`, given the text of the row the cursor is on.
  TurnState judge(Clock::time_point now, std::string_view cursor_line) const;
  /// The next instant at which `judge` may change without a new event (the
  /// Enter, the end of the settle time, or the upper bound): the loop's
  /// timer. Lies in the past when the turn is over already.
  Clock::time_point next_deadline() const;

 private:
  Clock::time_point quiet_since() const;

  TurnRule rule_;
  Clock::time_point typed_;
  Clock::time_point enter_at_{};
  Clock::time_point last_output_{};
  bool enter_written_ = false;
  bool exited_ = false;
};

/// True when `line` (a screen row) ends in a question or an input request.
/// Trailing and leading white space (ASCII, U+00A0), box-drawing characters
/// (U+2500-U+257F) and block elements (U+2580-U+259F), which full-screen
/// programs draw around their input fields, are ignored. What is left counts
/// when it
///  - ends in "?" or ":" (also their full-width forms U+FF1F and U+FF1A), as in
///    "Proceed?" or "Password:";
///  - ends in a choice group: "[...]" or "(...)" holding two or more
///    alternatives separated by "/", each 1 to 8 ASCII letters, one of them
///    y, yes, n, no, j, ja or nein in any letter case ("[y/n]", "(y/N)",
///    "(yes/no)", "[Y/n/q]");
///  - contains "press enter", "press return" or "press any key" (any case).
/// A line ending in ">", "$", "#" or "%" is a program's idle prompt and does
/// not count: the program is ready for the next prompt, so its turn has ended.
bool looks_like_input_request(std::string_view line);

/// Where a turn's output starts: the cursor's row when the prompt is typed
/// and that row's text then (normally the program's idle prompt).
struct TurnMark {
  std::uint64_t row = 0;
  std::string text;  ///< right-trimmed
};

/// Takes the mark from the screen just before the prompt is typed.
TurnMark mark_turn(const ScreenText& before);

/// What the terminal produced after the prompt, as rows joined by "\n", each
/// right-trimmed, without leading or trailing blank rows and without a final
/// line feed. Which rows count:
///  - While the mark row is still kept and still begins with the mark text,
///    that row without the mark text and the white space after it, and every
///    row after it. The echoed prompt
///    is left out: the shortest run of these rows whose concatenation, with
///    white space removed, begins with `prompt` with white space removed (an
///    empty prompt: the first row alone). The echo starts at the cursor, so
///    the first row must not be blank. Without such a run nothing is left out.
///  - When the mark row has scrolled out of the kept scrollback, every kept row
///    (the echo went with the mark row).
///  - When the mark row was rewritten (a full-screen program redrew, or the
///    screen was cleared), the visible screen.
/// In each case the cursor row is left out when it is the last non-blank row
/// and equals the non-empty mark text: the program's idle prompt is back.
std::string turn_output(const TurnMark& mark, const ScreenText& now, std::string_view prompt);

/// The answer for one peer once its turn is over.
struct TurnAnswer {
  std::string output;
  bool awaiting_input = false;
};

/// Builds the answer from the final `state` and the turn's `output`. For
/// `kExited` a line "[exited with status N]" or "[terminated by signal N]"
/// is appended, decoded from `wait_status` (as waitpid gives it); for
/// `kTimedOut` a line "[no end of turn after T]" with `rule.max_wait`
/// ("600 s", or "1500 ms" when not whole seconds). Other states add nothing.
TurnAnswer answer_turn(TurnState state, std::string output, const TurnRule& rule, int wait_status);

}  // namespace host
