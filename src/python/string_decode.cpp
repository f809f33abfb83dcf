// Escape sequences of string and bytes literals.
#include <unicode/uchar.h>

#include <cstring>
#include <string>

#include "python/char_name_aliases.h"
#include "python/parser_impl.h"

namespace korvane::python {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Lone surrogates (`"\ud800"`) are valid in Python strings; they are kept in the 3-byte form.
void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool lookup_char_name(const std::string& name, uint32_t* cp) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  // Python matches names in any letter case, except the names it computes from code points
  // (Hangul syllables, CJK unified ideographs), which must be written in capitals; and it
  // names no Tangut ideograph at all.
  auto starts = [&](std::string_view prefix) {
    return upper.compare(0, prefix.size(), prefix) == 0;
  };
  if ((starts("HANGUL SYLLABLE ") || starts("CJK UNIFIED IDEOGRAPH-")) && upper != name) {
    return false;
  }
  if (starts("TANGUT IDEOGRAPH-")) return false;
  if (lookup_name_alias(upper, cp)) return true;
  for (UCharNameChoice choice : {U_UNICODE_CHAR_NAME, U_CHAR_NAME_ALIAS}) {
    UErrorCode status = U_ZERO_ERROR;
    UChar32 c = u_charFromName(choice, name.c_str(), &status);
    if (U_SUCCESS(status) && c >= 0) {
      *cp = static_cast<uint32_t>(c);
      return true;
    }
  }
  return false;
}

}  // namespace

bool decode_string_body(std::string_view body, bool raw, bool bytes, std::string& out,
                        std::string& message, size_t* error_offset) {
  if (body.find('\r') != std::string_view::npos) {
    // Line breaks inside a literal read as `\n` whatever the file uses. Offsets of errors
    // past a `\r\n` shift by one per pair; they still point into the literal.
    std::string normal;
    normal.reserve(body.size());
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '\r') {
        normal += '\n';
        if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
      } else {
        normal += body[i];
      }
    }
    return decode_string_body(normal, raw, bytes, out, message, error_offset);
  }
  if (raw) {
    out.append(body);
    return true;
  }
  const size_t n = body.size();
  size_t i = 0;
  while (i < n) {
    const void* bs = std::memchr(body.data() + i, '\\', n - i);
    size_t next = bs ? static_cast<size_t>(static_cast<const char*>(bs) - body.data()) : n;
    out.append(body.substr(i, next - i));
    if (next >= n) break;
    size_t at = next;
    if (at + 1 >= n) {
      out += '\\';
      break;
    }
    char e = body[at + 1];
    i = at + 2;
    auto fixed_hex = [&](int digits, uint32_t* value) {
      uint32_t v = 0;
      for (int k = 0; k < digits; ++k) {
        int h = i < n ? hex_value(body[i]) : -1;
        if (h < 0) return false;
        v = v * 16 + static_cast<uint32_t>(h);
        ++i;
      }
      *value = v;
      return true;
    };
    auto fail = [&](const char* what) {
      message = what;
      *error_offset = at;
      return false;
    };
    switch (e) {
      case '\n':
        break;
      case '\r':
        if (i < n && body[i] == '\n') ++i;
        break;
      case '\\':
        out += '\\';
        break;
      case '\'':
        out += '\'';
        break;
      case '"':
        out += '"';
        break;
      case 'a':
        out += '\a';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'v':
        out += '\v';
        break;
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7': {
        uint32_t v = static_cast<uint32_t>(e - '0');
        for (int k = 0; k < 2 && i < n && body[i] >= '0' && body[i] <= '7'; ++k, ++i) {
          v = v * 8 + static_cast<uint32_t>(body[i] - '0');
        }
        if (bytes) {
          out += static_cast<char>(v & 0xFF);
        } else {
          append_utf8(out, v);
        }
        break;
      }
      case 'x': {
        uint32_t v;
        if (!fixed_hex(2, &v)) {
          return fail(bytes ? "invalid \\x escape" : "truncated \\xXX escape");
        }
        if (bytes) {
          out += static_cast<char>(v);
        } else {
          append_utf8(out, v);
        }
        break;
      }
      case 'u':
      case 'U': {
        if (bytes) {
          out += '\\';
          out += e;
          break;
        }
        uint32_t v;
        if (!fixed_hex(e == 'u' ? 4 : 8, &v)) {
          return fail(e == 'u' ? "truncated \\uXXXX escape" : "truncated \\UXXXXXXXX escape");
        }
        if (v > 0x10FFFF) return fail("illegal Unicode character");
        append_utf8(out, v);
        break;
      }
      case 'N': {
        if (bytes) {
          out += "\\N";
          break;
        }
        size_t close = i < n && body[i] == '{' ? body.find('}', i) : std::string_view::npos;
        if (close == std::string_view::npos || close == i + 1) {
          return fail("malformed \\N character escape");
        }
        std::string name(body.substr(i + 1, close - i - 1));
        uint32_t cp;
        if (!lookup_char_name(name, &cp)) return fail("unknown Unicode character name");
        append_utf8(out, cp);
        i = close + 1;
        break;
      }
      default:
        // An unknown escape keeps its backslash (Python only warns).
        out += '\\';
        out += e;
        break;
    }
  }
  return true;
}

}  // namespace korvane::python
