#pragma once
// The client's only way to the standard streams: results go to standard
// output, every message to standard error as a "welkmora: " line, and every
// run ends through finish(), which flushes and settles the exit status.
//
// A step that can fail returns its Failure as a value; only main() turns
// one into error lines and the exit status (out::report).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outcome.h"

namespace out {

/// Why a run fails: its messages, each one "welkmora: " line on standard
/// error, in order; the run's status is then 1.
struct Failure {
  std::vector<std::string> messages;
};

/// A failure with one message.
inline Failure failure(std::string message) { return Failure{{std::move(message)}}; }

/// A value, or the Failure that stands in for it.
template <class T>
using Outcome = outcome::Outcome<T, Failure>;

/// Writes the failure's lines and returns the run's status, 1.
int report(const Failure& failure);

/// Writes `text` to standard output as it stands.
void write(std::string_view text);

/// `text` as it may go to standard output: as it stands on a pipe or into
/// a file, but on a terminal with its control characters other than tab and
/// line feed written as "\xNN", so that text an agent wrote (a note, a
/// role's prompt) cannot act on the person's terminal: set its title or
/// clipboard, ask it something whose answer arrives as typed input, or
/// hide what it says.
std::string on_screen(std::string_view text);

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

}  // namespace out
