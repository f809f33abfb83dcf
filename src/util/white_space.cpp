#include "util/white_space.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace korvane {

namespace {

bool is_white_space(UChar32 c) { return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE); }

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c = 0;
    U8_NEXT(s, next, length, c);
    if (!is_white_space(c)) break;
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t prev = end;
    UChar32 c = 0;
    U8_PREV(s, begin, prev, c);
    if (!is_white_space(c)) break;
    end = prev;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

}  // namespace korvane
