// The screen alone: feeds each file named on the command line through a
// 120x40 host::Screen in 4 KiB pieces, as the host reads a pty (line feeds
// as a terminal's line discipline sends them, "\r\n"), and prints the time
// and the heap the screen holds afterwards (its scrollback full for large
// files). Run by hand; figures in doc/benchmarks.md.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "screen/screen.h"
int main(int argc, char** argv) {
  for (int a = 1; a < argc; ++a) {
    std::ifstream f(argv[a]);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string s = ss.str();
    {
      std::string t;
      t.reserve(s.size() * 2);
      for (char c : s) {
        if (c == '\n') t += '\r';
        t += c;
      }
      s.swap(t);
    }
    size_t heap0 = mallinfo2().uordblks;
    auto* screen = new host::Screen(40, 120, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < s.size(); i += 4096) screen->feed(std::string_view(s).substr(i, 4096));
    auto t1 = std::chrono::steady_clock::now();
    size_t heap1 = mallinfo2().uordblks;
    printf("%-24s %.3f s  %.1f MB/s  heap %.0f KiB\n", argv[a], std::chrono::duration<double>(t1 - t0).count(),
           s.size() / 1e6 / std::chrono::duration<double>(t1 - t0).count(), (heap1 - heap0) / 1024.0);
    delete screen;
  }
}
