#pragma once
// What keeps the recruited terminals over a restart, and brings them back.
//
// While the host runs, the keeper saves a record of every terminal on the
// canvas but joined shells (how it was started, where it runs, its size,
// role and ropes to other terminals) whenever it may have changed, and the
// screen of each one (with up to kKeptHistory lines of scrollback) at most
// every screen_interval while it changes, and everything when the host
// stops. The files are the store's (store/terminal_store.h); writing them
// never holds up the event loop.
//
// After a restart, restore() puts every saved terminal back on the canvas
// held: its saved screen shown under a line that says so, its command not
// run until the person resumes it (protocol/handlers.h), its role and
// ropes back at once. The workspace's Lead is not held: a new Lead shell
// starts with the old one's screen above its prompt.

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "loop/timers.h"
#include "model/canvas.h"
#include "pty/terminal_set.h"
#include "store/terminal_store.h"

namespace host {

struct KeeperSettings {
  /// False: no screen is written, and those saved before are removed once
  /// they are read (serve --no-save-screens).
  bool save_screens = true;
  /// Least time between two saves of one terminal's screen.
  std::chrono::milliseconds screen_interval{3000};
  /// How often the keeper looks for what changes without a request: ends,
  /// sizes, working directories and screens.
  std::chrono::milliseconds tick{1000};
};

class Keeper {
 public:
  Keeper(Canvas& canvas, TerminalSet& terminals, TerminalStore& store, KeeperSettings settings = {});
  ~Keeper();
  Keeper(const Keeper&) = delete;
  Keeper& operator=(const Keeper&) = delete;

  /// Puts the `saved` terminals back on the canvas, held, and starts the
  /// periodic saves. A screen that cannot be read is left out (the log says
  /// why); a name taken already is skipped. Returns the saved Lead's
  /// screen, with a line saying it is a new shell; empty when none was.
  std::string restore(const std::vector<SavedTerminal>& saved);
  /// The new Lead is on the canvas as `name`: the ropes the saved one had
  /// are tied to it.
  void lead_started(const std::string& name);

  /// What the records keep may have changed (a request changed the
  /// canvas): they are saved at the end of the round.
  void changed();
  /// Saves every record and every screen that changed, now, and waits
  /// until they are written; saves nothing more after: the host is
  /// stopping.
  void save_all();

  /// What is kept of `screen`: its text with up to kKeptHistory lines of
  /// scrollback (screen/redraw.h), at most kMaxScreenBytes.
  static std::string kept_text(const Screen& screen);
  /// The line under a held terminal's saved screen.
  static std::string held_line(const std::string& name, bool screen_lost);

 private:
  /// What was last saved of one terminal's screen.
  struct ScreenSaved {
    const Terminal* terminal = nullptr;
    std::uint64_t change = 0, scrolled = 0;
    Clock::time_point at{};
  };

  /// A saved screen's text; a file that is refused is `lost` (and
  /// reported).
  struct Shown {
    std::string text;
    bool found = false, lost = false;
  };
  Shown saved_screen(const std::string& name);
  /// Puts saved terminal `t` on the canvas, held.
  void hold(const SavedTerminal& t);
  /// Ties the saved ropes between restored terminals, and notes those to
  /// the saved Lead for the new one.
  void tie_ropes(const std::vector<SavedTerminal>& saved);
  void tick();
  /// Saves the records when they changed, and the screens due (all that
  /// changed, with `all`).
  void save(bool all);
  std::vector<SavedTerminal> records();
  void save_records(std::vector<SavedTerminal> now);
  void save_screens(const std::vector<SavedTerminal>& records, bool all);
  /// Where terminal `name` runs now, or where it last ran.
  std::string cwd_of(const std::string& name, const Terminal& terminal, const std::string& known);
  std::vector<std::string> terminal_ropes(const std::string& name) const;
  void report_failures();

  Canvas& canvas_;
  TerminalSet& terminals_;
  TerminalStore& store_;
  KeeperSettings settings_;
  Timers& timers_;
  Timers::Id tick_timer_ = 0;
  bool records_due_ = false;
  bool stopped_ = false;
  Timers::Id records_timer_ = 0;
  std::vector<SavedTerminal> saved_records_;
  bool records_saved_ = false;
  std::map<std::string, ScreenSaved> screens_;
  std::map<std::string, std::string> cwds_;
  /// Terminals whose screen may be on disk.
  std::set<std::string> on_disk_;
  /// The saved Lead's name and the terminals roped to it.
  std::string old_lead_;
  std::set<std::string> lead_ropes_;
};

}  // namespace host
