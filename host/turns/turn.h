#pragma once
// The turn of a peer that was asked something: when it has ended, whether it
// ended waiting for input, and what the terminal produced in it. Pure logic:
// the event loop feeds in times, screen text and the pty's state, nothing
// here reads a clock or a descriptor.
//
// The rule, as the loop applies it to one asked terminal. Evidence from the
// kernel comes first (what the foreground processes are blocked in, see
// pty/foreground.h), the screen second, for what the kernel cannot tell: its
// text, and what an agent's terminal UI draws around its input (its input
// box, its footer, its signs of work: live_region.h).
//
//  1. The prompt is typed once the program is ready for it: its foreground
//     waits for input ("waiting" or "ticking"), its screen shows no sign of
//     work (unless it waits with no timer, or the sign has stood still for
//     `settle`), and its output has been quiet for `idle_quiet` (the first time
//     a ticking program shows a blank cursor line, for `settle`: it may tick
//     before its prompt is up); or the kernel says nothing ("unknown") and
//     the program was ready before or has been quiet for `settle`. While the
//     foreground runs or is busy (a command of an earlier ask whose asker
//     gave up still runs) the ask waits for it, counted against `max_wait`
//     (`kTimedOut`, "[still busy after T; nothing was typed]"). The first
//     time, the program's home is learned (`learn_home`): its group, the
//     terminal's mode, its cursor line (the idle prompt) and the rows
//     around its input (its idle look). So the first ask to a new peer never
//     sees its start-up screen.
//  2. The prompt text is written at `typed`. The Enter follows as a write of
//     its own once the program has taken the text: its echo (or redraw) has
//     come and the terminal has then been quiet for `enter_quiet`; at the
//     latest `enter_delay` after `typed`. Programs that treat fast input as a
//     paste still see typing, and the Enter as "submit".
//  3. A peer whose process has exited (and whose output has been read to the
//     end) has ended its turn: `kExited`. A shell that marks its prompts
//     (OSC 133 with the terminal's key: only a shell the host's bootstrap set
//     up, as over ssh, knows it) and has marked a new one since the Enter,
//     with no command started after it, is back at its prompt: after
//     `idle_quiet` the turn has ended, `kEnded` ("prompt"), unless the
//     kernel shows the foreground running or busy (a mark is the shell's
//     word, and never outweighs the kernel's). Such a mark also makes the
//     program ready (1).
//  4. What the foreground group does (pty/foreground.h), after the Enter and
//     the first output after it that leaves the cursor off the end of the
//     prompt's echo (the program has taken the Enter: on a loaded machine
//     the kernel may hand the typed bytes on late, the text's echo coming
//     after the Enter was written, and until then the program still
//     waits; without any such output, after `settle`):
//     a. running or busy (a process runs, sleeps on a timer, or waits for a
//        child, a pipe or a socket): the turn goes on, whatever the screen
//        shows. Never an early end while the peer works.
//     b. waiting (every process blocked, one on the terminal, no timer):
//        after `idle_quiet` without output the turn has ended: `kEnded`
//        ("prompt") at the idle prompt (6), else `kAwaitingInput` ("input"):
//        a question, a continuation prompt, a pager, an editor.
//     c. ticking (blocked, polling the terminal with a timer pending), or
//        unknown, for a program that draws around its input (an agent's
//        input box and footer; `InputChrome::framed`): its screen decides,
//        by rule 5. Other ticking programs: at the idle prompt (6), with no
//        sign of work, after `idle_quiet`, `kEnded` ("prompt"); with a blank
//        cursor line the turn goes on (a REPL evaluating with a timer set:
//        node).
//     d. ticking on the alternate screen: `settle` after the Enter, `kEnded`
//        ("redraw") whatever it keeps redrawing (a monitor such as htop waits
//        for keys between its redraws), unless it shows a sign of work, or
//        is an agent that has shown one in this turn (rule 5 decides).
//     e. unknown (a relay such as ssh, or /proc unreadable): the screen's
//        text decides, by rules 8 to 11; but while a shell that marks its
//        prompts has marked a command's start and not yet its next prompt,
//        a blank cursor line holds the turn (the command is at work and
//        silent, as `sleep` is).
//  5. An agent's screen (4c). While it shows a sign of work (a spinner that
//     animates, a running timer, "esc to interrupt", also standing still
//     in a pause of a streamed answer) its turn goes on. Once its output has
//     been quiet for `agent_quiet` with no sign of work: its idle look is
//     back (the rows from its input line down, or the block above a hidden
//     cursor parked below them, as they were when it was idle, but for
//     digits and the width of gaps) and it has
//     left it since the Enter (it showed a sign of work, or another look
//     for as long) ends the turn, `kEnded` ("prompt"); another look with
//     a question on the cursor line or a numbered menu near the bottom
//     ends it as `kAwaitingInput` ("input"): a permission. Otherwise the
//     settle time (11) ends it. An agent back at its idle look that the
//     kernel catches running (a tick between its timed waits) is looked at
//     again soon.
//  6. The idle prompt (`at_home_prompt`): the foreground is the home group,
//     the mode and the alternate screen are the home's, and the cursor line
//     is like a learned prompt: equal to it, or (a prompt that shows the
//     directory or the last status) with the same first and last character,
//     or ending in a learned prompt (output without a final line feed before
//     it; with an empty learned prompt, any line that is no question).
//     Continuation prompts ("... ", "   ...> ") differ in their first
//     character and count as awaiting input. Every turn that ends "prompt"
//     learns the prompt it ended on, and the rows around its input.
//  7. The turn's quiet time is how long nothing has happened: no output and
//     no hold (8) since the later of the Enter and the last of those.
//  8. (text) Where the kernel says nothing (unknown), the turn is held
//     while a child program holds the foreground (the pty's foreground
//     process group is neither the program's own group nor the one at
//     `typed`), and while a line editor has handed the terminal to the
//     command it read (raw at `typed`, canonical now). A held turn ends only
//     by 3, 9 or 12. (Where the kernel speaks, it decides: a child that took
//     the foreground and ticks quietly, a REPL or an agent a shell started,
//     waits for input, and the settle time ends the turn, 11.)
//  9. (text) No output for `settle` since the later of the Enter and the last
//     output, with a cursor line that looks like a question or an input
//     request (`looks_like_input_request`), ends the turn as
//     `kAwaitingInput`, held or not.
// 10. (text) A turn whose idle prompt is back (`prompt_is_back`) and that
//     shows no sign of work ends after a quiet time of `idle_quiet`:
//     `kEnded`, for the reason "prompt".
// 11. (text) Any other turn ends after a quiet time of `settle`: `kEnded`,
//     for the reason "quiet".
// 12. A turn that is not over `max_wait` after the ask is `kTimedOut`.
// 13. Otherwise the turn is `kRunning`.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loop/clock.h"
#include "pty/pty_state.h"
#include "screen/screen.h"

namespace host {

/// The timing of a turn; `settle` and `max_wait` are options of `serve`.
struct TurnRule {
  /// The quiet time that ends a turn showing no other sign of its end.
  std::chrono::milliseconds settle{2000};
  /// Upper bound on the wait for one turn, counted from the typed prompt.
  std::chrono::milliseconds max_wait{std::chrono::minutes(10)};
  /// The longest pause between the prompt text and its Enter.
  std::chrono::milliseconds enter_delay{200};
  /// Quiet after the echo of the prompt that lets the Enter go earlier.
  std::chrono::milliseconds enter_quiet{30};
  /// The quiet time that ends a turn whose idle prompt is back.
  std::chrono::milliseconds idle_quiet{50};
  /// The quiet time that ends the turn of an agent whose idle look is back
  /// (rule 5): longer than the 80 to 100 ms between its frames.
  std::chrono::milliseconds agent_quiet{300};
  /// How often a held turn is looked at, to see when it is let go.
  std::chrono::milliseconds held_poll{100};
};

enum class TurnState {
  kRunning,        ///< not over yet
  kEnded,          ///< answered: the prompt is back, or quiet without a question
  kAwaitingInput,  ///< quiet, and the cursor line asks a question
  kExited,         ///< the peer's process exited during the turn
  kTimedOut,       ///< `max_wait` passed without an end of turn
};

/// The state of a turn and, once it is over, one word for why: "prompt",
/// "quiet", "input", "exited" or "max-wait" from the rule; Asks adds
/// "dismissed", "cancelled" and "failed".
struct TurnVerdict {
  TurnState state = TurnState::kRunning;
  std::string_view reason;
};

/// Where a turn starts: the cursor's row when the prompt is typed and that
/// row's text then (normally the program's idle prompt), and how the
/// terminal was set then.
struct TurnMark {
  std::uint64_t row = 0;
  std::string text;  ///< right-trimmed
  /// The absolute row of the top of the visible screen and its rows then,
  /// right-trimmed: what was on the screen already.
  std::uint64_t top = 0;
  std::vector<std::string> screen{};
  /// The program drew on the alternate screen.
  bool alternate = false;
  std::optional<pid_t> foreground = std::nullopt;
  std::optional<TtyMode> mode = std::nullopt;
  /// Prompts the shell had marked (PromptMarks::prompts).
  std::uint64_t prompts = 0;
  /// The rows around the input (live_region.h).
  InputChrome chrome{};
};

/// Takes the mark from the screen and the pty just before the prompt is typed.
TurnMark mark_turn(const ScreenText& before, const PtyState& pty);

/// What the rule reads from the terminal at one instant.
struct TurnSignals {
  /// The text of the cursor's row.
  std::string_view cursor_line;
  /// See `prompt_is_back`.
  bool prompt_back = false;
  /// A child holds the foreground, or a line editor handed the terminal to
  /// a command (rule 7).
  bool held = false;
  /// What the foreground does (rule 4).
  Activity activity = Activity::kUnknown;
  /// The cursor line is the program's idle prompt (rule 6).
  bool at_home = false;
  bool alternate = false;
  /// The shell has marked a new prompt since the mark and waits at it (3).
  bool marked_prompt = false;
  /// The shell marks its prompts and a command it started runs (4e).
  bool marked_command = false;
  /// The screen shows a sign of work (rule 5).
  bool working = false;
  /// The program draws around its input (rule 4c); then its idle look is
  /// back, or it asks for a choice (rule 5).
  bool framed = false;
  bool idle_look = false;
  bool choice = false;
  /// The cursor still stands at the end of the prompt's echo
  /// (`echo_pending`): the program has not taken the Enter yet.
  bool echo_pending = false;
};

/// True when the cursor line `line` ends where the echo of `prompt` (as it
/// was typed) ends: the Enter has not reached the program yet. On a loaded
/// machine the kernel may hand the typed bytes on to the program late, so
/// that the echo of the text comes after the Enter was written while the
/// program still waits for it. The end of a long echo that wrapped counts
/// when it is at least 8 characters.
bool echo_pending(std::string_view line, std::string_view prompt);

/// True when the cursor line `line` is like the learned prompt `learned`
/// (rule 6). Both are right-trimmed.
bool similar_prompt(std::string_view learned, std::string_view line);

/// Where on the cursor line `line` the idle prompt starts (rule 6): 0 when
/// the line is like a learned prompt, the byte where a learned prompt it
/// ends with starts when output without a final line feed stands before it
/// (with an empty learned prompt: the end of a line that is no question),
/// std::string_view::npos when it is no idle prompt.
std::size_t prompt_start(const Home& home, std::string_view line);

/// Rule 6: the program waits at its idle prompt, as far as `home` knows it.
bool at_home_prompt(const Home& home, const ScreenText& now, const PtyState& pty);

/// Rule 1: the program is ready for a prompt. `quiet` is how long its output
/// has been quiet; `working`, whether its screen shows a sign of work.
bool ready_for_prompt(const Home& home, const ScreenText& now, const PtyState& pty, Clock::duration quiet,
                      const TurnRule& rule, bool working = false);

/// Learns the program's home from the terminal as it is when it first waits
/// for input (rule 1), unless it waits in a question.
void learn_home(Home& home, const ScreenText& now, const PtyState& pty);

/// True when the program is back at its idle prompt as a shell or a REPL
/// comes back to it, which a full-screen program that keeps its input line
/// on screen while it works cannot fake:
///  - the cursor is on another row than the mark's, that row reads exactly
///    the mark's text (not empty, and not a question), and it is the last
///    row of the screen that is not blank;
///  - neither then nor now is the program on the alternate screen;
///  - the foreground belongs to the program (its own group or the one at
///    the mark), and the terminal's mode is the one at the mark: canonical,
///    or a line editor's that leaves Ctrl-C to the terminal.
bool prompt_is_back(const TurnMark& mark, const ScreenText& now, const PtyState& pty);

/// The idle look of an agent (rule 5) to compare its screen with: the home's
/// while the home group holds the foreground, else the mark's.
const InputChrome& idle_chrome(const TurnMark& mark, const PtyState& pty, const Home& home);

/// The signals of `now`; the cursor line points into `now`. `working` says
/// whether the screen shows a sign of work (Terminal::shows_work).
TurnSignals read_signals(const TurnMark& mark, const ScreenText& now, const PtyState& pty, const Home& home = Home{},
                         bool working = false);

/// The clock side of one turn: fed with events, asked for the state.
class TurnTracker {
 public:
  /// Starts a turn whose prompt text was written at `typed`, for an ask that
  /// came at `asked` (`max_wait` counts from there).
  TurnTracker(const TurnRule& rule, Clock::time_point typed, Clock::time_point asked);
  TurnTracker(const TurnRule& rule, Clock::time_point typed) : TurnTracker(rule, typed, typed) {}

  /// True until `enter_written` is called.
  bool enter_pending() const { return !enter_written_; }
  /// When the Enter is due (rule 1), as far as the output seen so far tells.
  Clock::time_point enter_due() const;
  /// Records that the Enter was written at `at`.
  void enter_written(Clock::time_point at);
  /// Records output of the terminal at `at`.
  void output_seen(Clock::time_point at);
  /// Records that the process has exited and its output has been read.
  void peer_exited() { exited_ = true; }

  /// Records what the terminal shows at `now` and returns the turn's state.
  TurnVerdict judge(Clock::time_point now, const TurnSignals& signals);
  /// The next instant at which `judge` may change without new output: the
  /// Enter, the end of a quiet time, the next look at a held turn, or the
  /// upper bound. Lies in the past when the turn is over already.
  Clock::time_point next_deadline() const;
  /// When to judge again after output at `at`: the Enter or the end of the
  /// turn may come soon after it.
  Clock::time_point recheck_after_output(Clock::time_point at) const;

 private:
  /// Records what `signals` say at `now`.
  void note(Clock::time_point now, const TurnSignals& signals);
  /// Rules 4 to 11, after the Enter, for a peer that neither runs nor is
  /// busy: a verdict, or none yet.
  std::optional<TurnVerdict> judge_free(Clock::time_point now, const TurnSignals& signals);
  /// Rule 5, for an agent's screen.
  std::optional<TurnVerdict> judge_agent(Clock::time_point now, const TurnSignals& signals);
  /// The later of the Enter and the last output.
  Clock::time_point output_since() const;
  /// The start of the quiet time (rule 3): output_since() or the last look
  /// that found the turn held.
  Clock::time_point quiet_since() const;

  TurnRule rule_;
  Clock::time_point typed_;
  Clock::time_point asked_;
  Clock::time_point enter_at_{};
  Clock::time_point last_output_{};
  Clock::time_point held_at_{};
  Clock::time_point judged_at_{};
  bool enter_written_ = false;
  bool exited_ = false;
  /// From the last judgement.
  bool held_ = false;
  bool prompt_back_ = false;
  bool question_ = false;
  bool echo_pending_ = false;
  Activity activity_ = Activity::kUnknown;
  bool at_home_ = false;
  bool alternate_ = false;
  bool marked_prompt_ = false;
  bool working_ = false;
  bool agent_ = false;
  /// The agent has left its idle look since the Enter, and it has shown a
  /// sign of work (rule 5).
  bool left_idle_ = false;
  bool worked_ = false;
  bool agent_back_ = false;
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

/// What the end of a turn tells turn_output.
struct TurnEnd {
  /// The turn ended at the idle prompt on the cursor row (reason "prompt").
  bool at_prompt = false;
  /// Then, where on the cursor row the prompt starts (prompt_start): output
  /// without a final line feed may stand before it.
  std::size_t prompt_from = 0;
  /// The row at which the normal screen went on, when the program has left
  /// the alternate screen since the mark (a pager or an editor quit).
  std::optional<std::uint64_t> normal_from = std::nullopt;
  /// The idle look of a program that draws around its input (an agent),
  /// and the signs of work its screen showed; null for others.
  const InputChrome* chrome = nullptr;
  const WorkSigns* signs = nullptr;
};

/// What the terminal produced after the prompt, as rows joined by "\n", each
/// right-trimmed, rows the terminal wrapped at its margin joined again,
/// without leading or trailing blank rows and without a final line feed.
/// Which rows count:
///  - While the mark row is still kept and still begins with the mark text
///    (and neither then nor now is the alternate screen shown), that row
///    without the mark text and the white space after it, and every row
///    after it.
///  - When the mark row has scrolled out of the kept scrollback, every kept
///    row, after a line "[... N earlier lines not kept]".
///  - When the program has left the alternate screen since the mark and
///    `end.normal_from` says at which row the normal screen went on: the
///    rows from there on.
///  - When the mark row was rewritten (a full-screen program redrew, or the
///    screen was cleared), the alternate screen is shown, or the program
///    draws around its input (`end.chrome`, an agent that redraws its live
///    region): the rows, from the top of the screen at the mark on (the
///    alternate screen: the visible rows) and through the kept scrollback,
///    that are not among the rows the screen showed at the mark (a longest
///    common subsequence of the two): what changed, not what was on the
///    screen already.
/// The echoed prompt is left out of the first rows: the shortest run whose
/// concatenation, with white space removed, begins with `prompt` with white
/// space removed (an empty prompt: the first row alone), after the mark
/// text; the echo starts at the cursor, so the first row must not be blank.
/// A transcript's quote of the prompt ("> hello") is left out as an echo.
/// When the turn ended at the idle prompt (`end.at_prompt`), that prompt is
/// left out: the cursor row from `end.prompt_from` on, other rows that read
/// exactly as it (an empty command's, after a key that quit a pager), and a
/// sign of output without a final line feed that zsh or fish drew at the
/// end of the row above it ("%", "#" or "⏎" in reverse video or faint);
/// without `end.at_prompt`, the cursor row when it is the last non-blank row
/// and equals the non-empty mark text. For an agent, its signs of work are
/// left out, and so are its input box and footer: the rows from its input
/// line down when the turn ended at its idle look, and rows at the end that
/// are blank or of the shape of a row of its idle look.
std::string turn_output(const TurnMark& mark, const ScreenText& now, std::string_view prompt,
                        const TurnEnd& end = TurnEnd{});

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
/// `duration_text` writes a duration that way.
TurnAnswer answer_turn(TurnState state, std::string output, const TurnRule& rule, int wait_status);
std::string duration_text(std::chrono::milliseconds d);

}  // namespace host
