#pragma once
// The host's one way to report. Two kinds of lines go through here:
//  - report(): what the host says about itself ("welkmora-host: listening
//    on ..."), always on standard error;
//  - log_event(): the activity log, one line per event (joins, recruits,
//    exits, dismissals, asks, refused access, attaches), as
//      2026-12-08T15:43:34.123+0100 recruit name=Alice by=Lead command="bash"
//    on standard error unless it was sent to a file (the workspace's
//    standard error is its log file).

#include <initializer_list>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace host {

/// Writes "welkmora-host: <text>" and a line feed to standard error, in one
/// write so that lines of concurrent writers never interleave. A failed
/// write is ignored: there is nowhere else to report it.
void report(std::string_view text);

/// One key=value pair of an activity line. A value that is empty or holds
/// white space, quotes, backslashes, '=' or control characters is written
/// in double quotes, with backslash escapes.
struct LogField {
  std::string_view key;
  std::string_view value;
};

/// `text` with every control (C0, DEL, C1, and bytes that start no
/// well-formed UTF-8 sequence) written as \xNN, so that printing it cannot
/// drive the terminal that shows it.
std::string escape_controls(std::string_view text);

/// Appends one activity line: the local time with milliseconds and offset,
/// the event word, then the fields.
void log_event(std::string_view event, std::initializer_list<LogField> fields);

/// Hears every activity line as it is logged, wherever the log goes:
/// the canvas page shows the activity as it happens.
class LogObserver {
 public:
  virtual ~LogObserver() = default;
  virtual void logged(std::string_view event, std::initializer_list<LogField> fields) = 0;
};

/// Tells `observer` (null: nobody) of every activity line from now on.
void observe_log(LogObserver* observer);

/// Sends the activity log to `fd` (a file opened for appending) from now on.
void log_to(os::UniqueFd fd);

}  // namespace host
