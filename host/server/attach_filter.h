#pragma once
// What of a program's output may reach the person's own terminal during an
// attach. The program's bytes are written to a terminal the host does not
// own: whatever it sets there stays after the attach, and some sequences
// act beyond the screen (clipboard writes, window titles and operations,
// printer and status reports, queries whose answers come back as the
// person's typing). The filter passes text, the C0 controls a screen needs,
// and the escape sequences that draw (cursor, erase, scroll, colours, the
// modes listed in attach_filter.cpp, which the attach client resets on
// detach); it drops OSC, DCS, APC, PM and SOS strings, C1 controls (as
// UTF-8, U+0080 to U+009F), queries, window operations and every other
// sequence. Sequences may be split across chunks; their state carries over.

#include <string>
#include <string_view>

namespace host {

class AttachFilter {
 public:
  /// The bytes of `chunk` that may be passed on, in order.
  std::string pass(std::string_view chunk);
  /// True when the last chunk switched between the program's main and
  /// alternate screens (dropped here: the person's terminal is on its
  /// alternate screen for the whole attach), so the screen must be drawn
  /// afresh from the host's.
  bool switched_screen() const { return switched_; }

 private:
  enum class State {
    kText,
    kEscape,        ///< after ESC
    kEscapeMiddle,  ///< ESC and intermediate bytes (charset designations)
    kControl,       ///< a control sequence (CSI), collected in `held_`
    kString,        ///< OSC, DCS, APC, PM or SOS: dropped to its end
    kStringEscape,  ///< ESC inside a string: ST ends it
    kLead,          ///< a UTF-8 lead byte 0xC2, which may start a C1
  };

  void on_byte(unsigned char b, std::string& out);
  void on_escape(unsigned char b, std::string& out);
  void on_control(unsigned char b, std::string& out);
  /// True when the collected sequence ending in `final` may pass; notes a
  /// screen switch.
  bool control_allowed(unsigned char final);

  State state_ = State::kText;
  /// The sequence being collected (from its ESC).
  std::string held_;
  /// The sequence is longer than any that passes: it is dropped.
  bool too_long_ = false;
  bool switched_ = false;
};

}  // namespace host
