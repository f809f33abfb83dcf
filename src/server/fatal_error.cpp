#include "server/fatal_error.h"

namespace korvane::server {

std::string FatalError::long_form() const {
  if (!cause) return message;
  std::string out = message;
  out.append("\n\nCaused by:\n    ");
  for (char c : *cause) {
    out.push_back(c);
    if (c == '\n') out.append("    ");
  }
  return out;
}

}  // namespace korvane::server
