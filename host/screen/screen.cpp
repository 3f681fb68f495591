#include "screen/screen.h"

#include <vterm.h>

#include <cstdio>

#include "utf8.h"

namespace host {
namespace {

/// Shortest run of printable ASCII worth writing directly: below it, the
/// cursor move that tells libvterm about the run costs more than it saves.
constexpr std::ptrdiff_t kShortestPlainRun = 8;

/// Most characters kept in one cell: a base and its combining marks.
constexpr int kMaxCellChars = 6;

Color color_of(const VTermColor& c, bool is_default) {
  if (is_default) return {};
  if (VTERM_COLOR_IS_INDEXED(&c)) return {Color::Kind::kIndexed, c.indexed.idx};
  return {Color::Kind::kRgb, 0, c.rgb.red, c.rgb.green, c.rgb.blue};
}

void set_flag(Pen& pen, std::uint8_t flag, bool on) {
  pen.attrs = static_cast<std::uint8_t>(on ? pen.attrs | flag : pen.attrs & ~flag);
}

/// kShift, kMeta and kCtrl as libvterm's modifiers.
VTermModifier vterm_modifiers(unsigned modifiers) {
  return static_cast<VTermModifier>((modifiers & kShift ? VTERM_MOD_SHIFT : 0) |
                                    (modifiers & kMeta ? VTERM_MOD_ALT : 0) | (modifiers & kCtrl ? VTERM_MOD_CTRL : 0));
}

/// Where a run of text ends for libvterm's decoders: at a control or DEL.
const char* text_end(const char* bytes, std::size_t len) {
  const char* end = bytes;
  const char* last = bytes + len;
  while (end < last && static_cast<unsigned char>(*end) >= 0x20 && *end != 0x7f) ++end;
  return end;
}

const char* ascii_end(const char* from, const char* end) {
  while (from < end && static_cast<unsigned char>(*from) < 0x80) ++from;
  return from;
}

}  // namespace

/// The functions libvterm calls, with the Screen as their user data.
struct ScreenCallbacks {
  static Screen* self(void* user) { return static_cast<Screen*>(user); }

  static int put_glyph(VTermGlyphInfo* info, VTermPos pos, void* user) {
    self(user)->put_glyph(info->chars, info->width, info->protected_cell, pos.row, pos.col);
    return 1;
  }
  static int move_cursor(VTermPos pos, VTermPos, int, void* user) {
    self(user)->cursor_moved(pos.row, pos.col);
    return 1;
  }
  static int scroll_rect(VTermRect rect, int downward, int rightward, void* user) {
    // Whole rows go through the ring; libvterm moves other rectangles
    // with move_rect and erase.
    if (rightward != 0 || rect.start_col != 0 || rect.end_col != self(user)->cols_) return 0;
    return self(user)->scroll_rows(rect.start_row, rect.end_row, downward) ? 1 : 0;
  }
  static int move_rect(VTermRect dest, VTermRect src, void* user) {
    self(user)->move_cells(dest.start_row, dest.start_col, src.start_row, src.start_col, dest.end_row - dest.start_row,
                           dest.end_col - dest.start_col);
    return 1;
  }
  static int erase(VTermRect rect, int selective, void* user) {
    self(user)->erase(rect.start_row, rect.end_row, rect.start_col, rect.end_col, selective != 0);
    return 1;
  }
  static int init_pen(void* user) {
    self(user)->pen_ = Pen{};
    return 1;
  }
  static int set_pen_attr(VTermAttr attr, VTermValue* value, void* user) {
    Pen& pen = self(user)->pen_;
    switch (attr) {
      case VTERM_ATTR_BOLD: set_flag(pen, Pen::kBold, value->boolean); break;
      case VTERM_ATTR_UNDERLINE: set_flag(pen, Pen::kUnderline, value->number != 0); break;
      case VTERM_ATTR_ITALIC: set_flag(pen, Pen::kItalic, value->boolean); break;
      case VTERM_ATTR_BLINK: set_flag(pen, Pen::kBlink, value->boolean); break;
      case VTERM_ATTR_REVERSE: set_flag(pen, Pen::kReverse, value->boolean); break;
      case VTERM_ATTR_STRIKE: set_flag(pen, Pen::kStrike, value->boolean); break;
      case VTERM_ATTR_FOREGROUND: pen.fg = color_of(value->color, VTERM_COLOR_IS_DEFAULT_FG(&value->color)); break;
      case VTERM_ATTR_BACKGROUND: pen.bg = color_of(value->color, VTERM_COLOR_IS_DEFAULT_BG(&value->color)); break;
      default: break;
    }
    return 1;
  }
  static int set_term_prop(VTermProp prop, VTermValue* value, void* user) {
    // Booleans and numbers share the first bytes of VTermValue.
    self(user)->set_property(prop, value->number);
    return 1;
  }
  static int resize(int rows, int cols, VTermPos* delta, void* user) {
    self(user)->state_resized(rows, cols, delta->row);
    return 1;
  }
  static int set_line_info(int row, const VTermLineInfo* now, const VTermLineInfo* before, void* user) {
    if (now->doublewidth != before->doublewidth) self(user)->double_width(row, now->doublewidth);
    return 1;
  }

  static void output(const char* bytes, std::size_t len, void* user) {
    Screen* screen = self(user);
    if (screen->capture_ != nullptr) {
      screen->capture_->append(bytes, len);
    } else if (screen->reply_) {
      screen->reply_(std::string_view(bytes, len));
    }
  }

  // The scanner: libvterm's parser over the output before the terminal's.
  static int scan_text(const char* bytes, std::size_t len, void* user) {
    return static_cast<int>(self(user)->scanned_text(bytes, len));
  }
  static int scan_control(unsigned char control, void* user) {
    self(user)->plain_.control(control);
    return 1;
  }
  static int scan_escape(const char* bytes, std::size_t len, void* user) {
    self(user)->plain_.escape(std::string_view(bytes, len));
    return 1;
  }
  static int scan_csi(const char* leader, const long args[], int count, const char* intermed, char command,
                      void* user) {
    self(user)->plain_.csi(leader, args, count, intermed, command);
    return 1;
  }
  static int scan_string(const char*, std::size_t, void*) { return 1; }
};

void Screen::VTermFree::operator()(VTerm* vt) const { vterm_free(vt); }

Screen::Screen(int rows, int cols, ReplyFn reply)
    : vt_(vterm_new(std::max(rows, 1), std::max(cols, kMinColumns))),
      scanner_(vterm_new(std::max(rows, 1), std::max(cols, kMinColumns))),
      rows_(std::max(rows, 1)),
      cols_(std::max(cols, kMinColumns)),
      reply_(std::move(reply)),
      primary_(rows_, cols_),
      row_changes_(static_cast<std::size_t>(rows_), 1) {
  static const VTermStateCallbacks kState = {
      .putglyph = &ScreenCallbacks::put_glyph,
      .movecursor = &ScreenCallbacks::move_cursor,
      .scrollrect = &ScreenCallbacks::scroll_rect,
      .moverect = &ScreenCallbacks::move_rect,
      .erase = &ScreenCallbacks::erase,
      .initpen = &ScreenCallbacks::init_pen,
      .setpenattr = &ScreenCallbacks::set_pen_attr,
      .settermprop = &ScreenCallbacks::set_term_prop,
      .bell = nullptr,
      .resize = &ScreenCallbacks::resize,
      .setlineinfo = &ScreenCallbacks::set_line_info,
  };
  static const VTermParserCallbacks kScanner = {
      .text = &ScreenCallbacks::scan_text,
      .control = &ScreenCallbacks::scan_control,
      .escape = &ScreenCallbacks::scan_escape,
      .csi = &ScreenCallbacks::scan_csi,
      .osc = &ScreenCallbacks::scan_string,
      .dcs = &ScreenCallbacks::scan_string,
      .resize = nullptr,
  };
  vterm_set_utf8(vt_.get(), 1);
  vterm_set_utf8(scanner_.get(), 1);
  vterm_output_set_callback(vt_.get(), &ScreenCallbacks::output, this);
  VTermState* st = vterm_obtain_state(vt_.get());
  vterm_state_set_callbacks(st, &kState, this);
  vterm_state_reset(st, 1);
  vterm_parser_set_callbacks(scanner_.get(), &kScanner, this);
}

Screen::~Screen() = default;

VTermState* Screen::state() const { return vterm_obtain_state(vt_.get()); }

void Screen::feed(std::string_view bytes) {
  filtered_.clear();
  filter_.pass(bytes, filtered_, static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_));
  if (filtered_.empty()) return;
  const char* from = filtered_.data();
  unsent_ = from;
  for (const OutputFilter::Mark& mark : filter_.marks()) {
    const char* to = filtered_.data() + mark.end;
    vterm_input_write(scanner_.get(), from, static_cast<std::size_t>(to - from));
    forward(to);
    marked(mark);
    from = to;
  }
  vterm_input_write(scanner_.get(), from, static_cast<std::size_t>(filtered_.data() + filtered_.size() - from));
  forward(filtered_.data() + filtered_.size());
  unsent_ = nullptr;
}

void Screen::marked(const OutputFilter::Mark& mark) {
  switch (mark.kind) {
    case OutputFilter::Mark::kCursorRestore: keep_cursor_on_screen(); return;
    case OutputFilter::Mark::kPromptStart:
      marks_.prompt_row = lines_scrolled() + static_cast<std::uint64_t>(std::max(cursor().row, 0));
      marks_.at_prompt = true;
      return;
    case OutputFilter::Mark::kInputStart:
      ++marks_.prompts;
      marks_.at_prompt = true;
      return;
    case OutputFilter::Mark::kCommandStart: marks_.at_prompt = false; return;
    case OutputFilter::Mark::kCommandDone:
      marks_.status = mark.status;
      marks_.at_prompt = false;
      return;
    case OutputFilter::Mark::kFaintOn:
    case OutputFilter::Mark::kFaintOff: set_flag(pen_, Pen::kFaint, mark.kind == OutputFilter::Mark::kFaintOn); return;
  }
}

void Screen::keep_cursor_on_screen() {
  VTermPos pos;
  vterm_state_get_cursorpos(state(), &pos);
  // A relative move, so that origin mode does not matter; libvterm brings
  // row and column onto the screen after it.
  char move[24];
  int n = 0;
  if (pos.row >= rows_) {
    n = std::snprintf(move, sizeof move, "\x1b[%dA", pos.row - rows_ + 1);
  } else if (pos.col >= cols_) {
    n = std::snprintf(move, sizeof move, "\x1b[%dD", pos.col - cols_ + 1);
  }
  if (n > 0) vterm_input_write(vt_.get(), move, static_cast<std::size_t>(n));
}

void Screen::forward(const char* end) {
  if (end > unsent_) vterm_input_write(vt_.get(), unsent_, static_cast<std::size_t>(end - unsent_));
  unsent_ = end;
}

std::size_t Screen::scanned_text(const char* bytes, std::size_t len) {
  const char* end = text_end(bytes, len);
  if (end == bytes) return 1;  // not text after all; the parser moves on
  if (!plain_.starts_plain()) {
    plain_.decoded(std::string_view(bytes, static_cast<std::size_t>(end - bytes)));
    return static_cast<std::size_t>(end - bytes);
  }
  // `from` is where the text libvterm will decode in one go starts.
  const char* from = bytes;
  for (const char* p = bytes; p < end;) {
    const char* q = ascii_end(p, end);
    std::string_view before(from, static_cast<std::size_t>(p - from));
    if (q - p >= kShortestPlainRun && plain_.plain_after(before)) {
      plain_.decoded(before);
      forward(p);
      from = write_plain(p, q);
    }
    p = q;
    while (p < end && static_cast<unsigned char>(*p) >= 0x80) ++p;
  }
  plain_.decoded(std::string_view(from, static_cast<std::size_t>(end - from)));
  return static_cast<std::size_t>(end - bytes);
}

const char* Screen::write_plain(const char* p, const char* end) {
  VTermState* st = state();
  while (end - p >= kShortestPlainRun) {
    VTermPos pos;
    vterm_state_get_cursorpos(st, &pos);
    if (vterm_state_get_lineinfo(st, pos.row)->doublewidth) break;
    if (pos.col >= cols_ - 2) {
      // At the right margin libvterm places the character, and wraps.
      vterm_input_write(vt_.get(), p, 1);
      plain_.decoded(std::string_view(p, 1));
      unsent_ = ++p;
      continue;
    }
    int fits = static_cast<int>(std::min<std::ptrdiff_t>(end - p, cols_ - pos.col));
    int direct = fits - 1;
    grid().put_ascii(pos.row, pos.col, std::string_view(p, static_cast<std::size_t>(direct)), pen_);
    if (pos.col == 0) grid().row(pos.row).continued = false;
    damage(pos.row, pos.row + 1);
    glyph_row_ = after_glyph_row_ = pos.row;
    after_glyph_col_ = pos.col + direct;
    // libvterm moves past them and puts the last itself, so that what it
    // keeps of the last character (for combining marks and REP) is right.
    char move[24];
    int n = std::snprintf(move, sizeof move, "\x1b[%dC%c", direct, p[direct]);
    vterm_input_write(vt_.get(), move, static_cast<std::size_t>(n));
    plain_.decoded(std::string_view(p + direct, 1));
    p += fits;
    unsent_ = p;
  }
  return p;
}

void Screen::put_glyph(const std::uint32_t* chars, int width, bool protect, int row, int col) {
  Grid& g = grid();
  if (row < 0 || row >= g.rows() || col < 0 || col >= g.cols()) return;
  int count = 1;
  while (count < kMaxCellChars && chars[count] != 0) ++count;
  char32_t ch = count > 1 ? combined_.intern(chars, count) : chars[0] > 0x10FFFF ? 0xFFFD : chars[0];
  Pen pen = pen_;
  if (protect) pen.attrs |= Pen::kProtected;
  if (col == 0) g.row(row).continued = glyph_row_ >= 0 && glyph_row_ == row - 1;
  g.put(row, col, ch, width, pen);
  damage(row, row + 1);
  glyph_row_ = after_glyph_row_ = row;
  after_glyph_col_ = col + width >= g.cols() ? col : col + width;
}

void Screen::cursor_moved(int row, int col) {
  cursor_change_ = ++change_;
  // libvterm reports where text left the cursor; any other move means the
  // next character at a row's start is not a wrap.
  if (row != after_glyph_row_ || col != after_glyph_col_) glyph_row_ = -1;
}

bool Screen::scroll_rows(int top, int bottom, int downward) {
  Grid& g = grid();
  int height = bottom - top;
  int count = std::min(downward > 0 ? downward : -downward, height);
  bool keep = downward > 0 && top == 0 && !alternate_grid_;
  for (int i = 0; i < count; ++i) {
    if (downward > 0) {
      if (keep) scrollback_.push(g.row(top), combined_);
      g.scroll_up(top, bottom, pen_);
    } else {
      g.scroll_down(top, bottom, pen_);
    }
  }
  auto shifted = [&](int row) {
    if (row < top || row >= bottom) return row;
    row -= downward;
    return row >= top && row < bottom ? row : -1;
  };
  glyph_row_ = shifted(glyph_row_);
  after_glyph_row_ = shifted(after_glyph_row_);
  if (top == 0 && bottom == rows_) {
    screen_scroll_change_ = ++change_;
  } else {
    damage(top, bottom);
  }
  return true;
}

void Screen::move_cells(int dst_row, int dst_col, int src_row, int src_col, int rows, int cols) {
  Grid& g = grid();
  bool upward = dst_row <= src_row;
  for (int i = 0; i < rows; ++i) {
    int k = upward ? i : rows - 1 - i;
    g.copy(dst_row + k, dst_col, src_row + k, src_col, cols);
  }
  damage(dst_row, dst_row + rows);
}

void Screen::erase(int top, int bottom, int left, int right, bool selective) {
  Grid& g = grid();
  for (int row = std::max(top, 0); row < std::min(bottom, g.rows()); ++row) g.erase(row, left, right, pen_, selective);
  damage(top, bottom);
}

void Screen::double_width(int row, bool on) {
  // The right half of a double-width row is not shown.
  if (on) erase(row, row + 1, cols_ / 2, cols_, false);
  damage(row, row + 1);
}

void Screen::set_property(int prop, int value) {
  switch (prop) {
    case VTERM_PROP_ALTSCREEN:
      // libvterm clears the alternate screen as it enters it.
      if (value != 0 && !alternate_grid_) alternate_grid_ = std::make_unique<Grid>(rows_, cols_);
      if (value == 0) alternate_grid_.reset();
      glyph_row_ = -1;
      damage(0, rows_);
      break;
    case VTERM_PROP_CURSORVISIBLE:
      cursor_visible_ = value != 0;
      cursor_change_ = ++change_;
      break;
    case VTERM_PROP_MOUSE:
      // A change of its own, so that a page learns that the program reads
      // the mouse even when nothing on the screen changed with it.
      mouse_ = value;
      ++change_;
      break;
    default: break;
  }
}

void Screen::state_resized(int rows, int cols, int& row_delta) {
  if (!alternate_grid_ && rows < rows_) {
    // Rows below the cursor that are blank go; if that is not enough, the
    // top rows scroll off into the scrollback.
    VTermPos cursor;
    vterm_state_get_cursorpos(state(), &cursor);
    int first_blank = rows_;
    while (first_blank > rows && first_blank - 1 != cursor.row) {
      const Row& row = primary_.row(first_blank - 1);
      auto drawn = [](const Cell& cell) { return cell.ch != 0; };
      if (std::any_of(row.cells.begin(), row.cells.begin() + row.used, drawn)) break;
      --first_blank;
    }
    if (first_blank > rows) {
      scroll_rows(0, rows_, first_blank - rows);
      // The cursor moves with its row; on a row that scrolled off, it
      // stays on the top row (libvterm does not keep it on the screen).
      row_delta -= std::min(first_blank - rows, std::max(cursor.row, 0));
    }
  }
  primary_.resize(rows, cols);
  if (alternate_grid_) alternate_grid_->resize(rows, cols);
  rows_ = rows;
  cols_ = cols;
  row_changes_.resize(static_cast<std::size_t>(rows));
  glyph_row_ = -1;
  size_change_ = ++change_;
  damage(0, rows);
}

void Screen::resize(int rows, int cols) {
  cols = std::max(cols, kMinColumns);
  if (rows < 1 || (rows == rows_ && cols == cols_)) return;
  bool shrinks = rows < rows_ || cols < cols_;
  vterm_set_size(vt_.get(), rows, cols);
  if (shrinks) reset_margins();
}

void Screen::reset_margins() {
  // libvterm keeps the scrolling margins through a resize, and a region
  // below or right of the new size makes its next scroll move memory it
  // does not own. Terminals reset the margins on a resize (xterm, tmux);
  // so does this one. Setting them moves the cursor home, so it goes back.
  VTermPos pos;
  vterm_state_get_cursorpos(state(), &pos);
  char reset[40];
  int n = std::snprintf(reset, sizeof reset, "\x1b[r\x1b[s\x1b[%d;%dH", pos.row + 1, pos.col + 1);
  vterm_input_write(vt_.get(), reset, static_cast<std::size_t>(n));
}

void Screen::damage(int from_row, int to_row) {
  std::uint64_t n = ++change_;
  for (int row = std::max(from_row, 0); row < std::min(to_row, rows_); ++row) {
    row_changes_[static_cast<std::size_t>(row)] = n;
  }
}

std::string Screen::text(std::size_t history) const {
  std::string text;
  std::uint64_t first = scrollback_.end() - std::min<std::uint64_t>(history, scrollback_.size());
  for (std::uint64_t n = first; n < scrollback_.end(); ++n) text.append(scrollback_.at(n).trimmed()).push_back('\n');
  for (int row = 0; row < rows_; ++row) text.append(row_text(grid().row(row), combined_)).push_back('\n');
  std::size_t end = text.find_last_not_of('\n');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return utf8::sanitize_utf8(text);
}

ScreenText Screen::snapshot(std::uint64_t from_row) const {
  ScreenText shot;
  const std::uint64_t scrolled = scrollback_.end();
  shot.first_row = std::max(scrollback_.first(), std::min(from_row, scrolled));
  for (std::uint64_t n = shot.first_row; n < scrolled; ++n) {
    const StoredRow& row = scrollback_.at(n);
    shot.rows.emplace_back(row.trimmed());
    shot.continued.push_back(row.continued);
  }
  shot.emphasized_end.assign(shot.rows.size(), false);
  for (int r = 0; r < rows_; ++r) {
    shot.rows.push_back(row_text(grid().row(r), combined_));
    shot.continued.push_back(grid().row(r).continued);
    shot.emphasized_end.push_back(ends_emphasized(grid().row(r)));
  }
  shot.screen_rows = static_cast<std::size_t>(rows_);
  Cursor at = cursor();
  shot.cursor_row = scrolled + static_cast<std::uint64_t>(std::max(at.row, 0));
  shot.cursor_col = std::max(at.col, 0);
  shot.cursor_visible = at.visible;
  shot.alternate = alternate();
  shot.marks = marks_;
  return shot;
}

std::vector<Span> Screen::styled_row(int row) const { return row_spans(grid().row(row), combined_); }

std::vector<Span> Screen::history_row(std::uint64_t row) const {
  if (row < scrollback_.first() || row >= scrollback_.end()) return {};
  return scrollback_.at(row).spans();
}

bool Screen::history_continued(std::uint64_t row) const {
  return row >= scrollback_.first() && row < scrollback_.end() && scrollback_.at(row).continued;
}

Cursor Screen::cursor() const {
  VTermPos pos;
  vterm_state_get_cursorpos(state(), &pos);
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
  VTermModifier mod = vterm_modifiers(key.modifiers);
  if (key.key == Key::kNone) {
    vterm_keyboard_unichar(vt_.get(), key.character, mod);
  } else if (key.key == Key::kFunction) {
    vterm_keyboard_key(vt_.get(), static_cast<VTermKey>(VTERM_KEY_FUNCTION(key.number)), mod);
  } else {
    vterm_keyboard_key(vt_.get(), kVTermKeys[static_cast<int>(key.key)], mod);
  }
}

void Screen::mouse(int row, int col, int button, bool pressed, unsigned modifiers) {
  if (mouse_ == VTERM_PROP_MOUSE_NONE) return;
  VTermModifier mod = vterm_modifiers(modifiers);
  vterm_mouse_move(vt_.get(), std::clamp(row, 0, rows_ - 1), std::clamp(col, 0, cols_ - 1), mod);
  if (button >= 1 && button <= 5) vterm_mouse_button(vt_.get(), button, pressed, mod);
}

void Screen::paste(std::string_view text) {
  std::string typed;
  typed.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    // ESC and the C1 controls (U+0080 to U+009F, CSI among them) would let
    // the text end the paste's brackets and go on as typed keys.
    if (c == 0x1B) continue;
    if (c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
      ++i;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF is one line break
    typed.push_back(c == '\n' ? '\r' : static_cast<char>(c));
  }
  vterm_keyboard_start_paste(vt_.get());
  if (reply_) reply_(typed);
  vterm_keyboard_end_paste(vt_.get());
}

std::string_view cursor_line(const ScreenText& screen) {
  if (screen.cursor_row < screen.first_row) return {};
  std::uint64_t i = screen.cursor_row - screen.first_row;
  if (i >= screen.rows.size()) return {};
  return screen.rows[static_cast<std::size_t>(i)];
}

}  // namespace host
