#include "server/attach_filter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <vector>

namespace host {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kBel = 0x07;
constexpr unsigned char kCan = 0x18;
constexpr unsigned char kSub = 0x1A;
constexpr unsigned char kEnq = 0x05;

/// Longest control sequence that may pass; longer ones are dropped.
constexpr std::size_t kLongestSequence = 64;

/// Private modes (CSI ? N h/l) a screen program needs; the attach client
/// resets each of them when the person detaches. Screen switches (47,
/// 1047, 1049) are handled apart.
constexpr std::array kPrivateModes = {1, 5, 6, 7, 12, 25, 1000, 1002, 1003, 1004, 1005, 1006, 1015, 2004, 2026};
constexpr std::array kScreenModes = {47, 1047, 1049};
/// ANSI modes (CSI N h/l): insert and newline mode.
constexpr std::array kAnsiModes = {4, 20};

/// Finals of control sequences without a private marker that only draw:
/// cursor movement, erasing, inserting, scrolling, colours, the scroll
/// region, cursor save and restore.
constexpr std::string_view kDrawingFinals = "@ABCDEFGHIJKLMPSTXZ`abdefmrsu";

bool is_c0(unsigned char b) { return b < 0x20; }

/// The numbers of "1;25;1049" ("" for none); nothing when one is no number.
std::optional<std::vector<int>> numbers(std::string_view params) {
  std::vector<int> out;
  while (!params.empty()) {
    std::size_t end = std::min(params.find(';'), params.size());
    int n = 0;
    auto [ptr, ec] = std::from_chars(params.data(), params.data() + end, n);
    if (ec != std::errc() || ptr != params.data() + end) return std::nullopt;
    out.push_back(n);
    params.remove_prefix(std::min(end + 1, params.size()));
  }
  return out;
}

template <std::size_t N>
bool contains(const std::array<int, N>& list, int n) {
  return std::find(list.begin(), list.end(), n) != list.end();
}

}  // namespace

std::string AttachFilter::pass(std::string_view chunk) {
  std::string out;
  out.reserve(chunk.size());
  switched_ = false;
  for (char c : chunk) on_byte(static_cast<unsigned char>(c), out);
  return out;
}

void AttachFilter::on_byte(unsigned char b, std::string& out) {
  switch (state_) {
    case State::kText:
      if (b == kEsc) {
        held_.assign(1, static_cast<char>(kEsc));
        too_long_ = false;
        state_ = State::kEscape;
      } else if (b == 0xC2) {
        state_ = State::kLead;
      } else if (b != kEnq) {  // ENQ would have the terminal type its answerback
        out.push_back(static_cast<char>(b));
      }
      return;
    case State::kLead:
      state_ = State::kText;
      if (b >= 0x80 && b <= 0x9F) return;  // a C1 control: dropped
      out.push_back(static_cast<char>(0xC2));
      return on_byte(b, out);
    case State::kEscape:
    case State::kEscapeMiddle: return on_escape(b, out);
    case State::kControl: return on_control(b, out);
    case State::kString:
      if (b == kEsc) state_ = State::kStringEscape;
      if (b == kBel || b == kCan || b == kSub) state_ = State::kText;
      return;
    case State::kStringEscape:
      // ST ends the string; any other sequence ends it too and starts anew.
      state_ = State::kText;
      if (b != '\\') {
        on_byte(kEsc, out);
        on_byte(b, out);
      }
      return;
  }
}

void AttachFilter::on_escape(unsigned char b, std::string& out) {
  if (b == kCan || b == kSub) {
    state_ = State::kText;
  } else if (b == kEsc) {
    held_.assign(1, static_cast<char>(kEsc));
    state_ = State::kEscape;
  } else if (is_c0(b)) {
    if (b != kEnq) out.push_back(static_cast<char>(b));  // executed, the sequence goes on
  } else if (b >= 0x20 && b <= 0x2F) {
    held_.push_back(static_cast<char>(b));
    state_ = State::kEscapeMiddle;
  } else if (state_ == State::kEscape && b == '[') {
    held_.push_back('[');
    state_ = State::kControl;
  } else if (state_ == State::kEscape && (b == ']' || b == 'P' || b == '_' || b == '^' || b == 'X')) {
    state_ = State::kString;  // OSC, DCS, APC, PM, SOS: titles, clipboard, queries...
  } else {
    state_ = State::kText;
    held_.push_back(static_cast<char>(b));
    // Save and restore the cursor, keypad modes, index, next line, reverse
    // index; and the G0/G1 charsets as ASCII or line drawing.
    bool single = held_.size() == 2 && std::string_view("78=>DEM").find(static_cast<char>(b)) != std::string::npos;
    bool charset = held_.size() == 3 && (held_[1] == '(' || held_[1] == ')') && (b == '0' || b == 'B');
    if (single || charset) out.append(held_);
  }
}

void AttachFilter::on_control(unsigned char b, std::string& out) {
  if (b == kCan || b == kSub) {
    state_ = State::kText;
  } else if (b == kEsc) {
    held_.assign(1, static_cast<char>(kEsc));
    too_long_ = false;
    state_ = State::kEscape;
  } else if (is_c0(b)) {
    if (b != kEnq) out.push_back(static_cast<char>(b));
  } else if (b >= 0x20 && b <= 0x3F) {
    if (held_.size() >= kLongestSequence) {
      too_long_ = true;
    } else {
      held_.push_back(static_cast<char>(b));
    }
  } else {
    state_ = State::kText;
    if (!too_long_ && b <= 0x7E && control_allowed(b)) out.append(held_).push_back(static_cast<char>(b));
  }
}

bool AttachFilter::control_allowed(unsigned char final) {
  std::string_view body = std::string_view(held_).substr(2);
  std::size_t middle = body.find_first_of(" !\"#$%&'()*+,-./");
  std::string_view intermediates = middle == std::string_view::npos ? "" : body.substr(middle);
  body = body.substr(0, middle);
  if (!intermediates.empty()) return intermediates == " " && final == 'q' && body.size() <= 1;  // cursor style
  char marker = !body.empty() && body[0] >= '<' && body[0] <= '?' ? body[0] : 0;
  if (marker != 0) body.remove_prefix(1);
  if (marker != 0 && marker != '?') return false;
  std::optional<std::vector<int>> modes = numbers(body);
  if (final != 'h' && final != 'l')
    return marker == 0 && kDrawingFinals.find(static_cast<char>(final)) != std::string::npos;
  if (!modes) return false;
  bool all = true;
  for (int mode : *modes) {
    bool screen = marker == '?' && contains(kScreenModes, mode);
    switched_ = switched_ || screen;
    all = all && !screen && (marker == '?' ? contains(kPrivateModes, mode) : contains(kAnsiModes, mode));
  }
  return all;
}

}  // namespace host
