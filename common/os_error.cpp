#include "os_error.h"

#include <cstring>

namespace wire {

std::string os_error_text(int err) {
  return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")";
}

}  // namespace wire
