// Reading a whole source file as checked UTF-8 text, with the error texts a client sees.
//
//   Result<std::string> text = read_file_content("/ws/pkg/mod.py");
//   if (!text) return "Failed to read file: " + text.error();   // "... (os error 2)"
//
//   std::string buffer;                                // reused from file to file
//   Result<std::string_view> view = read_file_text(path, buffer);
//
// Errors: "{} (os error {})" when the system refuses the open, status or map, or the UTF-8
// texts of validate_utf8. A leading byte-order mark is kept.
#pragma once

#include <string>
#include <string_view>

#include "util/result.h"

namespace korvane {

// The whole file, checked as UTF-8.
Result<std::string> read_file_content(const std::string& path);

// The same into `buffer`, which it grows as needed and never shrinks: the text is its first
// bytes, valid until the buffer is next written.
Result<std::string_view> read_file_text(const std::string& path, std::string& buffer);

}  // namespace korvane
