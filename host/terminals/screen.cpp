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

CellColor cell_color(const VTermColor& c, bool fg) {
  CellColor out;
  if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return out;
  if (VTERM_COLOR_IS_INDEXED(&c)) {
    out.kind = CellColor::Kind::kIndexed;
    out.index = c.indexed.idx;
  } else {
    out.kind = CellColor::Kind::kRgb;
    out.r = c.rgb.red;
    out.g = c.rgb.green;
    out.b = c.rgb.blue;
  }
  return out;
}

CellStyle cell_style(const VTermScreenCell& cell) {
  CellStyle style;
  style.fg = cell_color(cell.fg, true);
  style.bg = cell_color(cell.bg, false);
  style.bold = cell.attrs.bold != 0;
  style.underline = cell.attrs.underline != 0;
  style.italic = cell.attrs.italic != 0;
  style.blink = cell.attrs.blink != 0;
  style.reverse = cell.attrs.reverse != 0;
  style.strike = cell.attrs.strike != 0;
  return style;
}

VTermModifier vterm_mods(KeyMods mods) {
  int m = VTERM_MOD_NONE;
  if (mods.shift) m |= VTERM_MOD_SHIFT;
  if (mods.alt) m |= VTERM_MOD_ALT;
  if (mods.ctrl) m |= VTERM_MOD_CTRL;
  return static_cast<VTermModifier>(m);
}

VTermKey vterm_key(Key key) {
  static constexpr VTermKey kKeys[] = {
      VTERM_KEY_ENTER, VTERM_KEY_TAB,  VTERM_KEY_BACKSPACE, VTERM_KEY_ESCAPE,   VTERM_KEY_UP,
      VTERM_KEY_DOWN,  VTERM_KEY_LEFT, VTERM_KEY_RIGHT,     VTERM_KEY_INS,      VTERM_KEY_DEL,
      VTERM_KEY_HOME,  VTERM_KEY_END,  VTERM_KEY_PAGEUP,    VTERM_KEY_PAGEDOWN,
  };
  auto n = static_cast<int>(key);
  if (key >= Key::kF1) return static_cast<VTermKey>(VTERM_KEY_FUNCTION_0 + 1 + n - static_cast<int>(Key::kF1));
  return kKeys[n];
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

  static int damage(VTermRect rect, void* user) {
    static_cast<Screen*>(user)->damage(rect.start_row, rect.end_row);
    return 1;
  }

  static int move_cursor(VTermPos pos, VTermPos, int visible, void* user) {
    auto* self = static_cast<Screen*>(user);
    self->cursor_ = {pos.row, pos.col, visible != 0};
    self->cursor_change_ = ++self->change_;
    return 1;
  }

  static int set_property(VTermProp prop, VTermValue* value, void* user) {
    auto* self = static_cast<Screen*>(user);
    if (prop == VTERM_PROP_CURSORVISIBLE) {
      self->cursor_.visible = value->boolean != 0;
      self->cursor_change_ = ++self->change_;
    }
    return 1;
  }

  static void output(const char* bytes, std::size_t len, void* user) {
    auto* self = static_cast<Screen*>(user);
    if (self->reply_) self->reply_(std::string_view(bytes, len));
  }
};

void Screen::VTermFree::operator()(VTerm* vt) const { vterm_free(vt); }

Screen::Screen(int rows, int cols, ReplyFn reply)
    : vt_(vterm_new(rows, cols)),
      rows_(rows),
      cols_(cols),
      reply_(std::move(reply)),
      row_changes_(static_cast<std::size_t>(rows), 1) {
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
  if (!bytes.empty()) vterm_input_write(vt_.get(), bytes.data(), bytes.size());
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
  return shot;
}

std::string_view cursor_line(const ScreenText& screen) {
  if (screen.cursor_row < screen.first_row) return {};
  std::uint64_t i = screen.cursor_row - screen.first_row;
  if (i >= screen.rows.size()) return {};
  return screen.rows[static_cast<std::size_t>(i)];
}

void Screen::resize(int rows, int cols) {
  if (rows < 1 || cols < 1 || (rows == rows_ && cols == cols_)) return;
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

std::vector<StyledRun> Screen::styled_row(int row) const {
  std::vector<StyledRun> runs;
  std::size_t kept_runs = 0, kept_bytes = 0;  // up to the last cell that shows something
  VTermScreenCell cell;
  for (int col = 0; col < cols_; ++col) {
    if (!vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell) || cell.chars[0] == kWideContinuation) continue;
    CellStyle style = cell_style(cell);
    if (runs.empty() || !(runs.back().style == style)) runs.push_back({{}, style});
    append_cell(runs.back().text, cell);
    bool blank = cell.chars[0] == 0 || cell.chars[0] == ' ';
    if (!blank || !(style == CellStyle{})) {
      kept_runs = runs.size();
      kept_bytes = runs.back().text.size();
    }
  }
  runs.resize(kept_runs);
  if (!runs.empty()) runs.back().text.resize(kept_bytes);
  for (StyledRun& run : runs) run.text = wire::sanitize_utf8(run.text);
  return runs;
}

void Screen::key(Key key, KeyMods mods) { vterm_keyboard_key(vt_.get(), vterm_key(key), vterm_mods(mods)); }

void Screen::character(char32_t c, KeyMods mods) { vterm_keyboard_unichar(vt_.get(), c, vterm_mods(mods)); }

void Screen::paste(std::string_view text) {
  vterm_keyboard_start_paste(vt_.get());
  std::string typed(text);
  for (std::size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') typed.erase(i + 1, 1);
    if (typed[i] == '\n') typed[i] = '\r';
  }
  if (reply_) reply_(typed);
  vterm_keyboard_end_paste(vt_.get());
}

}  // namespace host
