#include "util/os_error.h"

#include <string.h>

#include <fmt/format.h>

namespace korvane {

std::string os_error_text(int error_number) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static string instead of filling the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* description = strerror_r(error_number, buffer, sizeof buffer);
#else
  const char* description = strerror_r(error_number, buffer, sizeof buffer) == 0 ? buffer : "";
#endif
  return fmt::format("{} (os error {})", description, error_number);
}

}  // namespace korvane
