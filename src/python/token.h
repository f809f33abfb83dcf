// Tokens of Python source, produced by the Lexer and read by the parser.
//
// A token is a kind and a byte range; its text is read from the source when needed, so
// tokenizing allocates nothing per token.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvane::python {

enum class TokenKind : uint8_t {
  EndOfFile,
  Error,  // the lexer stopped here; its error is the parse's error when reached
  Newline,
  Indent,
  Dedent,
  Name,
  Number,
  String,         // a whole string or bytes literal (not an f- or t-string)
  FStringStart,   // f" / t" with its prefix and opening quote
  FStringMiddle,  // literal text of an f-string or of a format specifier, as written
  FStringEnd,     // the closing quote
  // Operators and delimiters.
  LPar,
  RPar,
  LSqb,
  RSqb,
  LBrace,
  RBrace,
  Colon,
  Comma,
  Semi,
  Plus,
  Minus,
  Star,
  Slash,
  VBar,
  Amper,
  Less,
  Greater,
  Equal,
  Dot,
  Percent,
  EqEqual,
  NotEqual,
  LessEqual,
  GreaterEqual,
  Tilde,
  CircumFlex,
  LeftShift,
  RightShift,
  DoubleStar,
  PlusEqual,
  MinEqual,
  StarEqual,
  SlashEqual,
  PercentEqual,
  AmperEqual,
  VBarEqual,
  CircumFlexEqual,
  LeftShiftEqual,
  RightShiftEqual,
  DoubleStarEqual,
  DoubleSlash,
  DoubleSlashEqual,
  At,
  AtEqual,
  RArrow,
  Ellipsis,
  ColonEqual,
  Exclamation,
  // Keywords (the soft keywords match, case, type and _ are Names).
  False,
  None,
  True,
  And,
  As,
  Assert,
  Async,
  Await,
  Break,
  Class,
  Continue,
  Def,
  Del,
  Elif,
  Else,
  Except,
  Finally,
  For,
  From,
  Global,
  If,
  Import,
  In,
  Is,
  Lambda,
  Nonlocal,
  Not,
  Or,
  Pass,
  Raise,
  Return,
  Try,
  While,
  With,
  Yield,
};

inline constexpr TokenKind kFirstKeyword = TokenKind::False;

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
