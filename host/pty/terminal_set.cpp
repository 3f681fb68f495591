#include "pty/terminal_set.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "loop/log.h"
#include "utf8.h"

namespace host {
namespace {

/// Columns a line of screen text takes, one a character.
std::size_t columns(std::string_view line) {
  return static_cast<std::size_t>(std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

/// The last line with text on a terminal's screen, with the rows the
/// terminal wrapped it from: what a program that failed said last, usually
/// why.
std::string last_words(const Terminal& terminal) {
  const Screen& screen = terminal.screen();
  std::uint64_t scrolled = screen.lines_scrolled();
  ScreenText shot = screen.snapshot(scrolled - std::min<std::uint64_t>(scrolled, Terminal::kCheckHistory));
  std::size_t end = shot.rows.size();
  while (end > 0 && shot.rows[end - 1].find_first_not_of(' ') == std::string::npos) --end;
  if (end == 0) return "";
  std::size_t start = end - 1;
  while (start > 0 && shot.continued[start]) --start;
  // A wrapped row filled the width; the blanks its text lost at the end are
  // put back.
  auto width = static_cast<std::size_t>(screen.cols());
  std::string said;
  for (std::size_t i = start; i < end; ++i) {
    said += shot.rows[i];
    if (i + 1 < end) said.append(width - std::min(width, columns(shot.rows[i])), ' ');
  }
  return utf8::sanitize_utf8(said);
}

}  // namespace

TerminalSet::~TerminalSet() {
  for (auto& [name, terminal] : listed_) terminal->kill_now();
  for (auto& terminal : leaving_) terminal->kill_now();
}

OrRefusal<Terminal*> TerminalSet::start(const std::string& name, const Launch& launch) {
  Launch grouped = launch;
  if (cgroups_) grouped.cgroup = cgroups_->add().value_or("");
  OrRefusal<std::unique_ptr<Terminal>> terminal = Terminal::start(grouped, reactor_);
  if (!terminal.ok()) {
    if (!grouped.cgroup.empty()) Cgroups::remove(grouped.cgroup);
    return terminal.failure();
  }
  if (!grouped.cgroup.empty()) groups_[(*terminal)->pid()] = grouped.cgroup;
  Terminal* started = terminal->get();
  listed_[name] = std::move(*terminal);
  return started;
}

Terminal* TerminalSet::hold(const std::string& name, int rows, int cols, std::string_view screen,
                            std::optional<int> exit_code) {
  std::unique_ptr<Terminal>& slot = listed_[name];
  slot = Terminal::hold(rows, cols, screen, exit_code, reactor_);
  return slot.get();
}

OrRefusal<Terminal*> TerminalSet::resume(const std::string& name, const Launch& launch) {
  auto it = listed_.find(name);
  if (it == listed_.end() || !it->second->held()) return refuse("not held: " + name);
  std::unique_ptr<Terminal> held = std::move(it->second);
  listed_.erase(it);
  OrRefusal<Terminal*> started = start(name, launch);
  if (!started.ok()) {
    listed_[name] = std::move(held);
    return started;
  }
  held->hang_up();  // tells those who followed it; it runs nothing
  return started;
}

Terminal* TerminalSet::find(std::string_view name) {
  auto it = listed_.find(name);
  return it == listed_.end() ? nullptr : it->second.get();
}

std::optional<Holder> TerminalSet::holder_of(const std::vector<ProcessInfo>& chain) const {
  for (const auto& [name, terminal] : listed_) {
    if (terminal->holds(chain)) return Holder{name};
  }
  for (const auto& terminal : leaving_) {
    if (terminal->holds(chain)) return Holder{};
  }
  if (chain.empty()) return std::nullopt;
  if (std::optional<Holder> grouped = group_holder(chain.front().pid)) return grouped;
  // What the host adopted left its parents: only what the terminals started
  // descends from the host.
  pid_t self = ::getpid();
  bool adopted = std::any_of(chain.begin(), chain.end(),
                             [&](const ProcessInfo& p) { return p.parent == self && !started(p.pid); });
  if (owns_descendants_ && adopted) return Holder{};
  return std::nullopt;
}

std::optional<Holder> TerminalSet::group_holder(pid_t pid) const {
  if (!cgroups_) return std::nullopt;
  std::string group = Cgroups::group_of(pid);
  const std::string& base = cgroups_->path();
  if (group.empty() || !(group + "/").starts_with(base + "/")) return std::nullopt;
  for (const auto& [program, dir] : groups_) {
    if (group != dir && !group.starts_with(dir + "/")) continue;
    for (const auto& [name, terminal] : listed_) {
      if (terminal->pid() == program) return Holder{name};
    }
  }
  return Holder{};
}

bool TerminalSet::started(pid_t pid) const {
  auto is = [pid](const auto& terminal) { return terminal->pid() == pid; };
  return std::any_of(listed_.begin(), listed_.end(), [&](const auto& entry) { return is(entry.second); }) ||
         std::any_of(leaving_.begin(), leaving_.end(), is);
}

void TerminalSet::dismiss(std::string_view name) {
  auto it = listed_.find(name);
  if (it == listed_.end()) return;
  std::unique_ptr<Terminal> terminal = std::move(it->second);
  listed_.erase(it);
  terminal->hang_up();
  // Also what the program started in the background of its session, in
  // process groups of their own (a shell's jobs, nohup).
  int members = signal_session(terminal->pid(), SIGHUP);
  bool grouped = groups_.contains(terminal->pid());              // what left the session may be in its group
  if (!terminal->may_run() && members == 0 && !grouped) return;  // reaped already, nothing left behind
  pid_t pid = terminal->pid();
  leaving_.push_back(std::move(terminal));
  reactor_.timers().at(Clock::now() + grace_, [this, pid] { kill_leaving(pid); });
}

void TerminalSet::stop() {
  while (!listed_.empty()) dismiss(listed_.begin()->first);
  signal_descendants(SIGHUP);
  reactor_.timers().at(Clock::now() + grace_, [this] { kill_all(); });
}

void TerminalSet::kill_all() {
  for (auto& [name, terminal] : listed_) terminal->kill_now();
  for (auto& terminal : leaving_) terminal->kill_now();
  if (cgroups_) Cgroups::kill(cgroups_->path());
  // Without groups, a process that forks while its parent exits may be
  // born after a round's look at /proc: rounds go on while any is found.
  for (int round = 0; round < 100 && signal_descendants(SIGKILL) > 0; ++round) {
  }
}

void TerminalSet::adopt_orphans() {
  cgroups_ = Cgroups::create();  // first: its guardian must not descend from a subreaper
  owns_descendants_ = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

void TerminalSet::kill_group(pid_t pid) {
  auto it = groups_.find(pid);
  if (it == groups_.end()) return;
  Cgroups::kill(it->second);
  if (!Cgroups::remove(it->second)) emptying_.push_back(it->second);
  groups_.erase(it);
}

int TerminalSet::signal_session(pid_t session, int sig) const {
  if (!owns_descendants_ || session <= 0) return 0;  // a held terminal has no session
  if (std::any_of(listed_.begin(), listed_.end(), [session](const auto& t) { return t.second->pid() == session; })) {
    return 0;  // the id is another terminal's now
  }
  int n = 0;
  for (const ProcessInfo& p : descendants(::getpid(), all_processes())) {
    if (p.session == session && ::kill(p.pid, sig) == 0) ++n;
  }
  return n;
}

int TerminalSet::signal_descendants(int sig) const {
  if (!owns_descendants_) return 0;
  int n = 0;
  for (const ProcessInfo& p : descendants(::getpid(), all_processes())) {
    if (!p.ended && ::kill(p.pid, sig) == 0) ++n;
  }
  return n;
}

void TerminalSet::kill_leaving(pid_t pid) {
  for (auto& terminal : leaving_) {
    if (terminal->pid() == pid) terminal->kill_now();
  }
  signal_session(pid, SIGKILL);
  kill_group(pid);
  // A process reaped before the hang-up sends no more SIGCHLD; what it left
  // behind ends with the kill, and the host reaps it as their subreaper.
  std::erase_if(leaving_, [pid](const auto& t) { return t->pid() == pid && t->exited(); });
}

void TerminalSet::reap(Clock::time_point now) {
  int status = 0;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) child_exited(pid, status, now);
  std::erase_if(emptying_, [](const std::string& dir) { return Cgroups::remove(dir); });
}

void TerminalSet::child_exited(pid_t pid, int wait_status, Clock::time_point now) {
  auto gone = std::find_if(leaving_.begin(), leaving_.end(), [pid](const auto& t) { return t->pid() == pid; });
  if (gone != leaving_.end()) {
    (*gone)->set_exited(wait_status, now);
    leaving_.erase(gone);
    return;
  }
  for (auto& [name, terminal] : listed_) {
    if (terminal->pid() != pid || terminal->exited()) continue;
    terminal->set_exited(wait_status, now);
    bool signalled = WIFSIGNALED(wait_status);
    std::string number = std::to_string(signalled ? WTERMSIG(wait_status) : WEXITSTATUS(wait_status));
    std::string said = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) != 0 ? last_words(*terminal) : "";
    if (said.empty()) {
      log_event("exit", {{"name", name}, {signalled ? "signal" : "status", number}});
    } else {
      log_event("exit", {{"name", name}, {"status", number}, {"said", said}});
    }
  }
}

bool TerminalSet::has_processes() const {
  if (!leaving_.empty()) return true;
  if (std::any_of(listed_.begin(), listed_.end(), [](const auto& entry) { return !entry.second->exited(); })) {
    return true;
  }
  return owns_descendants_ && !descendants(::getpid(), all_processes()).empty();
}

std::size_t TerminalSet::descriptors() const {
  auto open = [](const auto& t) { return t->open() ? 1 : 0; };
  std::size_t n = shells_.descriptors();
  for (const auto& [name, terminal] : listed_) n += open(terminal);
  for (const auto& terminal : leaving_) n += open(terminal);
  return n;
}

}  // namespace host
