#include "util/display_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

#include <fmt/format.h>

#include "util/utf8.h"

namespace korvane {

namespace {

// Calls `valid(chunk)` for every valid run and `invalid(chunk)` for every bad sequence, in order.
template <class Valid, class Invalid>
void for_each_utf8_chunk(std::string_view bytes, Valid valid, Invalid invalid) {
  while (!bytes.empty()) {
    auto err = validate_utf8(bytes);
    if (!err) {
      valid(bytes);
      return;
    }
    if (err->valid_up_to > 0) valid(bytes.substr(0, err->valid_up_to));
    const std::size_t bad = err->error_len ? *err->error_len : bytes.size() - err->valid_up_to;
    invalid(bytes.substr(err->valid_up_to, bad));
    bytes.remove_prefix(err->valid_up_to + bad);
  }
}

bool is_printable(UChar32 c) {
  if (c == ' ') return true;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_UNASSIGNED:
    case U_PRIVATE_USE_CHAR:
    case U_SURROGATE:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return !u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND);
  }
}

void append_escaped(std::string& out, std::string_view valid) {
  const auto* s = reinterpret_cast<const uint8_t*>(valid.data());
  const auto n = static_cast<int32_t>(valid.size());
  int32_t i = 0;
  while (i < n) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, n, c);
    switch (c) {
      case '\0':
        out += "\\0";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      default:
        break;
    }
    if (c < 0x80 ? (c >= 0x20 && c < 0x7F) : is_printable(c)) {
      out.append(valid.substr(start, i - start));
    } else {
      fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<uint32_t>(c));
    }
  }
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  if (!validate_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  for_each_utf8_chunk(
      bytes, [&](std::string_view ok) { out.append(ok); },
      [&](std::string_view) { out.append("\xEF\xBF\xBD"); });
  return out;
}

std::string debug_quoted(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out.push_back('"');
  for_each_utf8_chunk(
      bytes, [&](std::string_view ok) { append_escaped(out, ok); },
      [&](std::string_view bad) {
        for (unsigned char b : bad) fmt::format_to(std::back_inserter(out), "\\x{:02X}", b);
      });
  out.push_back('"');
  return out;
}

}  // namespace korvane
