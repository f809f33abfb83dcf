// Strings and bytes, and the modes of f- and t-strings: literal text, replacement fields and
// format specifiers nest to any depth, so the stack of modes lives in the lexer.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "python/lexer.h"

namespace korvane::python {
namespace {

// Bytes that end the plain run of a string body, by quote (' or ") and quoting (single or
// triple): the quote, a backslash, and in single-quoted strings a line break.
constexpr auto make_stops(char quote, bool triple) {
  std::array<uint8_t, 256> t{};
  t[static_cast<uint8_t>(quote)] = 1;
  t['\\'] = 1;
  if (!triple) t['\n'] = t['\r'] = 1;
  return t;
}
constexpr std::array<uint8_t, 256> kStringStops[] = {
    make_stops('\'', false), make_stops('\'', true), make_stops('"', false), make_stops('"', true)};

// The top bit of each byte of `word` equal to the byte `pattern` repeats. Exact for every byte
// value: the sum keeps to the low seven bits of each byte, so no carry crosses a byte.
inline uint64_t bytes_equal(uint64_t word, uint64_t pattern) {
  constexpr uint64_t k7F = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t x = word ^ pattern;
  return ~(((x & k7F) + k7F) | x | k7F);
}

// The first stop (see make_stops) at or after `i`. Docstrings run to hundreds of bytes between
// stops: eight at a time they pass in an eighth of the steps.
size_t scan_string_body(const char* p, size_t i, size_t n, char quote, bool triple,
                        const uint8_t* stop) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t k01 = 0x0101010101010101ULL;
    const uint64_t quotes = k01 * static_cast<uint8_t>(quote);
    for (; i + 8 <= n; i += 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      uint64_t hit = bytes_equal(word, quotes) | bytes_equal(word, k01 * '\\');
      if (!triple) hit |= bytes_equal(word, k01 * '\n') | bytes_equal(word, k01 * '\r');
      if (hit) return i + static_cast<size_t>(std::countr_zero(hit)) / 8;
    }
  }
  while (i < n && !stop[static_cast<uint8_t>(p[i])]) ++i;
  return i;
}

}  // namespace

// Lexes a literal whose prefix starts at `start` and whose opening quote is at `quote_pos`.
bool Lexer::lex_string(uint32_t start, uint32_t quote_pos, uint8_t flags, bool fstring) {
  pos_ = quote_pos;
  const char q = peek();
  const bool triple = peek(1) == q && peek(2) == q;
  pos_ += triple ? 3 : 1;
  if (triple) flags |= kTriple;
  if (fstring) {
    uint32_t nesting = 0;
    for (const ModeEntry& m : modes_) nesting += m.mode == Mode::FString;
    if (nesting + 1 >= kMaxFStringNesting) {
      return fail(ParseErrorKind::InvalidFString, start, pos_, "too many nested f-strings");
    }
    emit(TokenKind::FStringStart, start, flags);
    modes_.push_back(ModeEntry{Mode::FString, q, triple, (flags & kRaw) != 0, 0});
    return true;
  }
  const bool bytes = (flags & kBytes) != 0;
  const size_t n = src_.size();
  const uint8_t* stop = kStringStops[(q == '"') * 2 + triple].data();
  const char* p = src_.data();
  for (;;) {
    pos_ = static_cast<uint32_t>(scan_string_body(p, pos_, n, q, triple, stop));
    if (pos_ >= n) {
      return fail(
          ParseErrorKind::UnterminatedString, start, pos_,
          triple ? "unterminated triple-quoted string literal" : "unterminated string literal");
    }
    char c = p[pos_];
    if (c == q) {
      if (!triple) {
        ++pos_;
        break;
      }
      if (peek(1) == q && peek(2) == q) {
        pos_ += 3;
        break;
      }
      ++pos_;
    } else if (c == '\\') {
      flags |= kBackslash;
      ++pos_;
      if (pos_ < n) pos_ += (p[pos_] == '\r' && peek(1) == '\n') ? 2 : 1;
    } else {
      return fail(ParseErrorKind::UnterminatedString, start, pos_, "unterminated string literal");
    }
  }
  // Python reads `\r\n` and `\r` in a triple-quoted string as `\n`: such a value needs decoding.
  if (triple && std::memchr(p + start, '\r', pos_ - start)) flags |= kBackslash;
  if (bytes) {
    for (uint32_t i = start; i < pos_; ++i) {
      if (static_cast<unsigned char>(p[i]) >= 0x80) {
        return fail(ParseErrorKind::InvalidSyntax, i, i + 1,
                    "bytes can only contain ASCII literal characters");
      }
    }
  }
  emit(TokenKind::String, start, flags);
  return true;
}

// Literal text of an f-string, or of a format specifier, up to the next field or the end.
bool Lexer::lex_fstring_literal() {
  const ModeEntry m = modes_.back();
  const bool in_format = m.mode == Mode::FormatSpec;
  const uint32_t start = pos_;
  uint8_t flags = in_format ? kFormatSpec : 0;
  auto flush = [&]() {
    if (pos_ > start) out_->push_back(Token{TokenKind::FStringMiddle, flags, start, pos_});
  };
  const size_t n = src_.size();
  for (;;) {
    if (pos_ >= n) {
      return fail(ParseErrorKind::UnterminatedString, start, pos_,
                  m.triple ? "unterminated triple-quoted f-string literal"
                           : "unterminated f-string literal");
    }
    char c = src_[pos_];
    if (c == m.quote && (!m.triple || (peek(1) == c && peek(2) == c))) {
      if (in_format)
        return fail(ParseErrorKind::InvalidFString, pos_, pos_ + 1, "f-string: expecting '}'");
      flush();
      uint32_t end_start = pos_;
      pos_ += m.triple ? 3 : 1;
      emit(TokenKind::FStringEnd, end_start);
      modes_.pop_back();
      return true;
    }
    if (c == '\r') flags |= kBackslash;
    if ((c == '\n' || c == '\r') && !m.triple) {
      if (in_format && !m.had_field) {
        // Python ends the format specifier at the line break and reads on as the field's
        // expression part, where only the closing brace (or a nested field) may follow.
        flush();
        modes_.pop_back();
        return true;
      }
      return fail(ParseErrorKind::UnterminatedString, start, pos_, "unterminated f-string literal");
    }
    if (c == '\\') {
      flags |= kBackslash;
      char c1 = peek(1);
      if (c1 == '{' || c1 == '}') {
        ++pos_;  // a backslash does not escape a brace: the brace keeps its meaning
      } else if (!m.raw && c1 == 'N' && peek(2) == '{') {
        pos_ += 3;
        while (pos_ < n && src_[pos_] != '}' && src_[pos_] != m.quote && src_[pos_] != '\n') {
          ++pos_;
        }
        if (peek() == '}') ++pos_;
      } else {
        pos_ += (c1 == '\r' && peek(2) == '\n') ? 3 : 2;
      }
      continue;
    }
    if (c == '{') {
      if (!in_format && peek(1) == '{') {
        flags |= kBackslash;
        pos_ += 2;
        continue;
      }
      flush();
      if (in_format) {
        // Fields nest inside format specifiers at most two deep within one f-string (a
        // brace read as a bracket, after a line break ended the specifier, does not count).
        int depth = 0;
        for (auto it = modes_.rbegin(); it != modes_.rend() && it->mode != Mode::FString; ++it) {
          depth += it->mode == Mode::FormatSpec;
        }
        if (depth >= 3) {
          return fail(ParseErrorKind::InvalidFString, pos_, pos_ + 1,
                      "f-string: expressions nested too deeply");
        }
        modes_.back().had_field = true;
      }
      if (!open_bracket('{')) return false;
      uint32_t brace = pos_++;
      emit(TokenKind::LBrace, brace);
      modes_.push_back(ModeEntry{Mode::Field, m.quote, m.triple, m.raw,
                                 static_cast<uint32_t>(brackets_.size())});
      return true;
    }
    if (c == '}') {
      if (!in_format) {
        if (peek(1) == '}') {
          flags |= kBackslash;
          pos_ += 2;
          continue;
        }
        return fail(ParseErrorKind::InvalidFString, pos_, pos_ + 1,
                    "f-string: single '}' is not allowed");
      }
      flush();
      modes_.pop_back();  // the format specifier; the field's own '}' follows
      return fstring_field_delimiter();
    }
    ++pos_;
  }
}

// A '}' or ':' at the top level of a replacement field: the field ends, or its format specifier
// begins.
bool Lexer::fstring_field_delimiter() {
  uint32_t start = pos_++;
  if (src_[start] == ':') {
    emit(TokenKind::Colon, start);
    ModeEntry field = modes_.back();
    modes_.push_back(
        ModeEntry{Mode::FormatSpec, field.quote, field.triple, field.raw, field.bracket_level});
    return true;
  }
  emit(TokenKind::RBrace, start);
  brackets_.pop_back();
  brackets_at_.pop_back();
  modes_.pop_back();
  return true;
}

}  // namespace korvane::python
