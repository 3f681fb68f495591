// A program's output through everything the host does with it: the
// emulated screen and its scrollback, a turn's mark, signals and answer
// text, the rows the canvas page is sent, and the redraw an attach starts
// with. Any bytes a program prints must leave the host running and quick,
// so besides the sanitizers a watchdog fails an input when one feed takes
// longer than a second.
//
// The input is a size and then a list of operations, each introduced by a
// byte: below 0xA0 "feed the next OP+1 bytes", then resize, read everything,
// and press a key or paste.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "screen/redraw.h"
#include "screen/screen.h"
#include "turns/turn.h"
#include "utf8.h"
#include "web/view.h"

namespace {

using Clock = std::chrono::steady_clock;

/// What one feed may take at most, sanitizers included.
constexpr auto kFeedBudget = std::chrono::seconds(1);

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : bytes_(reinterpret_cast<const char*>(data), size) {}
  bool empty() const { return bytes_.empty(); }
  std::uint8_t byte() {
    if (bytes_.empty()) return 0;
    auto b = static_cast<std::uint8_t>(bytes_.front());
    bytes_.remove_prefix(1);
    return b;
  }
  std::string_view take(std::size_t n) {
    std::string_view part = bytes_.substr(0, n);
    bytes_.remove_prefix(part.size());
    return part;
  }

 private:
  std::string_view bytes_;
};

void check_utf8(std::string_view text, const char* what) {
  if (!utf8::is_valid_utf8(text)) {
    std::fprintf(stderr, "screen: %s is not valid UTF-8\n", what);
    std::abort();
  }
}

void feed(host::Screen& screen, std::string_view bytes) {
  auto start = Clock::now();
  screen.feed(bytes);
  if (Clock::now() - start > kFeedBudget) {
    std::fprintf(stderr, "screen: one feed of %zu bytes took over a second\n", bytes.size());
    std::abort();
  }
}

/// Everything that reads the screen, as the host's parts read it.
void read_all(host::Screen& screen, const host::TurnMark& mark) {
  check_utf8(screen.text(host::Screen::kScrollbackLimit), "text()");
  host::ScreenText now = screen.snapshot(mark.row);
  if (now.rows.size() < now.screen_rows || now.screen_rows != static_cast<std::size_t>(screen.rows())) {
    std::fprintf(stderr, "screen: snapshot holds %zu rows, %zu of them visible, for %d\n", now.rows.size(),
                 now.screen_rows, screen.rows());
    std::abort();
  }
  host::PtyState pty{getpgrp(), getpgrp(), host::TtyMode{}};
  host::read_signals(mark, now, pty);
  check_utf8(host::turn_output(mark, now, "prompt"), "turn_output()");
  for (int row = 0; row < screen.rows(); ++row) screen.styled_row(row);
  host::Cursor cursor = screen.cursor();
  if (cursor.row < 0 || cursor.row >= screen.rows() || cursor.col < 0 || cursor.col > screen.cols()) {
    std::fprintf(stderr, "screen: cursor at %d,%d on %dx%d\n", cursor.row, cursor.col, screen.rows(), screen.cols());
    std::abort();
  }
  host::screen_message("t:Fuzz", screen, 0).dump();
  check_utf8(host::redraw(screen), "redraw()");
}

void press(host::Screen& screen, Input& in) {
  std::uint8_t what = in.byte();
  if (what & 1) {
    screen.paste(in.take(what >> 1));
    return;
  }
  host::KeyPress key;
  key.key = static_cast<host::Key>((what >> 1) % (static_cast<int>(host::Key::kPageDown) + 1));
  key.character = 0x20 + in.byte();
  key.modifiers = in.byte() & 7;
  key.number = 1 + in.byte() % 12;
  screen.press(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  int rows = 1 + in.byte() % 60;
  int cols = 1 + in.byte() % 160;
  host::Screen screen(rows, cols, [](std::string_view) {});
  host::TurnMark mark = host::mark_turn(screen.snapshot(0), host::PtyState{});
  while (!in.empty()) {
    std::uint8_t op = in.byte();
    if (op < 0xA0) {
      feed(screen, in.take(op + 1u));
    } else if (op < 0xC0) {
      int r = 1 + in.byte() % 60;
      screen.resize(r, 1 + in.byte() % 160);
    } else if (op < 0xE0) {
      read_all(screen, mark);
      mark = host::mark_turn(screen.snapshot(screen.lines_scrolled()), host::PtyState{});
    } else {
      press(screen, in);
    }
  }
  read_all(screen, mark);
  return 0;
}
