// A failure that ends the message loop: a message and at most one cause.
//
//   FatalError{"Invalid Content-Length value", "invalid digit found in string"}.long_form()
//   // "Invalid Content-Length value\n\nCaused by:\n    invalid digit found in string"
#pragma once

#include <optional>
#include <string>

namespace korvane::server {

struct FatalError {
  std::string message;
  std::optional<std::string> cause;

  // The message, then "Caused by:" and the cause indented by four spaces on every line.
  std::string long_form() const;
  friend bool operator==(const FatalError&, const FatalError&) = default;
};

}  // namespace korvane::server
