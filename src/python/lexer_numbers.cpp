// Numbers: integers in four bases, floats and imaginary numbers, with single underscores
// between digits.
#include <string>

#include "python/lexer.h"

namespace korvane::python {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
bool is_name_char(char c) {
  return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_';
}

}  // namespace

// A number directly followed by a letter is an error, unless the letters begin one of the
// keywords that may follow a number in valid code (`1if x else 2`).
bool Lexer::number_end(uint32_t start) {
  char c = peek();
  if (!is_name_char(c)) return true;
  std::string_view rest = src_.substr(pos_);
  auto starts = [&](std::string_view k) { return rest.substr(0, k.size()) == k; };
  if (starts("and") || starts("else") || starts("for") || starts("if") || starts("in") ||
      starts("is") || starts("not") || starts("or")) {
    return true;
  }
  return fail(ParseErrorKind::InvalidNumber, start, pos_ + 1, "invalid decimal literal");
}

bool Lexer::lex_number() {
  char c1 = peek(1) | 0x20;
  if (peek() == '0' && (c1 == 'x' || c1 == 'o' || c1 == 'b')) return lex_prefixed_number();
  return lex_decimal_number();
}

// 0x / 0o / 0b integers.
bool Lexer::lex_prefixed_number() {
  uint32_t start = pos_;
  char c1 = peek(1) | 0x20;
  pos_ += 2;
  const char* what = c1 == 'x' ? "hexadecimal" : c1 == 'o' ? "octal" : "binary";
  auto in_base = [&](char c) {
    return c1 == 'x' ? is_hex(c) : c1 == 'o' ? (c >= '0' && c <= '7') : (c == '0' || c == '1');
  };
  bool any = false;
  for (;;) {
    if (peek() == '_') ++pos_;
    if (!in_base(peek())) break;
    while (in_base(peek())) ++pos_;
    any = true;
    if (peek() != '_') break;
  }
  if (!any && c1 != 'x' && is_digit(peek())) {
    return fail(ParseErrorKind::InvalidNumber, start, pos_ + 1,
                std::string("invalid digit '") + peek() + "' in " + what + " literal");
  }
  if (!any || src_[pos_ - 1] == '_') {
    return fail(ParseErrorKind::InvalidNumber, start, pos_ + 1,
                std::string("invalid ") + what + " literal");
  }
  if (is_digit(peek())) {
    return fail(ParseErrorKind::InvalidNumber, start, pos_ + 1,
                std::string("invalid digit '") + peek() + "' in " + what + " literal");
  }
  if (!number_end(start)) return false;
  emit(TokenKind::Number, start);
  return true;
}

// Decimal integers, floats and imaginary numbers.
bool Lexer::lex_decimal_number() {
  uint32_t start = pos_;
  // Digits with single underscores between them; false on a dangling underscore.
  auto digits = [&]() {
    for (;;) {
      while (is_digit(peek())) ++pos_;
      if (peek() != '_') return true;
      ++pos_;
      if (!is_digit(peek())) return false;
    }
  };
  auto bad = [&]() {
    return fail(ParseErrorKind::InvalidNumber, start, pos_ + 1, "invalid decimal literal");
  };
  bool is_float = false;
  if (peek() != '.') {
    if (!digits()) return bad();
  }
  bool leading_zero = false;
  if (src_[start] == '0') {
    for (uint32_t i = start; i < pos_; ++i) {
      if (src_[i] != '0' && src_[i] != '_') leading_zero = true;
    }
  }
  if (peek() == '.') {
    is_float = true;
    ++pos_;
    if (is_digit(peek()) && !digits()) return bad();
  }
  if ((peek() | 0x20) == 'e') {
    uint32_t save = pos_;
    ++pos_;
    bool sign = peek() == '+' || peek() == '-';
    if (sign) ++pos_;
    if (is_digit(peek())) {
      if (!digits()) return bad();
      is_float = true;
    } else if (sign) {
      return bad();
    } else {
      pos_ = save;
    }
  }
  if ((peek() | 0x20) == 'j') {
    ++pos_;
    is_float = true;
  }
  if (leading_zero && !is_float) {
    return fail(ParseErrorKind::InvalidNumber, start, pos_,
                "leading zeros in decimal integer literals are not permitted; use an 0o prefix "
                "for octal integers");
  }
  if (!number_end(start)) return false;
  emit(TokenKind::Number, start);
  return true;
}

}  // namespace korvane::python
