#include "util/utf8.h"

#include <cstring>

#include <fmt/format.h>

namespace korvane {

std::string Utf8Error::message() const {
  if (error_len) {
    return fmt::format("invalid utf-8 sequence of {} bytes from index {}", *error_len, valid_up_to);
  }
  return fmt::format("incomplete utf-8 byte sequence from index {}", valid_up_to);
}

namespace {

bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

int sequence_width(uint8_t first) {
  if (first >= 0xC2 && first <= 0xDF) return 2;
  if (first >= 0xE0 && first <= 0xEF) return 3;
  if (first >= 0xF0 && first <= 0xF4) return 4;
  return 0;
}

// The second byte's allowed range excludes overlong forms, surrogates and code points past
// U+10FFFF, so such sequences fail after one byte, as the standard's "maximal subpart" rule says.
bool second_byte_ok(uint8_t first, uint8_t second) {
  switch (first) {
    case 0xE0:
      return second >= 0xA0 && second <= 0xBF;
    case 0xED:
      return second >= 0x80 && second <= 0x9F;
    case 0xF0:
      return second >= 0x90 && second <= 0xBF;
    case 0xF4:
      return second >= 0x80 && second <= 0x8F;
    default:
      return is_continuation(second);
  }
}

}  // namespace

std::optional<Utf8Error> validate_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Source text is mostly ASCII: skip it eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i >= n) break;
    const uint8_t first = p[i];
    if (first < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    const int width = sequence_width(first);
    if (width == 0) return Utf8Error{start, 1};
    if (i + 1 >= n) return Utf8Error{start, std::nullopt};
    if (!second_byte_ok(first, p[i + 1])) return Utf8Error{start, 1};
    for (int k = 2; k < width; ++k) {
      if (i + k >= n) return Utf8Error{start, std::nullopt};
      if (!is_continuation(p[i + k])) return Utf8Error{start, static_cast<uint8_t>(k)};
    }
    i += width;
  }
  return std::nullopt;
}

}  // namespace korvane
