// UTF-8 validation with the error texts a client sees.
//
//   if (auto err = korvane::validate_utf8(bytes)) log(err->message());
//   // "invalid utf-8 sequence of 1 bytes from index 3"
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

struct Utf8Error {
  std::size_t valid_up_to = 0;       // bytes before the bad sequence are valid UTF-8
  std::optional<uint8_t> error_len;  // absent when the input ends inside a sequence

  // "invalid utf-8 sequence of {n} bytes from index {i}" or
  // "incomplete utf-8 byte sequence from index {i}".
  std::string message() const;
};

// The first error of `bytes`, or nothing when they are valid UTF-8.
std::optional<Utf8Error> validate_utf8(std::string_view bytes);

}  // namespace korvane
