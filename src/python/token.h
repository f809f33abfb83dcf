// Tokens of Python source, produced by the Lexer and read by the parser.
//
// A token is a kind and a byte range; its text is read from the source when needed, so
// tokenizing allocates nothing per token.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvane::python {

// The kinds and their names in errors are listed once, in token_kinds.def.
enum class TokenKind : uint8_t {
#define TOKEN(Kind, Text) Kind,
#include "python/token_kinds.def"
};

// Flags on Name and String tokens.
enum TokenFlag : uint8_t {
  kNonAscii = 1,    // a Name with non-ASCII characters (needs NFKC normalisation)
  kBytes = 2,       // String: a bytes literal
  kRaw = 4,         // String / FStringStart: raw
  kBackslash = 8,   // String / FStringMiddle: holds a backslash, doubled brace or carriage
                    // return, so its value must be decoded
  kTemplate = 16,   // FStringStart: a t-string
  kTriple = 32,     // String / FStringStart: triple-quoted
  kFormatSpec = 64  // FStringMiddle: text of a format specifier
};

struct Token {
  TokenKind kind;
  uint8_t flags;
  uint32_t start;
  uint32_t end;
};

// How a token kind is named in errors: "newline", "':'", "'def'", "name".
std::string_view token_kind_text(TokenKind kind);

}  // namespace korvane::python
