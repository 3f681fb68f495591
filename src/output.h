#pragma once
// The client's only way to the standard streams: results go to standard
// output, every message to standard error as a "welkmora: " line, and every
// run ends through finish(), which flushes and settles the exit status.

#include <string_view>

namespace out {

/// Writes `text` to standard output as it stands.
void write(std::string_view text);

/// Writes "welkmora: <message>\n" to standard error, after flushing standard
/// output so that the two streams keep their order on a shared terminal.
void error_line(std::string_view message);

/// Writes `text` to standard error as it stands (a renderer's warning line),
/// after flushing standard output.
void warn(std::string_view text);

/// Flushes standard output, ignoring a failure (the run goes on).
void flush();

/// Flushes standard output and returns the exit status: `status`, or 1 when
/// any output could not be written.
int finish(int status);

/// error_line(message), then ends the process with status 1.
[[noreturn]] void fail(std::string_view message);

/// Ends the process with status 1 after the error lines already written.
[[noreturn]] void exit_failure();

}  // namespace out
