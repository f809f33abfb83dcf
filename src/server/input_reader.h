// Standard input as header lines and bodies, read through one 8192-byte buffer.
//
//   InputReader in(STDIN_FILENO);
//   std::string line;
//   auto got = in.read_line(line);        // false at end of input
//   auto body = in.read_exact(n, text);   // "failed to fill whole buffer" when input ends early
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/result.h"

namespace korvane::server {

inline constexpr std::size_t kInputBufferSize = 8192;
inline constexpr std::string_view kUnexpectedEof = "failed to fill whole buffer";

class InputReader {
 public:
  explicit InputReader(int fd) : fd_(fd) {}

  // The bytes up to and including the next line feed, or up to the end of input. False when
  // the input ended before any byte. Errors are operating-system error texts.
  Result<bool> read_line(std::string& line);

  // Exactly `length` bytes into `out`. The buffer grows only as bytes arrive, so a declared
  // length far beyond the input costs nothing up front.
  Result<void> read_exact(uint64_t length, std::string& out);

  // Reads past exactly `length` bytes without keeping them; the same errors as read_exact.
  Result<void> skip(uint64_t length);

  // Reads past the rest of the current line, its line feed included, or up to the end of
  // input.
  Result<void> skip_line();

 private:
  // Refills the buffer; 0 at end of input (a closed descriptor counts as the end).
  Result<std::size_t> fill();
  Result<std::size_t> read_some(char* into, std::size_t capacity);

  int fd_;
  std::array<char, kInputBufferSize> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace korvane::server
