#include "loop/log.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "io.h"
#include "utf8.h"

namespace host {
namespace {

/// Where activity lines go: standard error or a file of the host's.
struct Sink {
  int fd = STDERR_FILENO;
  os::UniqueFd owned;
  LogObserver* observer = nullptr;
};

Sink& sink() {
  static Sink s;
  return s;
}

/// True for a control character (utf8::control_length), written escaped;
/// `length` is that of the character at `i` either way.
bool is_control_at(std::string_view value, std::size_t i, std::size_t& length) {
  length = utf8::control_length(value, i);
  if (length > 0) return true;
  length = static_cast<unsigned char>(value[i]) < 0x80 ? 1 : utf8::utf8_sequence_length(value, i);
  return false;
}

bool needs_quotes(std::string_view value) {
  if (value.empty()) return true;
  for (std::size_t i = 0, length = 0; i < value.size(); i += length) {
    if (is_control_at(value, i, length) || value[i] == ' ' || value[i] == '"' || value[i] == '\\' || value[i] == '=') {
      return true;
    }
  }
  return false;
}

void append_escaped(std::string& line, std::string_view bytes) {
  for (char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
    line.append(hex);
  }
}

void append_value(std::string& line, std::string_view value) {
  if (!needs_quotes(value)) {
    line.append(value);
    return;
  }
  line.push_back('"');
  for (std::size_t i = 0, length = 0; i < value.size(); i += length) {
    if (is_control_at(value, i, length)) {
      append_escaped(line, value.substr(i, length));
    } else if (value[i] == '"' || value[i] == '\\') {
      line.push_back('\\');
      line.push_back(value[i]);
    } else {
      line.append(value.substr(i, length));
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

std::string escape_controls(std::string_view text) { return utf8::escape_controls(text); }

void report(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 16);
  line.append("welkmora-host: ").append(text).push_back('\n');
  (void)wire::write_all(STDERR_FILENO, line);
}

void log_event(std::string_view event, std::initializer_list<LogField> fields) {
  if (sink().observer != nullptr) sink().observer->logged(event, fields);
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

void log_to(os::UniqueFd fd) {
  sink().fd = fd.get();
  sink().owned = std::move(fd);
}

}  // namespace host
