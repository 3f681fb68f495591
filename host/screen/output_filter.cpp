#include "screen/output_filter.h"

#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <charconv>
#include <optional>

#include "utf8.h"

namespace host {
namespace {

constexpr unsigned char kEsc = 0x1b, kBel = 0x07, kCan = 0x18, kSub = 0x1a, kDel = 0x7f;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
/// Marks (characters of no width) kept after one character: more than a
/// cell shows, fewer than makes libvterm's work per mark grow without end.
constexpr int kMostMarks = 16;
/// Enough of a string to tell a prompt mark, its exit status and its key.
constexpr std::size_t kLongestMarkString = 96;
/// How a prompt mark names its key.
constexpr std::string_view kKeyParameter = "welkmora=";
constexpr std::string_view kStringTerminator = "\x1b\\";
/// A longer escape sequence is nothing a program means; it is dropped.
constexpr std::size_t kLongestSequence = 256;
constexpr unsigned kLargestParameter = 9999;
/// libvterm keeps 16 parameters (numbers and sub-parameters) and writes
/// past its array on the 17th.
constexpr int kMostParameters = 16;

/// How many continuation bytes the lead byte `c` announces; 0 when `c`
/// starts no well-formed sequence.
std::size_t continuation_count(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return 1;
  if (c >= 0xE0 && c <= 0xEF) return 2;
  if (c >= 0xF0 && c <= 0xF4) return 3;
  return 0;
}

/// Whether `c` may come next in the sequence begun by `so_far`: overlong
/// forms, surrogates and values above U+10FFFF are cut at their second byte.
bool continues(std::string_view so_far, unsigned char c) {
  if (c < 0x80 || c > 0xBF) return false;
  if (so_far.size() != 1) return true;
  switch (static_cast<unsigned char>(so_far[0])) {
    case 0xE0: return c >= 0xA0;
    case 0xED: return c <= 0x9F;
    case 0xF0: return c >= 0x90;
    case 0xF4: return c <= 0x8F;
    default: return true;
  }
}

/// True for a character of no width (a combining mark, a joiner), by the C
/// library's table, whatever the host's own locale is.
bool zero_width(std::string_view utf8) {
  std::size_t i = 0;
  char32_t c = utf8::next_code_point(utf8, i);
  if (c < 0x300) return false;
  static const locale_t kUtf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (kUtf8 == nullptr) return false;
  locale_t before = uselocale(kUtf8);
  int width = wcwidth(static_cast<wchar_t>(c));
  uselocale(before);
  return width == 0;
}

/// OSC and DCS: strings the emulation reads.
bool is_string_introducer(unsigned char c) { return c == ']' || c == 'P'; }

/// APC, PM and SOS: strings the emulation does not know.
bool is_dropped_string_introducer(unsigned char c) { return c == '_' || c == '^' || c == 'X'; }

/// `params` with each number above kLargestParameter lowered to it, and
/// the parameters past kMostParameters left out.
std::string bounded_parameters(std::string_view params) {
  std::string out;
  int fields = 1;
  for (std::size_t i = 0; i < params.size();) {
    if ((params[i] == ';' || params[i] == ':') && ++fields > kMostParameters) {
      // Keep the intermediate bytes that end the sequence.
      std::size_t end = params.find_last_not_of(" !\"#$%&'()*+,-./");
      if (end != std::string_view::npos && end + 1 < params.size()) out.append(params.substr(end + 1));
      break;
    }
    if (params[i] < '0' || params[i] > '9') {
      out.push_back(params[i++]);
      continue;
    }
    unsigned value = 0;
    std::size_t start = i;
    for (; i < params.size() && params[i] >= '0' && params[i] <= '9'; ++i) {
      value = std::min(value * 10 + static_cast<unsigned>(params[i] - '0'), kLargestParameter + 1);
    }
    if (value > kLargestParameter) {
      out += std::to_string(kLargestParameter);
    } else {
      out.append(params.substr(start, i - start));
    }
  }
  return out;
}

/// The count of a REP whose parameters are `params` (its first number,
/// 1 when that is missing or 0); 0 when a private marker or an
/// intermediate byte makes the sequence another one.
std::size_t repeat_count(std::string_view params) {
  if (params.find_first_not_of("0123456789;:") != std::string_view::npos) return 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < params.size() && params[i] >= '0' && params[i] <= '9'; ++i) {
    count = std::min<std::size_t>(count * 10 + static_cast<std::size_t>(params[i] - '0'), kLargestParameter);
  }
  return std::max<std::size_t>(count, 1);
}

/// Whether CSI `params` `final` sets or resets a mode that saves or
/// restores the cursor (1048, 1049).
bool cursor_mode(std::string_view params, char final) {
  if ((final != 'h' && final != 'l') || params.empty() || params[0] != '?') return false;
  params.remove_prefix(1);
  while (!params.empty()) {
    std::string_view field = params.substr(0, params.find(';'));
    if (field == "1048" || field == "1049") return true;
    params.remove_prefix(std::min(params.size(), field.size() + 1));
  }
  return false;
}

/// What SGR `params` does to faint: 1 turns it on (2), 0 off (0, 22, or
/// no parameter), -1 neither. The arguments of a colour (38, 48 and 58
/// with 5;N or 2;R;G;B) are skipped, so that a 2 among them is no faint.
int faint_effect(std::string_view params) {
  if (params.find_first_not_of("0123456789;:") != std::string_view::npos) return -1;  // not a plain SGR
  int effect = -1;
  bool colour_kind = false;  // the field after 38, 48 or 58
  unsigned skip = 0;         // fields of a colour still to come
  for (std::size_t start = 0; start <= params.size();) {
    std::size_t end = std::min(params.find(';', start), params.size());
    std::string_view field = params.substr(start, end - start);
    start = end + 1;
    // A colour with sub-parameters (38:2::R:G:B) is one field, and no faint.
    unsigned value = field.find(':') != std::string_view::npos ? kLargestParameter : 0;
    if (value == 0) {
      for (char c : field) value = std::min(value * 10 + static_cast<unsigned>(c - '0'), kLargestParameter);
    }
    if (skip > 0) {
      --skip;
    } else if (colour_kind) {
      colour_kind = false;
      skip = value == 5 ? 1 : value == 2 ? 3 : 0;
    } else if (value == 38 || value == 48 || value == 58) {
      colour_kind = true;
    } else if (value == 0 || value == 22) {
      effect = 0;
    } else if (value == 2) {
      effect = 1;
    }
  }
  return effect;
}

}  // namespace

void OutputFilter::pass(std::string_view bytes, std::string& out, std::size_t max_repeat) {
  max_repeat_ = max_repeat;
  marks_.clear();
  out.reserve(out.size() + bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (state_ == State::kGround && utf8_.empty()) {
      std::size_t start = i;
      while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x20 &&
             static_cast<unsigned char>(bytes[i]) < kDel) {
        ++i;
      }
      if (i > start) {
        out.append(bytes.substr(start, i - start));
        last_.assign(1, bytes[i - 1]);
        marks_in_a_row_ = 0;
        continue;
      }
    }
    auto c = static_cast<unsigned char>(bytes[i++]);
    if (common_control(c, out)) continue;
    switch (state_) {
      case State::kGround: ground(c, out); break;
      case State::kEscape: escape(c, out); break;
      case State::kCsi: csi(c, out); break;
      case State::kCsiIgnore:
        if (c >= 0x40 && c <= 0x7E) {
          state_ = State::kGround;
        } else if (c < 0x20) {
          out.push_back(static_cast<char>(c));
        } else if (c >= 0x80) {
          state_ = State::kGround;
          ground(c, out);
        }
        break;
      case State::kString: string_byte(c, out); break;
      case State::kDroppedString:
        if (c == kBel) state_ = State::kGround;
        break;
      case State::kDroppedStringEscape: end_string(c, out); break;
      case State::kStringEscape:
        out += kStringTerminator;
        string_ended(out);
        end_string(c, out);
        break;
    }
  }
}

void OutputFilter::end_string(unsigned char c, std::string& out) {
  // ESC \ ends the string; ESC and anything else ends it and starts an
  // escape sequence.
  state_ = State::kGround;
  if (c == '\\') return;
  state_ = State::kEscape;
  sequence_.clear();
  escape(c, out);
}

bool OutputFilter::common_control(unsigned char c, std::string& out) {
  if (c == 0 || c == kDel) return true;  // ignored everywhere, as terminals do
  if (c == kCan || c == kSub) {
    // Cancels any sequence, in the emulation too.
    flush_utf8(out);
    sequence_.clear();
    state_ = State::kGround;
    out.push_back(static_cast<char>(c));
    return true;
  }
  if (c != kEsc) return false;
  switch (state_) {
    case State::kString: state_ = State::kStringEscape; return true;
    case State::kDroppedString: state_ = State::kDroppedStringEscape; return true;
    case State::kStringEscape:
      out += kStringTerminator;
      string_ended(out);
      break;
    case State::kGround: flush_utf8(out); break;
    default: break;
  }
  state_ = State::kEscape;
  sequence_.clear();
  return true;
}

void OutputFilter::ground(unsigned char c, std::string& out) {
  if (c >= 0x80) {
    utf8_byte(c, out);
    return;
  }
  flush_utf8(out);
  out.push_back(static_cast<char>(c));
  if (c >= 0x20) {
    last_.assign(1, static_cast<char>(c));
    marks_in_a_row_ = 0;
  }
}

void OutputFilter::utf8_byte(unsigned char c, std::string& out) {
  if (!utf8_.empty() && !continues(utf8_, c)) flush_utf8(out);
  if (utf8_.empty()) {
    utf8_needed_ = continuation_count(c);
    if (utf8_needed_ == 0) {
      out += kReplacement;
      last_ = kReplacement;
      return;
    }
  }
  utf8_.push_back(static_cast<char>(c));
  if (utf8_.size() <= utf8_needed_) return;
  // U+0080 to U+009F are C1 controls: the emulation would print them with a
  // width of -1, so they go.
  bool c1 = static_cast<unsigned char>(utf8_[0]) == 0xC2 && c <= 0x9F;
  // libvterm keeps every mark that follows a character, and hands all of
  // them to the screen again for each new one: a long run of marks costs
  // memory and time without end. Past a few, they go.
  bool mark = !c1 && zero_width(utf8_);
  marks_in_a_row_ = mark ? marks_in_a_row_ + 1 : 0;
  if (!c1 && marks_in_a_row_ <= kMostMarks) {
    out += utf8_;
    last_ = utf8_;
  }
  utf8_.clear();
}

void OutputFilter::flush_utf8(std::string& out) {
  if (utf8_.empty()) return;
  out += kReplacement;
  last_ = kReplacement;
  utf8_.clear();
}

void OutputFilter::escape(unsigned char c, std::string& out) {
  if (c < 0x20) {
    out.push_back(static_cast<char>(c));  // a control inside a sequence is carried out at once
  } else if (sequence_.empty() && c == '[') {
    state_ = State::kCsi;
  } else if (sequence_.empty() && is_dropped_string_introducer(c)) {
    state_ = State::kDroppedString;
  } else if (sequence_.empty() && is_string_introducer(c)) {
    out.push_back(static_cast<char>(kEsc));
    out.push_back(static_cast<char>(c));
    string_head_.assign(1, static_cast<char>(c));
    state_ = State::kString;
  } else if (c < 0x30) {
    sequence_.push_back(static_cast<char>(c));
    if (sequence_.size() > kLongestSequence) state_ = State::kGround;
  } else if (c < 0x80) {
    state_ = State::kGround;
    // libvterm takes ESC, intermediates and "[" (or a string's introducer)
    // for the start of a control sequence that nobody sent: dropped.
    if (!sequence_.empty() && (c == '[' || is_string_introducer(c) || is_dropped_string_introducer(c))) return;
    out.push_back(static_cast<char>(kEsc));
    out += sequence_;
    out.push_back(static_cast<char>(c));
    if (sequence_.empty() && c == '7') saved_faint_ = faint_;   // DECSC
    if (sequence_.empty() && c == '8') restore_cursor(out);     // DECRC
    if (sequence_.empty() && c == 'c') note_faint(false, out);  // a reset (RIS)
  } else {
    state_ = State::kGround;
    ground(c, out);
  }
}

void OutputFilter::csi(unsigned char c, std::string& out) {
  if (c < 0x20) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x40) {
    sequence_.push_back(static_cast<char>(c));
    if (sequence_.size() > kLongestSequence) state_ = State::kCsiIgnore;
  } else if (c < 0x7F) {
    sequence_.push_back(static_cast<char>(c));
    finish_csi(out);
  } else {
    state_ = State::kGround;
    ground(c, out);
  }
}

void OutputFilter::finish_csi(std::string& out) {
  state_ = State::kGround;
  char final = sequence_.back();
  std::string_view params = std::string_view(sequence_).substr(0, sequence_.size() - 1);
  std::size_t count = final == 'b' ? repeat_count(params) : 0;
  if (count > 0) {
    // REP repeats the last character printed; the emulation is not asked.
    if (last_.empty()) return;
    for (std::size_t n = std::min(count, max_repeat_); n > 0; --n) out += last_;
    return;
  }
  out += "\x1b[";
  out += bounded_parameters(params);
  out.push_back(final);
  if (cursor_mode(params, final) && final == 'h') saved_faint_ = faint_;
  if (cursor_mode(params, final) && final == 'l') restore_cursor(out);
  if (final == 'm') {
    if (int effect = faint_effect(params); effect >= 0) note_faint(effect == 1, out);
  } else if (final == 'p' && params == "!") {
    note_faint(false, out);  // a soft reset (DECSTR)
  }
}

void OutputFilter::restore_cursor(const std::string& out) {
  marks_.push_back({out.size(), Mark::kCursorRestore});
  note_faint(saved_faint_, out);  // the pen is restored with the cursor
}

void OutputFilter::note_faint(bool on, const std::string& out) {
  if (on == faint_) return;
  faint_ = on;
  marks_.push_back({out.size(), on ? Mark::kFaintOn : Mark::kFaintOff});
}

void OutputFilter::string_byte(unsigned char c, std::string& out) {
  out.push_back(static_cast<char>(c));
  if (c == kBel) {
    state_ = State::kGround;
    string_ended(out);
  } else if (string_head_.size() < kLongestMarkString) {
    string_head_.push_back(static_cast<char>(c));
  }
}

void OutputFilter::string_ended(const std::string& out) {
  std::optional<Mark> mark = keyed_mark(string_head_, out.size());
  string_head_.clear();
  if (mark) marks_.push_back(*mark);
}

std::optional<OutputFilter::Mark> OutputFilter::keyed_mark(std::string_view head, std::size_t end) const {
  // "]133;K" with K one of A to D, then for D ";STATUS", then, among other
  // parameters, ";welkmora=KEY".
  if (mark_key_.empty() || head.size() < 6 || !head.starts_with("]133;")) return std::nullopt;
  char kind = head[5];
  if (kind < 'A' || kind > 'D' || (head.size() > 6 && head[6] != ';')) return std::nullopt;
  std::vector<std::string_view> parameters;
  for (std::size_t at = 7; at <= head.size();) {
    std::size_t stop = std::min(head.find(';', at), head.size());
    parameters.push_back(head.substr(at, stop - at));
    at = stop + 1;
  }
  std::string key = std::string(kKeyParameter) + mark_key_;
  if (std::find(parameters.begin(), parameters.end(), key) == parameters.end()) return std::nullopt;
  Mark mark{end, static_cast<Mark::Kind>(kind)};
  if (mark.kind == Mark::kCommandDone) {
    std::string_view digits = parameters.front();
    int status = 0;
    auto [last, error] = std::from_chars(digits.data(), digits.data() + digits.size(), status);
    if (error == std::errc() && last == digits.data() + digits.size() && status >= 0) mark.status = status;
  }
  return mark;
}

}  // namespace host
