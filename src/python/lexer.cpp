#include "python/lexer.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>

namespace korvane::python {
namespace {

constexpr bool is_ascii_name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
constexpr bool is_ascii_name_char(char c) {
  return is_ascii_name_start(c) || (c >= '0' && c <= '9');
}

struct Keyword {
  std::string_view text;
  TokenKind kind;
};

constexpr Keyword kKeywords[] = {
    {"False", TokenKind::False},
    {"None", TokenKind::None},
    {"True", TokenKind::True},
    {"and", TokenKind::And},
    {"as", TokenKind::As},
    {"assert", TokenKind::Assert},
    {"async", TokenKind::Async},
    {"await", TokenKind::Await},
    {"break", TokenKind::Break},
    {"class", TokenKind::Class},
    {"continue", TokenKind::Continue},
    {"def", TokenKind::Def},
    {"del", TokenKind::Del},
    {"elif", TokenKind::Elif},
    {"else", TokenKind::Else},
    {"except", TokenKind::Except},
    {"finally", TokenKind::Finally},
    {"for", TokenKind::For},
    {"from", TokenKind::From},
    {"global", TokenKind::Global},
    {"if", TokenKind::If},
    {"import", TokenKind::Import},
    {"in", TokenKind::In},
    {"is", TokenKind::Is},
    {"lambda", TokenKind::Lambda},
    {"nonlocal", TokenKind::Nonlocal},
    {"not", TokenKind::Not},
    {"or", TokenKind::Or},
    {"pass", TokenKind::Pass},
    {"raise", TokenKind::Raise},
    {"return", TokenKind::Return},
    {"try", TokenKind::Try},
    {"while", TokenKind::While},
    {"with", TokenKind::With},
    {"yield", TokenKind::Yield},
};

TokenKind keyword_kind(std::string_view text) {
  if (text.size() < 2 || text.size() > 8) return TokenKind::Name;
  // Keywords start with a lower-case letter except False/None/True; a cheap first filter.
  char c = text[0];
  if (!((c >= 'a' && c <= 'y') || c == 'F' || c == 'N' || c == 'T')) return TokenKind::Name;
  for (const Keyword& k : kKeywords) {
    if (k.text.size() == text.size() && k.text[0] == c && k.text == text) return k.kind;
  }
  return TokenKind::Name;
}

// The flags of a string prefix, or -1 when the name is no prefix.
int string_prefix_flags(std::string_view p, bool* fstring) {
  int flags = 0;
  bool seen_b = false, seen_r = false, seen_f = false, seen_u = false;
  for (char c : p) {
    switch (c | 0x20) {
      case 'r':
        if (seen_r) return -1;
        seen_r = true;
        flags |= kRaw;
        break;
      case 'b':
        if (seen_b) return -1;
        seen_b = true;
        flags |= kBytes;
        break;
      case 'u':
        if (seen_u) return -1;
        seen_u = true;
        break;
      case 'f':
        if (seen_f) return -1;
        seen_f = true;
        break;
      case 't':
        if (seen_f) return -1;
        seen_f = true;
        flags |= kTemplate;
        break;
      default:
        return -1;
    }
  }
  if (seen_u && p.size() > 1) return -1;
  if (seen_b && seen_f) return -1;
  *fstring = seen_f;
  return flags;
}

}  // namespace

bool is_identifier_start(uint32_t cp) {
  return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_XID_START);
}
bool is_identifier_continue(uint32_t cp) {
  return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_XID_CONTINUE);
}

Lexer::Lexer(std::string_view source, uint32_t start) : src_(source), pos_(start) {}

void Lexer::run(std::vector<Token>& out) {
  out_ = &out;
  out.reserve(src_.size() / 5 + 16);
  while (next_token()) {
  }
}

void Lexer::emit(TokenKind kind, uint32_t start, uint8_t flags) {
  out_->push_back(Token{kind, flags, start, pos_});
}

bool Lexer::fail(ParseErrorKind kind, uint32_t start, uint32_t end, std::string message) {
  // Callers point one past the offending byte, which at the end of the text is past the text.
  const auto size = static_cast<uint32_t>(src_.size());
  end = std::min(end, size);
  start = std::min(start, end);
  error_.kind = kind;
  error_.range = {start, end};
  if (kind == ParseErrorKind::InvalidCharacter || kind == ParseErrorKind::UnmatchedBracket) {
    error_.found = std::move(message);
  } else {
    error_.message = std::move(message);
  }
  out_->push_back(Token{TokenKind::Error, 0, start, end});
  return false;
}

bool Lexer::next_token() {
  if (!modes_.empty()) {
    if (modes_.back().mode != Mode::Field) return lex_fstring_literal();
  } else if (line_start_) {
    if (!at_line_start()) return false;
    if (at_end()) return finish();
  }
  if (!skip_trivia()) return false;
  if (at_end()) return finish();
  char c = peek();
  if (c == '\n' || c == '\r') {
    uint32_t start = pos_;
    pos_ += (c == '\r' && peek(1) == '\n') ? 2 : 1;
    emit(TokenKind::Newline, start);
    line_start_ = true;
    return true;
  }
  if (is_ascii_name_start(c) || static_cast<unsigned char>(c) >= 0x80) return lex_name();
  if ((c >= '0' && c <= '9') || (c == '.' && peek(1) >= '0' && peek(1) <= '9')) {
    return lex_number();
  }
  if (c == '"' || c == '\'') return lex_string(pos_, pos_, 0, false);
  if (!modes_.empty() && brackets_.size() == modes_.back().bracket_level &&
      (c == '}' || c == ':')) {
    return fstring_field_delimiter();
  }
  return lex_operator();
}

bool Lexer::skip_trivia() {
  for (;;) {
    char c = peek();
    if (c == ' ' || c == '\t' || c == '\f') {
      ++pos_;
    } else if (c == '#') {
      while (!at_end() && src_[pos_] != '\n' && src_[pos_] != '\r') ++pos_;
    } else if (c == '\\') {
      uint32_t start = pos_;
      ++pos_;
      if (peek() == '\r') {
        pos_ += peek(1) == '\n' ? 2 : 1;
      } else if (peek() == '\n') {
        ++pos_;
      } else if (at_end()) {
        return fail(ParseErrorKind::InvalidLineContinuation, start, pos_,
                    "unexpected EOF while parsing");
      } else {
        return fail(ParseErrorKind::InvalidLineContinuation, start, pos_,
                    "unexpected character after line continuation character");
      }
      if (at_end()) {
        return fail(ParseErrorKind::InvalidLineContinuation, start, pos_,
                    "unexpected EOF while parsing");
      }
    } else if ((c == '\n' || c == '\r') && !brackets_.empty() && pos_ < src_.size()) {
      ++pos_;
    } else {
      return true;
    }
  }
}

bool Lexer::lex_name() {
  uint32_t start = pos_;
  uint8_t flags = 0;
  while (pos_ < src_.size()) {
    char c = src_[pos_];
    if (is_ascii_name_char(c)) {
      ++pos_;
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x80) break;
    int32_t i = static_cast<int32_t>(pos_);
    UChar32 cp;
    U8_NEXT(reinterpret_cast<const uint8_t*>(src_.data()), i, static_cast<int32_t>(src_.size()),
            cp);
    bool ok = cp >= 0 && (pos_ == start ? is_identifier_start(static_cast<uint32_t>(cp))
                                        : is_identifier_continue(static_cast<uint32_t>(cp)));
    if (!ok) {
      return fail(ParseErrorKind::InvalidCharacter, pos_, static_cast<uint32_t>(i),
                  std::string(src_.substr(pos_, static_cast<uint32_t>(i) - pos_)));
    }
    flags |= kNonAscii;
    pos_ = static_cast<uint32_t>(i);
  }
  std::string_view text = src_.substr(start, pos_ - start);
  char next = peek();
  if ((next == '"' || next == '\'') && text.size() <= 2 && flags == 0) {
    bool fstring = false;
    int prefix = string_prefix_flags(text, &fstring);
    if (prefix >= 0) return lex_string(start, pos_, static_cast<uint8_t>(prefix), fstring);
  }
  emit(flags == 0 ? keyword_kind(text) : TokenKind::Name, start, flags);
  return true;
}

bool Lexer::open_bracket(char c) {
  if (brackets_.size() >= kMaxBrackets) {
    return fail(ParseErrorKind::TooManyNestedParentheses, pos_, pos_ + 1,
                "too many nested parentheses");
  }
  brackets_.push_back(c);
  brackets_at_.push_back(pos_);
  return true;
}

bool Lexer::close_bracket(char c) {
  char open = c == ')' ? '(' : c == ']' ? '[' : '{';
  if (brackets_.empty()) {
    return fail(ParseErrorKind::UnmatchedBracket, pos_, pos_ + 1, std::string(1, c));
  }
  if (brackets_.back() != open) {
    char want = brackets_.back() == '(' ? ')' : brackets_.back() == '[' ? ']' : '}';
    error_.expected = std::string(1, want);
    error_.found = std::string(1, c);
    return fail(ParseErrorKind::MismatchedBracket, pos_, pos_ + 1);
  }
  // A bracket may not close the '{' that opened an f-string replacement field.
  if (!modes_.empty() && brackets_.size() == modes_.back().bracket_level) {
    return fail(ParseErrorKind::InvalidFString, pos_, pos_ + 1,
                "f-string: unmatched '" + std::string(1, c) + "'");
  }
  brackets_.pop_back();
  brackets_at_.pop_back();
  return true;
}

bool Lexer::lex_operator() {
  uint32_t start = pos_;
  char c = peek();
  char c1 = peek(1);
  char c2 = peek(2);
  auto op = [&](TokenKind kind, uint32_t len) {
    pos_ += len;
    emit(kind, start);
    return true;
  };
  switch (c) {
    case '(':
    case '[':
    case '{': {
      if (!open_bracket(c)) return false;
      return op(c == '(' ? TokenKind::LPar : c == '[' ? TokenKind::LSqb : TokenKind::LBrace, 1);
    }
    case ')':
    case ']':
    case '}': {
      if (!close_bracket(c)) return false;
      return op(c == ')' ? TokenKind::RPar : c == ']' ? TokenKind::RSqb : TokenKind::RBrace, 1);
    }
    case ':':
      return c1 == '=' ? op(TokenKind::ColonEqual, 2) : op(TokenKind::Colon, 1);
    case ',':
      return op(TokenKind::Comma, 1);
    case ';':
      return op(TokenKind::Semi, 1);
    case '+':
      return c1 == '=' ? op(TokenKind::PlusEqual, 2) : op(TokenKind::Plus, 1);
    case '-':
      if (c1 == '=') return op(TokenKind::MinEqual, 2);
      if (c1 == '>') return op(TokenKind::RArrow, 2);
      return op(TokenKind::Minus, 1);
    case '*':
      if (c1 == '*')
        return c2 == '=' ? op(TokenKind::DoubleStarEqual, 3) : op(TokenKind::DoubleStar, 2);
      return c1 == '=' ? op(TokenKind::StarEqual, 2) : op(TokenKind::Star, 1);
    case '/':
      if (c1 == '/')
        return c2 == '=' ? op(TokenKind::DoubleSlashEqual, 3) : op(TokenKind::DoubleSlash, 2);
      return c1 == '=' ? op(TokenKind::SlashEqual, 2) : op(TokenKind::Slash, 1);
    case '|':
      return c1 == '=' ? op(TokenKind::VBarEqual, 2) : op(TokenKind::VBar, 1);
    case '&':
      return c1 == '=' ? op(TokenKind::AmperEqual, 2) : op(TokenKind::Amper, 1);
    case '^':
      return c1 == '=' ? op(TokenKind::CircumFlexEqual, 2) : op(TokenKind::CircumFlex, 1);
    case '%':
      return c1 == '=' ? op(TokenKind::PercentEqual, 2) : op(TokenKind::Percent, 1);
    case '@':
      return c1 == '=' ? op(TokenKind::AtEqual, 2) : op(TokenKind::At, 1);
    case '~':
      return op(TokenKind::Tilde, 1);
    case '=':
      return c1 == '=' ? op(TokenKind::EqEqual, 2) : op(TokenKind::Equal, 1);
    case '!':
      return c1 == '=' ? op(TokenKind::NotEqual, 2) : op(TokenKind::Exclamation, 1);
    case '<':
      if (c1 == '<')
        return c2 == '=' ? op(TokenKind::LeftShiftEqual, 3) : op(TokenKind::LeftShift, 2);
      return c1 == '=' ? op(TokenKind::LessEqual, 2) : op(TokenKind::Less, 1);
    case '>':
      if (c1 == '>')
        return c2 == '=' ? op(TokenKind::RightShiftEqual, 3) : op(TokenKind::RightShift, 2);
      return c1 == '=' ? op(TokenKind::GreaterEqual, 2) : op(TokenKind::Greater, 1);
    case '.':
      if (c1 == '.' && c2 == '.') return op(TokenKind::Ellipsis, 3);
      return op(TokenKind::Dot, 1);
    default:
      break;
  }
  return fail(ParseErrorKind::InvalidCharacter, start, start + 1, std::string(1, c));
}

}  // namespace korvane::python
