#pragma once

#include <string>

namespace os {

/// The system's description of error number `err` followed by
/// " (os error N)", the form every system failure is reported in.
std::string error_text(int err);

}  // namespace os
