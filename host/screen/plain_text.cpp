#include "screen/plain_text.h"

namespace host {

void PlainText::control(unsigned char c) {
  switch (c) {
    case 0x0e: left_ = 1; break;  // LS1
    case 0x0f: left_ = 0; break;  // LS0
    case 0x8e:                    // SS2
    case 0x8f:                    // SS3
      single_shift_ = true;
      break;
    default: break;
  }
}

void PlainText::escape(std::string_view sequence) {
  if (sequence.empty()) return;
  switch (sequence[0]) {
    case '(':
    case ')':
    case '*':
    case '+': {
      // Designations libvterm knows; it ignores the others.
      if (sequence.size() != 2) return;
      Set& set = sets_[sequence[0] - '('];
      if (sequence[1] == 'B') set = Set::kAscii;
      if (sequence[1] == '0' || sequence[1] == 'A') set = Set::kOther;
      return;
    }
    case 'n': left_ = 2; return;  // LS2
    case 'o': left_ = 3; return;  // LS3
    case 'c': reset(); return;    // RIS
    default: return;
  }
}

void PlainText::csi(const char* leader, const long args[], int count, const char* intermed, char command) {
  // As libvterm reads them: one leader byte at most ('?' or '>'), one
  // intermediate at most, and only the first argument of a mode change.
  if (leader != nullptr && leader[0] != 0 && (leader[1] != 0 || (leader[0] != '?' && leader[0] != '>'))) return;
  if (intermed != nullptr && intermed[0] != 0 && intermed[1] != 0) return;
  char lead = leader != nullptr ? leader[0] : 0;
  char inter = intermed != nullptr ? intermed[0] : 0;
  bool missing = count < 1 || (args[0] & 0x7FFFFFFF) == 0x7FFFFFFF;
  long first = missing ? -1 : (args[0] & 0x7FFFFFFF);
  if (inter == '"' && lead == 0 && command == 'q') {  // DECSCA
    long value = missing ? 0 : first;
    if (value == 1) protect_ = true;
    if (value == 0 || value == 2) protect_ = false;
    return;
  }
  if (inter != 0 || (command != 'h' && command != 'l')) return;
  if (lead == 0 && first == 4) insert_ = command == 'h';  // IRM
  if (lead == '?') dec_mode(first, command == 'h');
}

void PlainText::dec_mode(long mode, bool on) {
  if (mode == 6) origin_ = on;
  if (mode == 69) margins_ = on;
}

void PlainText::reset() {
  for (int i = 0; i < 4; ++i) {
    sets_[i] = Set::kUtf8;
    pending_[i] = 0;
  }
  left_ = 0;
  single_shift_ = insert_ = origin_ = margins_ = protect_ = false;
}

bool PlainText::starts_plain() {
  bool shifted = single_shift_;
  single_shift_ = false;
  return !shifted && plain();
}

bool PlainText::plain() const {
  Set set = sets_[left_];
  return set != Set::kOther && !insert_ && !origin_ && !margins_ && !protect_ && high_pending_ == 0 &&
         (set != Set::kUtf8 || pending_[left_] == 0);
}

void PlainText::decoded(std::string_view bytes) {
  if (bytes.empty()) return;
  if (static_cast<unsigned char>(bytes[0]) >= 0x80) {
    decode_utf8(high_pending_, bytes);
    return;
  }
  if (sets_[left_] == Set::kUtf8) {
    decode_utf8(pending_[left_], bytes);
    return;
  }
  // A 94-character set stops at the first byte above ASCII; the rest is
  // decoded as UTF-8 text of its own.
  std::size_t high = 0;
  while (high < bytes.size() && static_cast<unsigned char>(bytes[high]) < 0x80) ++high;
  if (high < bytes.size()) decode_utf8(high_pending_, bytes.substr(high));
}

void PlainText::decode_utf8(int& pending, std::string_view bytes) {
  // An ASCII character ends any unfinished sequence; only what follows the
  // last one counts.
  std::size_t from = 0;
  for (std::size_t i = bytes.size(); i > 0; --i) {
    if (static_cast<unsigned char>(bytes[i - 1]) < 0x80) {
      pending = 0;
      from = i;
      break;
    }
  }
  for (std::size_t i = from; i < bytes.size(); ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0xc0) {
      if (pending > 0) --pending;
    } else if (c < 0xe0) {
      pending = 1;
    } else if (c < 0xf0) {
      pending = 2;
    } else if (c < 0xf8) {
      pending = 3;
    } else if (c < 0xfc) {
      pending = 4;
    } else if (c < 0xfe) {
      pending = 5;
    }
  }
}

}  // namespace host
