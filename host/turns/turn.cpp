#include "turns/turn.h"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <optional>

#include "screen/live_region.h"
#include "utf8.h"

namespace host {

// --- the clock side -------------------------------------------------------

namespace {

constexpr std::string_view kPromptBack = "prompt";
constexpr std::string_view kQuiet = "quiet";
constexpr std::string_view kInput = "input";
constexpr std::string_view kExitedReason = "exited";
constexpr std::string_view kMaxWait = "max-wait";
constexpr std::string_view kRedraw = "redraw";
/// How soon an agent back at its idle look but running is looked at again.
constexpr auto kAgentRecheck = std::chrono::milliseconds(20);

std::string_view strip_blank(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

}  // namespace

TurnTracker::TurnTracker(const TurnRule& rule, Clock::time_point typed, Clock::time_point asked)
    : rule_(rule), typed_(typed), asked_(std::min(asked, typed)) {}

Clock::time_point TurnTracker::enter_due() const {
  Clock::time_point latest = typed_ + rule_.enter_delay;
  if (last_output_ <= typed_) return latest;  // no echo yet
  return std::min(last_output_ + rule_.enter_quiet, latest);
}

void TurnTracker::enter_written(Clock::time_point at) {
  enter_written_ = true;
  enter_at_ = at;
}

void TurnTracker::output_seen(Clock::time_point at) { last_output_ = std::max(last_output_, at); }

Clock::time_point TurnTracker::output_since() const { return std::max(enter_at_, last_output_); }

Clock::time_point TurnTracker::quiet_since() const { return std::max(output_since(), held_at_); }

void TurnTracker::note(Clock::time_point now, const TurnSignals& signals) {
  judged_at_ = now;
  activity_ = signals.activity;
  at_home_ = signals.at_home;
  alternate_ = signals.alternate;
  working_ = signals.working;
  bool busy = activity_ == Activity::kRunning || activity_ == Activity::kBusy;
  bool ticking = activity_ == Activity::kTicking;
  agent_ = signals.framed && (ticking || activity_ == Activity::kUnknown);
  // Back at its idle look but caught running (a tick between its timed
  // waits, or waiting for a processor): it is looked at again soon.
  agent_back_ = signals.framed && busy && signals.idle_look && left_idle_ && !working_;
  marked_prompt_ = signals.marked_prompt && !busy;
  bool silent_command = ticking ? !at_home_ : activity_ == Activity::kUnknown && signals.marked_command;
  bool blank_wait = silent_command && !agent_ && !alternate_ && strip_blank(signals.cursor_line).empty();
  // A child that took the foreground and waits on the terminal holds the
  // turn only by the kernel's word: it ticks, so the settle time ends it.
  held_ = busy || blank_wait || (activity_ == Activity::kUnknown && signals.held);
  prompt_back_ = signals.prompt_back && !held_ && !working_ && !agent_;
  question_ = looks_like_input_request(signals.cursor_line) && !busy;
  echo_pending_ = signals.echo_pending;
  if (held_) held_at_ = std::max(held_at_, now);
}

TurnVerdict TurnTracker::judge(Clock::time_point now, const TurnSignals& signals) {
  note(now, signals);
  if (exited_) return {TurnState::kExited, kExitedReason};
  if (enter_written_ && marked_prompt_ && now - output_since() >= rule_.idle_quiet) {
    return {TurnState::kEnded, kPromptBack};
  }
  bool busy = activity_ == Activity::kRunning || activity_ == Activity::kBusy;
  if (enter_written_ && !busy) {
    if (std::optional<TurnVerdict> v = judge_free(now, signals)) return *v;
  }
  if (now - asked_ >= rule_.max_wait) return {TurnState::kTimedOut, kMaxWait};
  return {};
}

std::optional<TurnVerdict> TurnTracker::judge_free(Clock::time_point now, const TurnSignals& signals) {
  // The program has taken the Enter once it has answered it (the Enter's
  // echo, a prompt): a loaded machine may hand the Enter on late, and until
  // then the program waits as it did before it. Output after the Enter that
  // leaves the cursor at the end of the text's echo is that echo, late too.
  bool answered = last_output_ > enter_at_ && !echo_pending_;
  bool taken = answered || now - enter_at_ >= rule_.settle;
  bool idle = taken && now - output_since() >= rule_.idle_quiet;
  bool ticking = activity_ == Activity::kTicking;
  if (activity_ == Activity::kWaiting) {
    if (!idle) return std::nullopt;
    return at_home_ ? TurnVerdict{TurnState::kEnded, kPromptBack} : TurnVerdict{TurnState::kAwaitingInput, kInput};
  }
  if (agent_) {
    if (std::optional<TurnVerdict> v = judge_agent(now, signals)) return v;
  } else if (ticking && at_home_ && idle && !working_) {
    return TurnVerdict{TurnState::kEnded, kPromptBack};
  }
  if (ticking && alternate_ && !working_ && !worked_ && now - enter_at_ >= rule_.settle) {
    return TurnVerdict{TurnState::kEnded, kRedraw};
  }
  // A program that waits for an answer is quiet, whoever holds the terminal.
  if (question_ && now - output_since() >= rule_.settle) return TurnVerdict{TurnState::kAwaitingInput, kInput};
  auto quiet = now - quiet_since();
  if (prompt_back_ && quiet >= rule_.idle_quiet) return TurnVerdict{TurnState::kEnded, kPromptBack};
  if (!held_ && quiet >= rule_.settle) return TurnVerdict{TurnState::kEnded, kQuiet};
  return std::nullopt;
}

std::optional<TurnVerdict> TurnTracker::judge_agent(Clock::time_point now, const TurnSignals& signals) {
  if (working_) {
    left_idle_ = worked_ = true;
    return std::nullopt;
  }
  if (now - output_since() < rule_.agent_quiet) return std::nullopt;
  if (signals.idle_look) {
    if (left_idle_) return TurnVerdict{TurnState::kEnded, kPromptBack};
    return std::nullopt;
  }
  left_idle_ = true;
  if (signals.choice) return TurnVerdict{TurnState::kAwaitingInput, kInput};
  return std::nullopt;
}

Clock::time_point TurnTracker::next_deadline() const {
  if (exited_) return typed_;
  Clock::time_point limit = asked_ + rule_.max_wait;
  if (!enter_written_) return std::min(enter_due(), limit);
  Clock::time_point next = held_          ? held_at_ + rule_.held_poll
                           : prompt_back_ ? quiet_since() + rule_.idle_quiet
                                          : quiet_since() + rule_.settle;
  if (question_) next = std::min(next, output_since() + rule_.settle);
  if (marked_prompt_) next = std::min(next, output_since() + rule_.idle_quiet);
  // The kernel's view changes without output: a program stops running, or
  // starts to wait. Look again soon.
  if (activity_ != Activity::kUnknown) {
    Clock::time_point idle_at = output_since() + rule_.idle_quiet;
    next = std::min(next, idle_at > judged_at_ ? idle_at : judged_at_ + rule_.held_poll);
  }
  if (agent_back_) next = std::min(next, judged_at_ + kAgentRecheck);
  if (agent_ && !working_) {
    Clock::time_point still_at = output_since() + rule_.agent_quiet;
    next = std::min(next, still_at > judged_at_ ? still_at : judged_at_ + rule_.held_poll);
  }
  if (activity_ == Activity::kTicking && alternate_) next = std::min(next, enter_at_ + rule_.settle);
  return std::min(next, limit);
}

Clock::time_point TurnTracker::recheck_after_output(Clock::time_point at) const {
  return at + (enter_written_ ? rule_.idle_quiet : rule_.enter_quiet);
}

// --- the cursor line --------------------------------------------------------

namespace {

bool is_ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

/// White space and the frame characters full-screen programs draw around
/// their input fields.
bool is_padding(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' || c == 0xA0 ||
         (c >= 0x2500 && c <= 0x259F);
}

std::string_view strip_padding(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    std::size_t at = end;
    if (!is_padding(utf8::previous_code_point(s, at))) break;
    end = at;
  }
  std::size_t begin = 0;
  while (begin < end) {
    std::size_t next = begin;
    if (!is_padding(utf8::next_code_point(s, next))) break;
    begin = next;
  }
  return s.substr(begin, end - begin);
}

bool is_yes_no_word(std::string_view w) {
  std::string l = lowered(w);
  return l == "y" || l == "yes" || l == "n" || l == "no" || l == "j" || l == "ja" || l == "nein";
}

/// "[y/n]", "(yes/no)" and the like at the end of `s`.
bool ends_in_choice_group(std::string_view s) {
  char close = s.back();
  if (close != ']' && close != ')') return false;
  char open = close == ']' ? '[' : '(';
  std::size_t start = s.find_last_of(open);
  if (start == std::string_view::npos) return false;
  std::string_view inner = s.substr(start + 1, s.size() - start - 2);
  std::size_t alternatives = 0;
  bool yes_no = false;
  while (true) {
    std::size_t slash = inner.find('/');
    std::string_view word = inner.substr(0, slash);
    if (word.empty() || word.size() > 8 || !std::all_of(word.begin(), word.end(), is_letter)) return false;
    ++alternatives;
    yes_no = yes_no || is_yes_no_word(word);
    if (slash == std::string_view::npos) break;
    inner.remove_prefix(slash + 1);
  }
  return alternatives >= 2 && yes_no;
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

bool looks_like_input_request(std::string_view line) {
  std::string_view s = strip_padding(line);
  if (s.empty()) return false;
  for (std::string_view tail : {"?", ":", "\uFF1F", "\uFF1A"}) {
    if (ends_with(s, tail)) return true;
  }
  if (ends_in_choice_group(s)) return true;
  std::string l = lowered(s);
  for (std::string_view phrase : {"press enter", "press return", "press any key"}) {
    if (l.find(phrase) != std::string::npos) return true;
  }
  return false;
}

// --- the output of a turn ---------------------------------------------------

namespace {

std::string_view rtrim(std::string_view s) {
  while (!s.empty() && is_ascii_space(s.back())) s.remove_suffix(1);
  return s;
}

std::string squeezed(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (!is_ascii_space(c)) out.push_back(c);
  }
  return out;
}

}  // namespace

bool echo_pending(std::string_view line, std::string_view prompt) {
  std::string text = squeezed(prompt), shown = squeezed(line);
  if (text.empty() || shown.empty()) return false;
  return shown.ends_with(text) || (shown.size() >= 8 && text.ends_with(shown));
}

namespace {

/// How many leading rows hold the echoed prompt; 0 when they do not begin
/// with it.
std::size_t echo_rows(const std::vector<std::string_view>& rows, std::string_view prompt) {
  std::string wanted = squeezed(prompt);
  if (rows.empty() || (!wanted.empty() && squeezed(rows[0]).empty())) return 0;  // the echo starts at the cursor
  std::string seen;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    seen += squeezed(rows[k]);
    if (seen.size() >= wanted.size()) return seen.starts_with(wanted) ? k + 1 : 0;
    if (!wanted.starts_with(seen)) return 0;
  }
  return 0;
}

/// Like echo_rows for a full-screen program's transcript, which quotes the
/// prompt after a short marker of its own ("> hello", "❯ hello").
std::size_t quoted_echo_rows(std::vector<std::string_view> rows, std::string_view prompt) {
  std::size_t space = rows[0].find(' ');
  if (space == std::string_view::npos || space == 0 || space > 4) return 0;
  rows[0].remove_prefix(space + 1);
  return echo_rows(rows, prompt);
}

/// The index in `now.rows` of the cursor row when it is the last non-blank
/// row and shows the program's idle prompt again: the mark's text, or any
/// text when `prompt_back` says so.
std::optional<std::size_t> returned_prompt(const TurnMark& mark, const ScreenText& now, bool prompt_back) {
  if (now.cursor_row < now.first_row || now.cursor_row - now.first_row >= now.rows.size()) return std::nullopt;
  auto cursor = static_cast<std::size_t>(now.cursor_row - now.first_row);
  std::string_view line = rtrim(now.rows[cursor]);
  if (prompt_back) return cursor;  // the rule found the prompt there; a footer may follow
  if (mark.text.empty() || line != mark.text) return std::nullopt;
  for (std::size_t i = cursor + 1; i < now.rows.size(); ++i) {
    if (!rtrim(now.rows[i]).empty()) return std::nullopt;
  }
  return cursor;
}

/// The indexes in `candidates` of rows that are not part of a longest
/// common subsequence with `before`: the rows that are new.
std::vector<std::size_t> new_rows(const std::vector<std::string_view>& candidates,
                                  const std::vector<std::string>& before) {
  const std::size_t n = candidates.size(), m = before.size();
  // lcs[i][j]: the longest common subsequence of candidates[i..] and before[j..].
  std::vector<std::vector<std::uint32_t>> lcs(n + 1, std::vector<std::uint32_t>(m + 1, 0));
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = m; j-- > 0;) {
      lcs[i][j] = candidates[i] == before[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    }
  }
  std::vector<std::size_t> out;
  std::size_t i = 0, j = 0;
  while (i < n) {
    if (j < m && candidates[i] == before[j]) {
      ++i;
      ++j;
    } else if (j < m && lcs[i][j + 1] >= lcs[i + 1][j]) {
      ++j;
    } else {
      out.push_back(i++);
    }
  }
  return out;
}

/// The picked rows as lines, each row's text as `text_of` gives it: a row
/// the terminal wrapped joins the row before it when both were picked.
template <class TextOf>
std::vector<std::string> lines_of(const ScreenText& now, const std::vector<std::size_t>& picked, TextOf text_of) {
  std::vector<std::string> lines;
  for (std::size_t k = 0; k < picked.size(); ++k) {
    std::size_t i = picked[k];
    bool joins = k > 0 && picked[k - 1] + 1 == i && i < now.continued.size() && now.continued[i];
    if (joins) {
      lines.back() += text_of(i);
    } else {
      lines.emplace_back(text_of(i));
    }
  }
  return lines;
}

std::string joined_without_blank_ends(const std::vector<std::string_view>& rows) {
  std::size_t begin = 0, end = rows.size();
  while (begin < end && rows[begin].empty()) ++begin;
  while (end > begin && rows[end - 1].empty()) --end;
  std::string out;
  for (std::size_t i = begin; i < end; ++i) {
    if (i > begin) out += '\n';
    out += rows[i];
  }
  return out;
}

}  // namespace

namespace {

/// The rows of a turn's output before its echo and prompt are left out.
struct Picked {
  std::vector<std::size_t> rows;
  std::string note;
  /// The first row begins with the mark text and the echo.
  bool from_mark = true;
  /// The rows are what changed on a redrawn screen.
  bool redrawn = false;
};

Picked pick_rows(const TurnMark& mark, const ScreenText& now, const TurnEnd& end) {
  const std::uint64_t stop = now.first_row + now.rows.size();
  const std::size_t visible_from = now.rows.size() - std::min(now.screen_rows, now.rows.size());
  const bool agent = end.chrome != nullptr && end.chrome->framed();
  Picked p;
  if (mark.row < now.first_row) {
    std::uint64_t lost = now.first_row - mark.row - 1;  // the mark row held the echo
    if (lost > 0) p.note = "[... " + std::to_string(lost) + " earlier lines not kept]";
    for (std::size_t i = 0; i < now.rows.size(); ++i) p.rows.push_back(i);
    p.from_mark = false;
  } else if (mark.alternate && !now.alternate && end.normal_from && *end.normal_from >= now.first_row) {
    for (auto i = static_cast<std::size_t>(*end.normal_from - now.first_row); i < now.rows.size(); ++i) {
      p.rows.push_back(i);
    }
    p.from_mark = false;
  } else if (!agent && !mark.alternate && !now.alternate && mark.row < stop &&
             rtrim(now.rows[static_cast<std::size_t>(mark.row - now.first_row)]).starts_with(mark.text)) {
    for (auto i = static_cast<std::size_t>(mark.row - now.first_row); i < now.rows.size(); ++i) p.rows.push_back(i);
  } else {
    p.redrawn = true;
    std::size_t from = now.alternate               ? visible_from
                       : mark.top >= now.first_row ? static_cast<std::size_t>(mark.top - now.first_row)
                                                   : 0;
    from = std::min(from, now.rows.size());
    std::vector<std::string_view> candidates;
    for (std::size_t i = from; i < now.rows.size(); ++i) candidates.push_back(rtrim(now.rows[i]));
    for (std::size_t k : new_rows(candidates, mark.screen)) p.rows.push_back(from + k);
  }
  return p;
}

/// Leaves out an agent's signs of work, and its input box and footer.
void drop_chrome(std::vector<std::size_t>& picked, const ScreenText& now, const TurnEnd& end) {
  auto drop = [&](auto unwanted) {
    picked.erase(std::remove_if(picked.begin(), picked.end(), unwanted), picked.end());
  };
  if (end.signs != nullptr) drop([&](std::size_t i) { return end.signs->is_sign(now.rows[i]); });
  if (end.at_prompt) {
    RowRange chrome = input_chrome_rows(now);
    drop([&](std::size_t i) { return i >= chrome.first && i < chrome.last; });
  }
  const std::vector<std::string>& idle = end.chrome->rows;
  while (!picked.empty()) {
    std::string_view row = rtrim(now.rows[picked.back()]);
    if (!row.empty() && std::find(idle.begin(), idle.end(), row_shape(row)) == idle.end()) break;
    picked.pop_back();
  }
}

/// The sign of output without a final line feed that zsh ("%", "#" in
/// reverse video) and fish ("⏎", faint) draw after it, before the prompt
/// goes on the next row; empty when `row` does not end in one.
std::string_view without_end_sign(std::string_view row, bool emphasized) {
  if (!emphasized) return row;
  for (std::string_view sign : {"%", "#", "\u23CE"}) {
    if (row.ends_with(sign)) return row.substr(0, row.size() - sign.size());
  }
  return row;
}

}  // namespace

TurnMark mark_turn(const ScreenText& before, const PtyState& pty) {
  TurnMark mark{before.cursor_row, std::string(rtrim(cursor_line(before))), 0, {}, before.alternate, pty.foreground,
                pty.mode};
  std::size_t visible_from = before.rows.size() - std::min(before.screen_rows, before.rows.size());
  mark.top = before.first_row + visible_from;
  mark.prompts = before.marks.prompts;
  for (std::size_t i = visible_from; i < before.rows.size(); ++i) mark.screen.emplace_back(rtrim(before.rows[i]));
  mark.chrome = input_chrome(before);
  return mark;
}

std::string turn_output(const TurnMark& mark, const ScreenText& now, std::string_view prompt, const TurnEnd& end) {
  Picked p = pick_rows(mark, now, end);
  std::optional<std::size_t> cursor = returned_prompt(mark, now, end.at_prompt);
  std::size_t cut = std::string_view::npos;  // where the cursor row's prompt starts
  if (cursor) {
    // The prompt it ended at, and copies of it left by an empty command
    // (the Enter after a key that quit a pager).
    std::string_view line = rtrim(now.rows[*cursor]);
    cut = end.at_prompt ? std::min(end.prompt_from, line.size()) : 0;
    std::string_view back = line.substr(cut);
    auto is_prompt = [&](std::size_t i) {
      if (i == *cursor) return cut == 0;
      return end.at_prompt && !back.empty() && rtrim(now.rows[i]) == back;
    };
    p.rows.erase(std::remove_if(p.rows.begin(), p.rows.end(), is_prompt), p.rows.end());
  }
  if (end.chrome != nullptr && end.chrome->framed()) drop_chrome(p.rows, now, end);

  std::vector<std::string> lines = lines_of(now, p.rows, [&](std::size_t i) {
    std::string_view row = rtrim(now.rows[i]);
    if (cursor && i == *cursor) return row.substr(0, cut);
    if (cursor && end.at_prompt && i + 1 == *cursor)
      return without_end_sign(row, i < now.emphasized_end.size() && now.emphasized_end[i]);
    return row;
  });
  std::vector<std::string_view> rows(lines.begin(), lines.end());
  if (p.from_mark && !rows.empty()) {
    if (rows[0].starts_with(mark.text)) rows[0].remove_prefix(mark.text.size());
    while (!rows[0].empty() && is_ascii_space(rows[0].front())) rows[0].remove_prefix(1);
    std::size_t echo = echo_rows(rows, prompt);
    if (echo == 0 && p.redrawn && !prompt.empty()) echo = quoted_echo_rows(rows, prompt);
    rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(echo));
  }
  std::string out = joined_without_blank_ends(rows);
  if (p.note.empty()) return out;
  return out.empty() ? p.note : p.note + "\n" + out;
}

// --- the signals of idleness -----------------------------------------------

namespace {

/// True when the cursor's row is the last visible row that is not blank.
bool cursor_on_last_text(const ScreenText& now) {
  std::size_t visible_from = now.rows.size() - std::min(now.screen_rows, now.rows.size());
  for (std::size_t i = now.rows.size(); i > visible_from; --i) {
    if (!rtrim(now.rows[i - 1]).empty()) return now.first_row + (i - 1) == now.cursor_row;
  }
  return false;
}

/// The foreground belongs to the program: its own group or the one it had
/// when the prompt was typed (a shell started by another keeps a group of
/// its own).
bool foreground_is_home(const TurnMark& mark, const PtyState& pty) {
  return pty.foreground && (*pty.foreground == pty.own_group || pty.foreground == mark.foreground);
}

}  // namespace

bool prompt_is_back(const TurnMark& mark, const ScreenText& now, const PtyState& pty) {
  std::string_view line = rtrim(cursor_line(now));
  if (mark.text.empty() || line != mark.text || looks_like_input_request(line)) return false;
  if (now.cursor_row == mark.row || !cursor_on_last_text(now) || mark.alternate || now.alternate) return false;
  if (!pty.mode || pty.mode != mark.mode || !(pty.mode->canonical || pty.mode->signals)) return false;
  return foreground_is_home(mark, pty);
}

const InputChrome& idle_chrome(const TurnMark& mark, const PtyState& pty, const Home& home) {
  return home.chrome.framed() && pty.foreground == home.chrome_group ? home.chrome : mark.chrome;
}

TurnSignals read_signals(const TurnMark& mark, const ScreenText& now, const PtyState& pty, const Home& home,
                         bool working) {
  bool child_holds = pty.foreground && !foreground_is_home(mark, pty);
  bool handed_over = mark.mode && !mark.mode->canonical && pty.mode && pty.mode->canonical;
  bool marked_prompt = now.marks.prompts > mark.prompts && now.marks.at_prompt;
  bool marked_command = now.marks.prompts > 0 && !now.marks.at_prompt;
  TurnSignals signals{cursor_line(now),
                      prompt_is_back(mark, now, pty),
                      child_holds || handed_over,
                      pty.activity,
                      at_home_prompt(home, now, pty),
                      now.alternate,
                      marked_prompt,
                      marked_command};
  const InputChrome& idle = idle_chrome(mark, pty, home);
  signals.working = working;
  signals.framed = idle.framed();
  if (signals.framed) {
    signals.idle_look = input_chrome(now) == idle;
    signals.choice = looks_like_input_request(signals.cursor_line) || shows_menu(now);
  }
  return signals;
}

// --- the home ---------------------------------------------------------------

void Home::learn_prompt(std::string prompt) {
  auto it = std::find(prompts.begin(), prompts.end(), prompt);
  if (it != prompts.end()) prompts.erase(it);
  prompts.push_back(std::move(prompt));
  if (prompts.size() > kKept) prompts.erase(prompts.begin());
}

bool similar_prompt(std::string_view learned, std::string_view line) {
  if (learned == line) return true;
  if (learned.empty() || line.empty() || looks_like_input_request(line)) return false;
  std::size_t a = 0, b = 0, a_end = learned.size(), b_end = line.size();
  return utf8::next_code_point(learned, a) == utf8::next_code_point(line, b) &&
         utf8::previous_code_point(learned, a_end) == utf8::previous_code_point(line, b_end);
}

std::size_t prompt_start(const Home& home, std::string_view line) {
  line = rtrim(line);
  std::size_t start = std::string_view::npos;
  for (const std::string& learned : home.prompts) {
    if (similar_prompt(learned, line)) return 0;
    if (learned.empty() && !looks_like_input_request(line)) {
      start = std::min(start, line.size());
    } else if (!learned.empty() && line.size() > learned.size() && line.ends_with(learned)) {
      start = std::min(start, line.size() - learned.size());
    }
  }
  return start;
}

bool at_home_prompt(const Home& home, const ScreenText& now, const PtyState& pty) {
  if (!home.known() || pty.foreground != home.group || now.alternate != home.alternate) return false;
  if (home.mode && pty.mode != home.mode) return false;
  return prompt_start(home, cursor_line(now)) != std::string_view::npos;
}

bool ready_for_prompt(const Home& home, const ScreenText& now, const PtyState& pty, Clock::duration quiet,
                      const TurnRule& rule, bool working) {
  // A sign of work that has stood still for the settle time is one a
  // program left behind (a spinner's last frame), not work.
  if (working && pty.activity != Activity::kWaiting && quiet < rule.settle) return false;
  switch (pty.activity) {
    case Activity::kRunning:
    case Activity::kBusy: return false;
    case Activity::kWaiting: return quiet >= rule.idle_quiet;
    case Activity::kTicking:
      // A program that is starting may tick before its prompt is up.
      if (home.known() || !strip_blank(cursor_line(now)).empty()) return quiet >= rule.idle_quiet;
      return quiet >= rule.settle;
    case Activity::kUnknown: break;
  }
  return home.known() || quiet >= rule.settle || (now.marks.at_prompt && quiet >= rule.idle_quiet);
}

void learn_home(Home& home, const ScreenText& now, const PtyState& pty) {
  if (home.known() || !pty.foreground) return;
  home.group = pty.foreground;
  home.mode = pty.mode;
  home.alternate = now.alternate;
  home.learn_prompt(std::string(rtrim(cursor_line(now))));
  home.chrome = input_chrome(now);
  home.chrome_group = pty.foreground;
}

// --- the answer -------------------------------------------------------------

std::string duration_text(std::chrono::milliseconds d) {
  if (d.count() % 1000 == 0) return std::to_string(d.count() / 1000) + " s";
  return std::to_string(d.count()) + " ms";
}

namespace {

std::string exit_note(int wait_status) {
  if (WIFSIGNALED(wait_status)) return "[terminated by signal " + std::to_string(WTERMSIG(wait_status)) + "]";
  return "[exited with status " + std::to_string(WEXITSTATUS(wait_status)) + "]";
}

std::string with_note(std::string output, const std::string& note) {
  if (!output.empty()) output += '\n';
  return output + note;
}

}  // namespace

TurnAnswer answer_turn(TurnState state, std::string output, const TurnRule& rule, int wait_status) {
  switch (state) {
    case TurnState::kExited: return {with_note(std::move(output), exit_note(wait_status)), false};
    case TurnState::kTimedOut:
      return {with_note(std::move(output), "[no end of turn after " + duration_text(rule.max_wait) + "]"), false};
    case TurnState::kAwaitingInput: return {std::move(output), true};
    case TurnState::kEnded:
    case TurnState::kRunning: break;
  }
  return {std::move(output), false};
}

}  // namespace host
