#include "terminals/screen.h"

#include <vterm.h>

#include <algorithm>

#include "utf8.h"

namespace host {
namespace {

/// libvterm marks the right half of a double-width character this way.
constexpr std::uint32_t kWideContinuation = 0xFFFFFFFF;

/// Appends one cell's characters; an empty cell is a blank.
void append_cell(std::string& out, const VTermScreenCell& cell) {
  if (cell.chars[0] == kWideContinuation) return;
  if (cell.chars[0] == 0) {
    out.push_back(' ');
    return;
  }
  for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) wire::append_utf8(out, cell.chars[i]);
}

void trim_right(std::string& line) {
  std::size_t end = line.find_last_not_of(' ');
  line.erase(end == std::string::npos ? 0 : end + 1);
}

}  // namespace

/// The functions libvterm calls, with the Screen as their user data.
struct ScreenCallbacks {
  static int push_line(int cols, const VTermScreenCell* cells, void* user) {
    std::string line;
    for (int col = 0; col < cols; ++col) append_cell(line, cells[col]);
    trim_right(line);
    static_cast<Screen*>(user)->push_line(std::move(line));
    return 1;
  }

  static void output(const char* bytes, std::size_t len, void* user) {
    auto* self = static_cast<Screen*>(user);
    if (self->capture_ != nullptr) {
      self->capture_->append(bytes, len);
    } else if (self->reply_) {
      self->reply_(std::string_view(bytes, len));
    }
  }

  static int set_property(VTermProp prop, VTermValue* value, void* user) {
    static_cast<Screen*>(user)->set_property(prop, value->number);
    return 1;
  }

  static int damage(VTermRect rect, void* user) {
    static_cast<Screen*>(user)->damage(rect.start_row, rect.end_row);
    return 1;
  }

  static int move_cursor(VTermPos, VTermPos, int, void* user) {
    static_cast<Screen*>(user)->cursor_moved();
    return 1;
  }
};

void Screen::VTermFree::operator()(VTerm* vt) const { vterm_free(vt); }

Screen::Screen(int rows, int cols, ReplyFn reply)
    : vt_(vterm_new(std::max(rows, 1), std::max(cols, kMinColumns))),
      rows_(std::max(rows, 1)),
      cols_(std::max(cols, kMinColumns)),
      reply_(std::move(reply)),
      row_changes_(static_cast<std::size_t>(rows_), 1) {
  static const VTermScreenCallbacks kCallbacks = {
      .damage = &ScreenCallbacks::damage,
      .moverect = nullptr,
      .movecursor = &ScreenCallbacks::move_cursor,
      .settermprop = &ScreenCallbacks::set_property,
      .bell = nullptr,
      .resize = nullptr,
      .sb_pushline = &ScreenCallbacks::push_line,
      .sb_popline = nullptr,
  };
  vterm_set_utf8(vt_.get(), 1);
  vterm_output_set_callback(vt_.get(), &ScreenCallbacks::output, this);
  screen_ = vterm_obtain_screen(vt_.get());
  vterm_screen_set_callbacks(screen_, &kCallbacks, this);
  vterm_screen_enable_altscreen(screen_, 1);
  vterm_screen_reset(screen_, 1);
}

Screen::~Screen() = default;

void Screen::feed(std::string_view bytes) {
  filtered_.clear();
  filter_.pass(bytes, filtered_, static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_));
  if (!filtered_.empty()) vterm_input_write(vt_.get(), filtered_.data(), filtered_.size());
}

void Screen::push_line(std::string line) {
  scrollback_.push_back(std::move(line));
  if (scrollback_.size() > kScrollbackLimit) scrollback_.pop_front();
  ++scrolled_;
}

std::string Screen::row_text(int row) const {
  std::string line;
  VTermScreenCell cell;
  for (int col = 0; col < cols_; ++col) {
    if (vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell)) append_cell(line, cell);
  }
  trim_right(line);
  return line;
}

std::string Screen::text(std::size_t history) const {
  std::string text;
  std::size_t first = scrollback_.size() - std::min(history, scrollback_.size());
  for (std::size_t i = first; i < scrollback_.size(); ++i) text.append(scrollback_[i]).push_back('\n');
  for (int row = 0; row < rows_; ++row) text.append(row_text(row)).push_back('\n');
  std::size_t end = text.find_last_not_of('\n');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return wire::sanitize_utf8(text);
}

ScreenText Screen::snapshot(std::uint64_t from_row) const {
  ScreenText shot;
  const std::uint64_t kept_from = scrolled_ - scrollback_.size();
  shot.first_row = std::max(kept_from, std::min(from_row, scrolled_));
  for (std::uint64_t n = shot.first_row; n < scrolled_; ++n) {
    shot.rows.push_back(scrollback_[static_cast<std::size_t>(n - kept_from)]);
  }
  for (int row = 0; row < rows_; ++row) shot.rows.push_back(row_text(row));
  shot.screen_rows = static_cast<std::size_t>(rows_);
  VTermPos cursor;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_.get()), &cursor);
  shot.cursor_row = scrolled_ + static_cast<std::uint64_t>(std::max(cursor.row, 0));
  shot.alternate = alternate_;
  return shot;
}

void Screen::set_property(int prop, int value) {
  // Booleans and numbers share the first bytes of VTermValue.
  switch (prop) {
    case VTERM_PROP_ALTSCREEN: alternate_ = value != 0; break;
    case VTERM_PROP_CURSORVISIBLE:
      cursor_visible_ = value != 0;
      cursor_moved();
      break;
    case VTERM_PROP_MOUSE: mouse_ = value; break;
    default: break;
  }
}

namespace {

Color color_of(const VTermColor& c, bool is_default) {
  if (is_default) return {};
  if (VTERM_COLOR_IS_INDEXED(&c)) return {Color::Kind::kIndexed, c.indexed.idx};
  return {Color::Kind::kRgb, 0, c.rgb.red, c.rgb.green, c.rgb.blue};
}

Style style_of(const VTermScreenCell& cell) {
  Style s;
  s.fg = color_of(cell.fg, VTERM_COLOR_IS_DEFAULT_FG(&cell.fg));
  s.bg = color_of(cell.bg, VTERM_COLOR_IS_DEFAULT_BG(&cell.bg));
  s.bold = cell.attrs.bold;
  s.italic = cell.attrs.italic;
  s.underline = cell.attrs.underline != 0;
  s.blink = cell.attrs.blink;
  s.reverse = cell.attrs.reverse;
  s.strike = cell.attrs.strike;
  return s;
}

}  // namespace

std::vector<Span> Screen::styled_row(int row) const {
  std::vector<Span> spans;
  VTermScreenCell cell;
  for (int col = 0; col < cols_; ++col) {
    if (!vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell) || cell.chars[0] == kWideContinuation) continue;
    Style style = style_of(cell);
    if (spans.empty() || !(spans.back().style == style)) spans.push_back({style, {}, 0});
    append_cell(spans.back().text, cell);
    spans.back().columns += cell.width > 1 ? cell.width : 1;
  }
  // Trailing blanks of the default style draw nothing.
  while (!spans.empty() && spans.back().style == Style{}) {
    Span& last = spans.back();
    std::size_t end = last.text.find_last_not_of(' ');
    std::size_t kept = end == std::string::npos ? 0 : end + 1;
    last.columns -= static_cast<int>(last.text.size() - kept);
    last.text.resize(kept);
    if (!last.text.empty()) break;
    spans.pop_back();
  }
  return spans;
}

Cursor Screen::cursor() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_.get()), &pos);
  return {pos.row, pos.col, cursor_visible_};
}

template <class Fn>
std::string Screen::captured(Fn send) {
  std::string out;
  capture_ = &out;
  send();
  capture_ = nullptr;
  return out;
}

std::string Screen::input_modes() {
  VTerm* vt = vt_.get();
  std::string modes;
  std::string up = captured([vt] { vterm_keyboard_key(vt, VTERM_KEY_UP, VTERM_MOD_NONE); });
  modes += up == "\x1bOA" ? "\x1b[?1h" : "\x1b[?1l";
  std::string enter = captured([vt] { vterm_keyboard_key(vt, VTERM_KEY_KP_ENTER, VTERM_MOD_NONE); });
  modes += enter == "\x1bOM" ? "\x1b=" : "\x1b>";
  std::string paste = captured([vt] {
    vterm_keyboard_start_paste(vt);
    vterm_keyboard_end_paste(vt);
  });
  modes += paste.empty() ? "\x1b[?2004l" : "\x1b[?2004h";
  modes += "\x1b[?1000l\x1b[?1002l\x1b[?1003l";
  if (mouse_ == VTERM_PROP_MOUSE_CLICK) modes += "\x1b[?1000h";
  if (mouse_ == VTERM_PROP_MOUSE_DRAG) modes += "\x1b[?1002h";
  if (mouse_ == VTERM_PROP_MOUSE_MOVE) modes += "\x1b[?1003h";
  return modes;
}

void Screen::press(const KeyPress& key) {
  static constexpr VTermKey kVTermKeys[] = {
      VTERM_KEY_NONE, VTERM_KEY_ENTER, VTERM_KEY_TAB,  VTERM_KEY_BACKSPACE, VTERM_KEY_ESCAPE,
      VTERM_KEY_UP,   VTERM_KEY_DOWN,  VTERM_KEY_LEFT, VTERM_KEY_RIGHT,     VTERM_KEY_INS,
      VTERM_KEY_DEL,  VTERM_KEY_HOME,  VTERM_KEY_END,  VTERM_KEY_PAGEUP,    VTERM_KEY_PAGEDOWN,
  };
  auto mod = static_cast<VTermModifier>((key.modifiers & kShift ? VTERM_MOD_SHIFT : 0) |
                                        (key.modifiers & kMeta ? VTERM_MOD_ALT : 0) |
                                        (key.modifiers & kCtrl ? VTERM_MOD_CTRL : 0));
  if (key.key == Key::kNone) {
    vterm_keyboard_unichar(vt_.get(), key.character, mod);
  } else if (key.key == Key::kFunction) {
    vterm_keyboard_key(vt_.get(), static_cast<VTermKey>(VTERM_KEY_FUNCTION(key.number)), mod);
  } else {
    vterm_keyboard_key(vt_.get(), kVTermKeys[static_cast<int>(key.key)], mod);
  }
}

std::string_view cursor_line(const ScreenText& screen) {
  if (screen.cursor_row < screen.first_row) return {};
  std::uint64_t i = screen.cursor_row - screen.first_row;
  if (i >= screen.rows.size()) return {};
  return screen.rows[static_cast<std::size_t>(i)];
}

void Screen::resize(int rows, int cols) {
  cols = std::max(cols, kMinColumns);
  if (rows < 1 || (rows == rows_ && cols == cols_)) return;
  row_changes_.resize(static_cast<std::size_t>(rows));
  rows_ = rows;
  cols_ = cols;
  vterm_set_size(vt_.get(), rows, cols);
  size_change_ = ++change_;
  damage(0, rows);
}

void Screen::damage(int from_row, int to_row) {
  std::uint64_t n = ++change_;
  for (int row = std::max(from_row, 0); row < std::min(to_row, rows_); ++row) {
    row_changes_[static_cast<std::size_t>(row)] = n;
  }
}

void Screen::paste(std::string_view text) {
  std::string typed(text);
  for (std::size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') typed.erase(i + 1, 1);
    if (typed[i] == '\n') typed[i] = '\r';
  }
  vterm_keyboard_start_paste(vt_.get());
  if (reply_) reply_(typed);
  vterm_keyboard_end_paste(vt_.get());
}

}  // namespace host
