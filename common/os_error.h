#pragma once

#include <string>

namespace wire {

/// The system's description of error number `err` followed by
/// " (os error N)", the form every system failure is reported in.
std::string os_error_text(int err);

}  // namespace wire
