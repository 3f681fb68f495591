#include "loop/log.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "io.h"

namespace host {
namespace {

/// Where activity lines go: standard error, a file of the host's, or -1.
struct Sink {
  int fd = STDERR_FILENO;
  wire::UniqueFd owned;
  LogObserver* observer = nullptr;
};

Sink& sink() {
  static Sink s;
  return s;
}

bool needs_quotes(std::string_view value) {
  if (value.empty()) return true;
  for (char c : value) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || c == '"' || c == '\\' || c == '=') return true;
  }
  return false;
}

void append_value(std::string& line, std::string_view value) {
  if (!needs_quotes(value)) {
    line.append(value);
    return;
  }
  line.push_back('"');
  for (char c : value) {
    auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      line.push_back('\\');
      line.push_back(c);
    } else if (b < 0x20 || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      line.append(hex);
    } else {
      line.push_back(c);
    }
  }
  line.push_back('"');
}

/// "2026-12-08T15:43:34.123+0100".
std::string local_time() {
  auto now = std::chrono::system_clock::now();
  time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char date[32], zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03d%s", date, static_cast<int>(ms), zone);
  return out;
}

}  // namespace

void report(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 16);
  line.append("welkmora-host: ").append(text).push_back('\n');
  (void)wire::write_all(STDERR_FILENO, line);
}

void log_event(std::string_view event, std::initializer_list<LogField> fields) {
  if (sink().observer != nullptr) sink().observer->logged(event, fields);
  if (sink().fd < 0) return;
  std::string line = local_time();
  line.append(" ").append(event);
  for (const LogField& field : fields) {
    line.append(" ").append(field.key).push_back('=');
    append_value(line, field.value);
  }
  line.push_back('\n');
  (void)wire::write_all(sink().fd, line);
}

void observe_log(LogObserver* observer) { sink().observer = observer; }

void log_to(wire::UniqueFd fd) {
  sink().fd = fd.get();
  sink().owned = std::move(fd);
}

void log_off() {
  sink().owned.reset();
  sink().fd = -1;
}

}  // namespace host
