#include "python/lexer.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace korvane::python {
namespace {

// Character classes of ASCII bytes, looked up once per byte in the hot loops.
enum : uint8_t { kNameStart = 1, kNameChar = 2, kTrivia = 4 };

constexpr auto kCharClass = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 'a'; c <= 'z'; ++c) t[c] = kNameStart | kNameChar;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = kNameStart | kNameChar;
  for (int c = '0'; c <= '9'; ++c) t[c] = kNameChar;
  t['_'] = kNameStart | kNameChar;
  // What skip_trivia may consume: a token that starts with anything else needs no call to it.
  for (char c : {' ', '\t', '\f', '#', '\\', '\n', '\r'}) t[static_cast<uint8_t>(c)] = kTrivia;
  return t;
}();

inline bool is_ascii_name_start(char c) { return kCharClass[static_cast<uint8_t>(c)] & kNameStart; }
inline bool is_ascii_name_char(char c) { return kCharClass[static_cast<uint8_t>(c)] & kNameChar; }

// The bytes of a little-endian word that are ASCII name characters, as the top bit of each
// byte. Names are short and of every length, so a byte-at-a-time loop pays a mispredicted exit
// on nearly every one; eight bytes per step end most names in a single step. Each sum below
// stays within its byte (the inputs are below 0x80), so no carry crosses into a neighbour.
inline uint64_t ascii_name_bytes(uint64_t word) {
  constexpr uint64_t k01 = 0x0101010101010101ULL;
  constexpr uint64_t k7F = k01 * 0x7F, k80 = k01 * 0x80;
  const uint64_t low7 = word & k7F;
  const uint64_t folded = low7 | (k01 * 0x20);  // 'A'..'Z' onto 'a'..'z'
  const uint64_t letter = (folded + k01 * (0x80 - 'a')) & ~(folded + k01 * (0x7F - 'z'));
  const uint64_t digit = (low7 + k01 * (0x80 - '0')) & ~(low7 + k01 * (0x7F - '9'));
  const uint64_t underscore = ~((low7 ^ (k01 * '_')) + k7F);
  return (letter | digit | underscore) & ~word & k80;
}

// The end of the run of ASCII name characters that starts at `i`.
inline size_t scan_ascii_name(const char* p, size_t i, size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t k80 = 0x8080808080808080ULL;
    for (; i + 8 <= n; i += 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (const uint64_t stop = ~ascii_name_bytes(word) & k80) {
        return i + static_cast<size_t>(std::countr_zero(stop)) / 8;
      }
    }
  }
  while (i < n && is_ascii_name_char(p[i])) ++i;
  return i;
}

TokenKind keyword_kind(std::string_view t) {
  using K = TokenKind;
  auto is = [&](const char* k) { return std::memcmp(t.data(), k, t.size()) == 0; };
  switch (t.size()) {
    case 2:
      switch (t[0]) {
        case 'a':
          return t[1] == 's' ? K::As : K::Name;
        case 'i':
          return t[1] == 'f' ? K::If : t[1] == 'n' ? K::In : t[1] == 's' ? K::Is : K::Name;
        case 'o':
          return t[1] == 'r' ? K::Or : K::Name;
        default:
          return K::Name;
      }
    case 3:
      switch (t[0]) {
        case 'a':
          return is("and") ? K::And : K::Name;
        case 'd':
          return is("def") ? K::Def : is("del") ? K::Del : K::Name;
        case 'f':
          return is("for") ? K::For : K::Name;
        case 'n':
          return is("not") ? K::Not : K::Name;
        case 't':
          return is("try") ? K::Try : K::Name;
        default:
          return K::Name;
      }
    case 4:
      switch (t[0]) {
        case 'N':
          return is("None") ? K::None : K::Name;
        case 'T':
          return is("True") ? K::True : K::Name;
        case 'e':
          return is("elif") ? K::Elif : is("else") ? K::Else : K::Name;
        case 'f':
          return is("from") ? K::From : K::Name;
        case 'p':
          return is("pass") ? K::Pass : K::Name;
        case 'w':
          return is("with") ? K::With : K::Name;
        default:
          return K::Name;
      }
    case 5:
      switch (t[0]) {
        case 'F':
          return is("False") ? K::False : K::Name;
        case 'a':
          return is("async") ? K::Async : is("await") ? K::Await : K::Name;
        case 'b':
          return is("break") ? K::Break : K::Name;
        case 'c':
          return is("class") ? K::Class : K::Name;
        case 'r':
          return is("raise") ? K::Raise : K::Name;
        case 'w':
          return is("while") ? K::While : K::Name;
        case 'y':
          return is("yield") ? K::Yield : K::Name;
        default:
          return K::Name;
      }
    case 6:
      switch (t[0]) {
        case 'a':
          return is("assert") ? K::Assert : K::Name;
        case 'e':
          return is("except") ? K::Except : K::Name;
        case 'g':
          return is("global") ? K::Global : K::Name;
        case 'i':
          return is("import") ? K::Import : K::Name;
        case 'l':
          return is("lambda") ? K::Lambda : K::Name;
        case 'r':
          return is("return") ? K::Return : K::Name;
        default:
          return K::Name;
      }
    case 7:
      return is("finally") ? K::Finally : K::Name;
    case 8:
      return is("continue") ? K::Continue : is("nonlocal") ? K::Nonlocal : K::Name;
    default:
      return K::Name;
  }
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

// Python 3.13 knows Unicode 15.1; the ICU in use may be older. What 15.1 added to the
// identifier characters is written out here.
// CJK Unified Ideographs Extension I came with Unicode 15.1.
constexpr bool is_cjk_extension_i(uint32_t cp) { return cp >= 0x2EBF0 && cp <= 0x2EE5D; }

bool is_identifier_start(uint32_t cp) {
  return is_cjk_extension_i(cp) || u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_XID_START);
}
bool is_identifier_continue(uint32_t cp) {
  // Unicode 15.1 also let the zero-width joiners and the katakana middle dots continue names.
  if (cp == 0x200C || cp == 0x200D || cp == 0x30FB || cp == 0xFF65) return true;
  return is_cjk_extension_i(cp) ||
         u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_XID_CONTINUE);
}

Lexer::Lexer(std::string_view source, uint32_t start) : src_(source), pos_(start) {}

void Lexer::run(std::vector<Token>& out) {
  out_ = &out;
  out.reserve(src_.size() / 4 + 16);
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
  // Most tokens follow no space or a single one.
  if (peek() == ' ') ++pos_;
  if ((kCharClass[static_cast<uint8_t>(peek())] & kTrivia) && !skip_trivia()) return false;
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

// Moves to the line break (or the end) that ends a comment.
void Lexer::skip_comment() {
  const char* p = src_.data() + pos_;
  size_t left = src_.size() - pos_;
  const void* nl = std::memchr(p, '\n', left);
  size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p) : left;
  if (const void* cr = std::memchr(p, '\r', len))
    len = static_cast<size_t>(static_cast<const char*>(cr) - p);
  pos_ += static_cast<uint32_t>(len);
}

bool Lexer::skip_trivia() {
  for (;;) {
    char c = peek();
    if (c == ' ' || c == '\t' || c == '\f') {
      ++pos_;
    } else if (c == '#') {
      skip_comment();
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
  const size_t n = src_.size();
  const char* p = src_.data();
  while (pos_ < n) {
    // Most names are all ASCII: run through those bytes with a local index.
    const auto i = static_cast<uint32_t>(scan_ascii_name(p, pos_, n));
    pos_ = i;
    if (i >= n || static_cast<unsigned char>(p[i]) < 0x80) break;
    int32_t next = static_cast<int32_t>(pos_);
    UChar32 cp;
    U8_NEXT(reinterpret_cast<const uint8_t*>(p), next, static_cast<int32_t>(n), cp);
    bool ok = cp >= 0 && (pos_ == start ? is_identifier_start(static_cast<uint32_t>(cp))
                                        : is_identifier_continue(static_cast<uint32_t>(cp)));
    if (!ok) {
      return fail(ParseErrorKind::InvalidCharacter, pos_, static_cast<uint32_t>(next),
                  std::string(src_.substr(pos_, static_cast<uint32_t>(next) - pos_)));
    }
    flags |= kNonAscii;
    pos_ = static_cast<uint32_t>(next);
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
