#include "util/unicode_text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <vector>

namespace korvane {
namespace {

// Decodes `text` into UTF-16 for ICU; each maximal ill-formed subpart becomes U+FFFD.
std::u16string to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  int32_t i = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  while (i < length) {
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    if (c < 0) c = 0xFFFD;
    if (c <= 0xFFFF) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(U16_LEAD(c)));
      out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    }
  }
  return out;
}

std::string to_utf8(const char16_t* data, std::size_t length) {
  std::string out;
  out.reserve(length);
  std::size_t i = 0;
  while (i < length) {
    UChar32 c = 0;
    U16_NEXT(data, i, length, c);
    char buffer[4];
    int32_t n = 0;
    UBool error = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(buffer), n, 4, c, error);
    if (error) continue;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

bool is_ascii(std::string_view text) {
  for (char ch : text) {
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string unicode_lowercase(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& ch : out) {
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return out;
  }
  std::u16string wide = to_utf16(text);
  // Full lower-casing never grows a string more than threefold.
  std::vector<UChar> lowered(wide.size() * 3 + 4);
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = u_strToLower(lowered.data(), static_cast<int32_t>(lowered.size()),
                           reinterpret_cast<const UChar*>(wide.data()),
                           static_cast<int32_t>(wide.size()), "", &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    lowered.resize(static_cast<std::size_t>(n) + 1);
    status = U_ZERO_ERROR;
    n = u_strToLower(lowered.data(), static_cast<int32_t>(lowered.size()),
                     reinterpret_cast<const UChar*>(wide.data()), static_cast<int32_t>(wide.size()),
                     "", &status);
  }
  if (U_FAILURE(status)) return std::string(text);
  return to_utf8(reinterpret_cast<const char16_t*>(lowered.data()), static_cast<std::size_t>(n));
}

}  // namespace korvane
