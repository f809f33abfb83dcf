#include "json/reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include <fmt/format.h>

namespace korvane::json {

namespace {

bool is_ws(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void append_utf8(std::string* to, uint32_t cp) {
  if (to == nullptr) return;
  std::string& out = *to;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// What a one-letter escape stands for.
std::optional<char> simple_escape(char e) {
  switch (e) {
    case '"':
    case '\\':
    case '/':
      return e;
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return std::nullopt;
  }
}

}  // namespace

Result<Value> parse(std::string_view text) {
  Cursor c(text);
  auto v = c.parse_value(0);
  if (!v) return v;
  if (auto end = c.end_of_text(); !end) return Unexpected(end.error());
  return v;
}

Value build(const RawValue& raw) {
  if (raw.text.empty()) return Value(nullptr);
  auto v = parse(raw.text);
  if (!v) std::abort();  // the text was checked when it was read
  return std::move(*v);
}

std::optional<char> Cursor::peek() {
  while (pos_ < text_.size() && is_ws(text_[pos_])) ++pos_;
  if (pos_ == text_.size()) return std::nullopt;
  return text_[pos_];
}

std::string Cursor::at(std::size_t offset, std::string_view message) const {
  std::size_t line = 1;
  std::size_t column = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text_[i] == '\n') {
      ++line;
      column = 0;
    } else {
      ++column;
    }
  }
  return fmt::format("{} at line {} column {}", message, line, column);
}

std::string Cursor::error(std::string_view message) const { return at(pos_, message); }

std::string Cursor::peek_error(std::string_view message) const {
  return at(std::min(pos_ + 1, text_.size()), message);
}

Result<Value> Cursor::parse_value(int depth) {
  auto c = peek();
  if (!c) return Unexpected(peek_error("EOF while parsing a value"));
  if (*c == '[' || *c == '{') {
    if (depth + 1 >= kMaxDepth) return Unexpected(peek_error("recursion limit exceeded"));
    bump();
    return *c == '[' ? parse_array(depth + 1) : parse_object(depth + 1);
  }
  return parse_scalar(*c);
}

Result<Value> Cursor::parse_scalar(char first) {
  switch (first) {
    case 'n':
      bump();
      if (auto r = expect_ident("ull"); !r) return Unexpected(r.error());
      return Value(nullptr);
    case 't':
      bump();
      if (auto r = expect_ident("rue"); !r) return Unexpected(r.error());
      return Value(true);
    case 'f':
      bump();
      if (auto r = expect_ident("alse"); !r) return Unexpected(r.error());
      return Value(false);
    case '"': {
      bump();
      auto s = parse_string();
      if (!s) return Unexpected(s.error());
      return Value(std::move(*s));
    }
    default:
      if (first == '-' || is_digit(first)) return parse_number();
      return Unexpected(peek_error("expected value"));
  }
}

Result<void> Cursor::check_scalar(char first) {
  switch (first) {
    case 'n':
      bump();
      return expect_ident("ull");
    case 't':
      bump();
      return expect_ident("rue");
    case 'f':
      bump();
      return expect_ident("alse");
    case '"':
      bump();
      return read_string(nullptr);
    default:
      if (first == '-' || is_digit(first)) return check_number();
      return Unexpected(peek_error("expected value"));
  }
}

Result<void> Cursor::expect_ident(std::string_view rest) {
  for (char want : rest) {
    if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a value"));
    if (text_[pos_++] != want) return Unexpected(error("expected ident"));
  }
  return {};
}

Result<Value> Cursor::parse_array(int depth) {
  Array items;
  bool first = true;
  while (true) {
    auto more = next_element(first);
    if (!more) return Unexpected(more.error());
    if (!*more) break;
    auto v = parse_value(depth);
    if (!v) return v;
    items.push_back(std::move(*v));
  }
  bump();  // ']'
  return Value(std::move(items));
}

Result<Value> Cursor::parse_object(int depth) {
  std::vector<Member> members;
  bool first = true;
  while (true) {
    auto more = next_key(first);
    if (!more) return Unexpected(more.error());
    if (!*more) break;
    auto key = parse_string();
    if (!key) return Unexpected(key.error());
    if (auto colon = member_colon(); !colon) return Unexpected(colon.error());
    auto v = parse_value(depth);
    if (!v) return v;
    members.push_back(Member{std::move(*key), std::move(*v)});
  }
  bump();  // '}'
  return Value(Object::from_unsorted(std::move(members)));
}

Result<bool> Cursor::next_element(bool& first) {
  auto c = peek();
  if (!c) return Unexpected(peek_error("EOF while parsing a list"));
  if (*c == ']') return false;
  if (!first) {
    if (*c != ',') return Unexpected(peek_error("expected `,` or `]`"));
    bump();
    c = peek();
    if (!c) return Unexpected(peek_error("EOF while parsing a value"));
    if (*c == ']') return Unexpected(peek_error("trailing comma"));
  }
  first = false;
  return true;
}

Result<bool> Cursor::next_key(bool& first) {
  auto c = peek();
  if (!c) return Unexpected(peek_error("EOF while parsing an object"));
  if (*c == '}') return false;
  if (!first) {
    if (*c != ',') return Unexpected(peek_error("expected `,` or `}`"));
    bump();
    c = peek();
    if (!c) return Unexpected(peek_error("EOF while parsing a value"));
    if (*c == '}') return Unexpected(peek_error("trailing comma"));
  }
  first = false;
  if (*c != '"') return Unexpected(peek_error("key must be a string"));
  bump();
  return true;
}

Result<void> Cursor::member_colon() {
  auto c = peek();
  if (!c) return Unexpected(peek_error("EOF while parsing an object"));
  if (*c != ':') return Unexpected(peek_error("expected `:`"));
  bump();
  return {};
}

Result<void> Cursor::end_array() {
  auto c = peek();
  if (!c) return Unexpected(peek_error("EOF while parsing a list"));
  if (*c == ']') {
    bump();
    return {};
  }
  if (*c == ',') {
    bump();
    auto after = peek();
    if (after && *after == ']') return Unexpected(peek_error("trailing comma"));
  }
  return Unexpected(peek_error("trailing characters"));
}

Result<void> Cursor::end_of_text() {
  if (peek()) return Unexpected(peek_error("trailing characters"));
  return {};
}

std::string Cursor::object_stop_error(std::string_view message) {
  if (peek() == '}') bump();
  return error(message);
}

std::string Cursor::array_stop_error(std::string_view message) {
  const auto c = peek();
  if (c == ']') {
    bump();
  } else if (c == ',') {
    bump();
    peek();
  }
  return error(message);
}

Result<std::string_view> Cursor::check_value(int depth) {
  peek();  // the value's text starts after the white space before it
  const std::size_t start = pos_;
  if (auto r = walk_value(depth); !r) return Unexpected(std::move(r).error());
  return text_.substr(start, pos_ - start);
}

Result<void> Cursor::skip_value() {
  skipping_ = true;
  auto done = walk_value(std::nullopt);
  skipping_ = false;
  return done;
}

// Iterative, so that neither a skipped value of any depth nor a checked one can exhaust the
// stack, and with the errors parse_value gives, in the order it finds them.
Result<void> Cursor::walk_value(std::optional<int> depth) {
  std::string open;  // the closing bracket of every container we are inside
  // Whether the innermost container has had no element yet. Every outer one has had one: the
  // container we are in.
  bool first = true;
  while (true) {
    auto c = peek();
    if (!c) return Unexpected(peek_error("EOF while parsing a value"));
    if (*c == '[' || *c == '{') {
      if (depth && *depth + static_cast<int>(open.size()) + 1 >= kMaxDepth) {
        return Unexpected(peek_error("recursion limit exceeded"));
      }
      bump();
      open.push_back(*c == '[' ? ']' : '}');
      first = true;
    } else if (auto v = check_scalar(*c); !v) {
      return v;
    }
    // Close every container that ends here; stop before the next value.
    while (!open.empty()) {
      const bool in_object = open.back() == '}';
      auto more = in_object ? next_key(first) : next_element(first);
      if (!more) return Unexpected(std::move(more).error());
      if (*more) {
        if (in_object) {
          if (auto key = read_string(nullptr); !key) return key;
          if (auto colon = member_colon(); !colon) return colon;
        }
        break;
      }
      bump();
      open.pop_back();
      first = false;
    }
    if (open.empty()) return {};
  }
}

Result<void> Cursor::read_number(NumberForm& n) {
  n.start = pos_;
  n.negative = text_[pos_] == '-';
  if (n.negative) ++pos_;
  if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a value"));
  const char lead = text_[pos_++];
  if (!is_digit(lead)) return Unexpected(error("invalid number"));
  if (lead == '0' && pos_ < text_.size() && is_digit(text_[pos_])) {
    return Unexpected(peek_error("invalid number"));
  }
  const std::size_t lead_at = pos_ - 1;
  n.magnitude = static_cast<uint64_t>(lead - '0');
  n.is_float = false;
  while (pos_ < text_.size() && is_digit(text_[pos_])) {
    const auto d = static_cast<uint64_t>(text_[pos_++] - '0');
    if (n.magnitude > (std::numeric_limits<uint64_t>::max() - d) / 10) n.is_float = true;
    n.magnitude = n.magnitude * 10 + d;
  }
  n.integer_digits = pos_ - lead_at;
  if (pos_ < text_.size() && text_[pos_] == '.') {
    n.is_float = true;
    ++pos_;
    if (pos_ == text_.size()) return Unexpected(peek_error("EOF while parsing a value"));
    if (!is_digit(text_[pos_])) return Unexpected(peek_error("invalid number"));
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
  }
  if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
    n.is_float = true;
    ++pos_;
    bool negative_exponent = false;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
      negative_exponent = text_[pos_++] == '-';
    }
    if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a value"));
    if (!is_digit(text_[pos_++])) return Unexpected(error("invalid number"));
    int64_t exponent = text_[pos_ - 1] - '0';
    constexpr int64_t kExponentCap = 1'000'000;  // far past any double, and no overflow
    while (pos_ < text_.size() && is_digit(text_[pos_])) {
      exponent = std::min<int64_t>(exponent * 10 + (text_[pos_++] - '0'), kExponentCap);
    }
    n.exponent = negative_exponent ? -exponent : exponent;
  }
  return {};
}

std::optional<Number> Cursor::integer_value(const NumberForm& n) {
  if (n.is_float) return std::nullopt;
  if (!n.negative) return Number::u64(n.magnitude);
  // "-0" has no signed integer form other than 0 and stays a float, as it was written.
  if (n.magnitude == 0) return Number::f64(-0.0);
  constexpr uint64_t kMinMagnitude = uint64_t{1} << 63;
  if (n.magnitude < kMinMagnitude) return Number::i64(-static_cast<int64_t>(n.magnitude));
  if (n.magnitude == kMinMagnitude) return Number::i64(std::numeric_limits<int64_t>::min());
  return std::nullopt;
}

Result<double> Cursor::float_value(const NumberForm& n) const {
  const std::string digits(text_.substr(n.start, pos_ - n.start));
  const double v = std::strtod(digits.c_str(), nullptr);
  if (std::isinf(v)) return Unexpected(error("number out of range"));
  return v;
}

Result<Value> Cursor::parse_number() {
  NumberForm n;
  if (auto r = read_number(n); !r) return Unexpected(std::move(r).error());
  if (auto integer = integer_value(n)) return Value(*integer);
  auto v = float_value(n);
  if (!v) return Unexpected(std::move(v).error());
  return Value(Number::f64(*v));
}

Result<void> Cursor::check_number() {
  NumberForm n;
  if (auto r = read_number(n); !r) return r;
  // A skipped number is only checked for its form: its value is never kept.
  if (skipping_ || integer_value(n)) return {};
  // Below 10^308 any float is finite, so only a number near the top of the range needs the
  // conversion to tell whether it is out of range.
  if (static_cast<int64_t>(n.integer_digits) + n.exponent <= 308) return {};
  if (auto v = float_value(n); !v) return Unexpected(std::move(v).error());
  return {};
}

Result<std::string> Cursor::parse_string() {
  std::string out;
  if (auto r = read_string(&out); !r) return Unexpected(std::move(r).error());
  return out;
}

Result<void> Cursor::read_string(std::string* out) {
  std::size_t run = pos_;
  while (true) {
    if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a string"));
    const char c = text_[pos_];
    if (c == '"') {
      if (out != nullptr) out->append(text_.data() + run, pos_ - run);
      ++pos_;
      return {};
    }
    if (static_cast<unsigned char>(c) < 0x20) {
      ++pos_;
      return Unexpected(error("control character (\\u0000-\\u001F) found while parsing a string"));
    }
    if (c != '\\') {
      ++pos_;
      continue;
    }
    if (out != nullptr) out->append(text_.data() + run, pos_ - run);
    ++pos_;
    if (auto r = parse_escape(out); !r) return r;
    run = pos_;
  }
}

Result<void> Cursor::parse_escape(std::string* out) {
  if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a string"));
  const char e = text_[pos_++];
  if (e != 'u') {
    const auto plain = simple_escape(e);
    if (!plain) return Unexpected(error("invalid escape"));
    if (out != nullptr) out->push_back(*plain);
    return {};
  }
  auto high = parse_hex4();
  if (!high) return Unexpected(high.error());
  // A skipped string is never kept, so what its escapes encode does not matter.
  if (skipping_) return {};
  if (*high >= 0xDC00 && *high <= 0xDFFF) {
    return Unexpected(error("lone leading surrogate in hex escape"));
  }
  if (*high < 0xD800 || *high > 0xDBFF) {
    append_utf8(out, *high);
    return {};
  }
  // A leading surrogate needs its partner right after it.
  for (char want : {'\\', 'u'}) {
    if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a string"));
    if (text_[pos_++] != want) return Unexpected(error("unexpected end of hex escape"));
  }
  auto low = parse_hex4();
  if (!low) return Unexpected(low.error());
  if (*low < 0xDC00 || *low > 0xDFFF) {
    return Unexpected(error("lone leading surrogate in hex escape"));
  }
  append_utf8(out, 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00));
  return {};
}

Result<uint32_t> Cursor::parse_hex4() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos_ == text_.size()) return Unexpected(error("EOF while parsing a string"));
    const char c = text_[pos_++];
    uint32_t d = 0;
    if (is_digit(c)) {
      d = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return Unexpected(error("invalid escape"));
    }
    v = v * 16 + d;
  }
  return v;
}

}  // namespace korvane::json
