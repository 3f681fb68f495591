#include "os_error.h"

#include <cstring>

namespace os {

std::string error_text(int err) { return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")"; }

}  // namespace os
