#pragma once
// The gate between a program's output and the terminal emulation. Programs
// may print anything, and libvterm 0.1.4 does not take everything: a C1
// control sent as UTF-8 text has a width of -1 and moves the cursor off the
// screen (insert mode then writes outside the rows), REP with nothing
// printed before it loops for ever, and a UTF-8 sequence cut by an escape
// sequence or by the end of a read decodes wrongly. So the output passes
// through this filter first, which keeps a small parser of its own, in step
// with libvterm's, and hands on only what the emulation handles well:
//
//  - Text is well-formed UTF-8 without C1 code points: a malformed byte
//    becomes U+FFFD, a C1 code point (U+0080 to U+009F) is dropped, and a
//    sequence cut by a control or an escape sequence is U+FFFD. A sequence
//    cut by the end of a read waits for the next read.
//  - Escape and control sequences reach the emulation only when complete;
//    one that is interrupted is dropped (as a terminal abandons it), and a
//    string (OSC, DCS), passed on as it comes, is closed with ST when the
//    filter abandons it. APC, PM and SOS strings, which libvterm 0.1.4 does
//    not know (it would print their text), are dropped whole.
//  - No more than 16 characters of no width (combining marks) follow one
//    character: libvterm keeps them all, and works on all of them again
//    for each new one.
//  - REP (CSI n b) is carried out here: the last character is repeated, at
//    most a screenful of times, and nothing is repeated when there is none.
//  - Numeric parameters above 9999 are 9999, so none overflows, and no
//    more than 16 parameters reach the emulation (it keeps 16 and writes
//    past them on the next).
//  - Where some sequences end is noted for the screen, which acts on them
//    there: a cursor restore (DECRC, or leaving mode 1048 or 1049), since
//    libvterm restores a saved position as it is and one saved before the
//    screen shrank lies outside it; and a shell's prompt marks (OSC 133 A,
//    B, C and D with the command's exit status), the surest word of where
//    a prompt is and when a command is done, when they carry the mark key
//    ("ESC ] 133 ; A ; welkmora=KEY BEL"): a program may print marks too
//    (a file that holds them, shown by cat), and only the shell the host
//    set up knows the key; and an SGR (or a reset) that
//    turns faint (dim) on or off, since libvterm 0.1.4 keeps no faint pen
//    and the screen keeps it itself (only changes are noted; a cursor
//    restore brings back faint as the cursor save found it).
//
// Cost: one pass over the bytes; runs of printable ASCII are copied whole.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class OutputFilter {
 public:
  /// Appends to `out` what the emulation may take of `bytes`, the next
  /// bytes of the program's output. `max_repeat` bounds REP (the number of
  /// cells on the screen).
  void pass(std::string_view bytes, std::string& out, std::size_t max_repeat);
  /// A sequence the screen acts on, and where in `out` it ends.
  struct Mark {
    enum Kind : char {
      kCursorRestore = 'r',
      kPromptStart = 'A',
      kInputStart = 'B',
      kCommandStart = 'C',
      kCommandDone = 'D',
      kFaintOn = 'F',
      kFaintOff = 'f',
    };
    std::size_t end = 0;
    Kind kind = kCursorRestore;
    /// The exit status a kCommandDone mark gives, -1 without one.
    int status = -1;
  };
  /// The marks of the last pass, in order.
  const std::vector<Mark>& marks() const { return marks_; }
  /// The key a prompt mark must carry to be noted; with none, no mark is.
  void set_mark_key(std::string key) { mark_key_ = std::move(key); }

 private:
  enum class State : std::uint8_t {
    kGround,
    kEscape,
    kCsi,
    kCsiIgnore,
    kString,
    kStringEscape,
    kDroppedString,
    kDroppedStringEscape,
  };

  void ground(unsigned char c, std::string& out);
  void utf8_byte(unsigned char c, std::string& out);
  void flush_utf8(std::string& out);
  void escape(unsigned char c, std::string& out);
  void csi(unsigned char c, std::string& out);
  void finish_csi(std::string& out);
  void string_byte(unsigned char c, std::string& out);
  /// A string the emulation reads has ended; notes a prompt mark.
  void string_ended(const std::string& out);
  /// The prompt mark whose string began with `head` and ends at `end` of
  /// the output, when it carries the key.
  std::optional<Mark> keyed_mark(std::string_view head, std::size_t end) const;
  /// Notes faint turned on or off where `out` ends, if that changes it.
  void note_faint(bool on, const std::string& out);
  /// Notes a cursor restore where `out` ends, and faint as it was saved.
  void restore_cursor(const std::string& out);
  /// The byte `c` after an ESC inside a string.
  void end_string(unsigned char c, std::string& out);
  /// Bytes every state treats alike; true when `c` was one of them.
  bool common_control(unsigned char c, std::string& out);

  State state_ = State::kGround;
  /// The escape sequence so far (without the ESC), or the UTF-8 sequence
  /// so far in the ground state.
  std::string sequence_;
  std::string utf8_;
  std::size_t utf8_needed_ = 0;
  /// The last character printed, as UTF-8, for REP.
  std::string last_;
  std::size_t max_repeat_ = 0;
  /// Characters of no width since the last with a width.
  int marks_in_a_row_ = 0;
  std::vector<Mark> marks_;
  /// The first bytes of the string being passed on, from its introducer.
  std::string string_head_;
  /// Faint as the SGRs so far left it, and as the last cursor save (DECSC,
  /// modes 1048 and 1049) found it, which a restore brings back with the
  /// rest of the pen.
  bool faint_ = false;
  bool saved_faint_ = false;
  std::string mark_key_;
};

}  // namespace host
