#pragma once
// Which printable ASCII in a program's output draws as itself.
//
// Most of what programs print is plain text: runs of printable ASCII that
// put one character after another on a row. The screen writes those runs
// into its cells itself and lets libvterm see only where the cursor went,
// which is several times faster than libvterm's path for each character.
// That is right only while nothing changes what such a character does, so
// this class follows, as libvterm's own parser splits the output, the
// sequences that would: character sets and shifts, insert mode, origin
// mode, left and right margins, protected cells, resets; and the UTF-8
// decoders' unfinished sequences, after which ASCII draws a replacement
// character first.

#include <cstdint>
#include <string_view>

namespace host {

class PlainText {
 public:
  /// What the parser reports, as libvterm's parser callbacks get it.
  void control(unsigned char c);
  void escape(std::string_view sequence);
  void csi(const char* leader, const long args[], int count, const char* intermed, char command);

  /// A run of text starts: whether printable ASCII in it draws as itself.
  /// It also ends a pending single shift, which the run's first character
  /// takes.
  bool starts_plain();
  /// Whether printable ASCII draws as itself here, within a run that
  /// started plain.
  bool plain() const;
  /// Whether it does after libvterm decodes `bytes` (without doing so).
  bool plain_after(std::string_view bytes) const {
    PlainText after = *this;
    after.decoded(bytes);
    return after.plain();
  }
  /// libvterm decodes `bytes` (text, up to a control) in one call.
  void decoded(std::string_view bytes);

 private:
  enum class Set : std::uint8_t { kUtf8, kAscii, kOther };
  static void decode_utf8(int& pending, std::string_view bytes);
  void dec_mode(long mode, bool on);
  void reset();

  Set sets_[4] = {Set::kUtf8, Set::kUtf8, Set::kUtf8, Set::kUtf8};
  /// Bytes still missing from the sequence each UTF-8 decoder started:
  /// one for each character set, one for text that starts above ASCII.
  int pending_[4] = {0, 0, 0, 0};
  int high_pending_ = 0;
  int left_ = 0;
  bool single_shift_ = false;
  bool insert_ = false, origin_ = false, margins_ = false, protect_ = false;
};

}  // namespace host
