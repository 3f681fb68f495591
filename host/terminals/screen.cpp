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

  static int settermprop(VTermProp prop, VTermValue* value, void* user) {
    if (prop == VTERM_PROP_ALTSCREEN) static_cast<Screen*>(user)->set_alternate(value->boolean != 0);
    return 1;
  }

  static void output(const char* bytes, std::size_t len, void* user) {
    auto* self = static_cast<Screen*>(user);
    if (self->reply_) self->reply_(std::string_view(bytes, len));
  }
};

void Screen::VTermFree::operator()(VTerm* vt) const { vterm_free(vt); }

Screen::Screen(int rows, int cols, ReplyFn reply)
    : vt_(vterm_new(rows, cols)), rows_(rows), cols_(cols), reply_(std::move(reply)) {
  static const VTermScreenCallbacks kCallbacks = {
      .damage = nullptr,
      .moverect = nullptr,
      .movecursor = nullptr,
      .settermprop = &ScreenCallbacks::settermprop,
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
  shot.alternate = alternate_;
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
  vterm_set_size(vt_.get(), rows, cols);
  rows_ = rows;
  cols_ = cols;
}

}  // namespace host
