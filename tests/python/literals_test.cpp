// Literal values: escapes, \N{...}, implicit concatenation, integer bases and underscores,
// floats and imaginary numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "python/parser.h"

namespace korvane::python {
namespace {

// The value of the single expression statement of `source`.
const Expr* only_expr(const ParsedModule& m) {
  if (m.body().size() != 1) return nullptr;
  auto* s = m.body()[0]->as<ExprStmt>();
  return s ? s->value : nullptr;
}

struct StringCase {
  const char* source;
  std::string want;
  bool bytes;
};

class StringValue : public testing::TestWithParam<StringCase> {};

TEST_P(StringValue, DecodesTheLiteral) {
  const StringCase& c = GetParam();
  auto parsed = parse_module(c.source);
  ASSERT_TRUE(parsed) << c.source << ": " << parsed.error().kind_text();
  const Expr* e = only_expr(*parsed);
  ASSERT_NE(e, nullptr);
  if (c.bytes) {
    ASSERT_TRUE(e->is<BytesLiteral>()) << c.source;
    EXPECT_EQ(e->as<BytesLiteral>()->value, c.want) << c.source;
  } else {
    ASSERT_TRUE(e->is<StringLiteral>()) << c.source;
    EXPECT_EQ(e->as<StringLiteral>()->value, c.want) << c.source;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Literals, StringValue,
    testing::Values(
        StringCase{"'plain'", "plain", false},
        StringCase{"'a\\nb\\tc\\\\d\\'e\\\"f'", "a\nb\tc\\d'e\"f", false},
        StringCase{"'\\a\\b\\f\\v\\r'", "\a\b\f\v\r", false},
        // Octal escapes take at most three digits; values past 0o377 are code points in text.
        StringCase{"'\\101\\0\\1234'", std::string("A\0S4", 4), false},
        StringCase{"'\\777'", "\xC7\xBF", false}, StringCase{"b'\\777'", "\xFF", true},
        StringCase{"'\\x41\\xe9'", "A\xC3\xA9", false}, StringCase{"b'\\x41\\xe9'", "A\xE9", true},
        StringCase{"'\\u00e9\\U0001F600'", "\xC3\xA9\xF0\x9F\x98\x80", false},
        // Bytes know no \u, \U or \N: the backslash stays.
        StringCase{"b'\\u00e9\\N{X}'", "\\u00e9\\N{X}", true},
        StringCase{"'\\N{LATIN SMALL LETTER A}\\N{EM DASH}'", "a\xE2\x80\x94", false},
        StringCase{"'\\N{latin small letter b}'", "b", false},
        // An unknown escape keeps its backslash.
        StringCase{"'\\d\\%'", "\\d\\%", false}, StringCase{"r'\\n\\x'", "\\n\\x", false},
        StringCase{"'a\\\nb'", "ab", false}, StringCase{"'''a\nb'''", "a\nb", false},
        StringCase{"'a\\\r\nb'", "ab", false},
        // Line breaks in a triple-quoted literal read as \n, raw or not.
        StringCase{"'''a\r\nb\rc'''", "a\nb\nc", false}, StringCase{"r'''a\r\nb'''", "a\nb", false},
        StringCase{"b'''a\r\n'''", "a\n", true},
        // Implicit concatenation joins pieces of any prefix and quoting, raw or not.
        StringCase{"'a' \"b\" '''c''' r'\\d' u'e'", "abc\\de", false},
        StringCase{"('a'\n 'b')", "ab", false}, StringCase{"b'a' rb'\\b' B'c'", "a\\bc", true},
        StringCase{"''", "", false}, StringCase{"'caf\xC3\xA9'", "caf\xC3\xA9", false}));

TEST(StringValue, MarksImplicitConcatenation) {
  auto one = parse_module("'ab'");
  auto two = parse_module("'a' 'b'");
  ASSERT_TRUE(one && two);
  EXPECT_FALSE(only_expr(*one)->as<StringLiteral>()->implicit_concatenated);
  EXPECT_TRUE(only_expr(*two)->as<StringLiteral>()->implicit_concatenated);
}

TEST(StringValue, RefusesBrokenEscapes) {
  struct Case {
    const char* source;
    const char* message;
    TextRange range;
  };
  const Case cases[] = {
      {"x = '\\x4'", "truncated \\xXX escape", {5, 7}},
      {"x = b'\\xg0'", "invalid \\x escape", {6, 8}},
      {"x = '\\u12'", "truncated \\uXXXX escape", {5, 7}},
      {"x = '\\U00110000'", "illegal Unicode character", {5, 7}},
      {"x = '\\N{NO SUCH CHARACTER NAME}'", "unknown Unicode character name", {5, 7}},
      {"x = '\\N'", "malformed \\N character escape", {5, 7}},
      {"x = '\\N{}'", "malformed \\N character escape", {5, 7}},
      {"x = 'ok' '\\x'", "truncated \\xXX escape", {10, 12}},
      {"x = f'{1}\\x'", "truncated \\xXX escape", {9, 11}},
  };
  for (const Case& c : cases) {
    auto parsed = parse_module(c.source);
    ASSERT_FALSE(parsed) << c.source;
    EXPECT_EQ(parsed.error().kind, ParseErrorKind::InvalidEscape) << c.source;
    EXPECT_EQ(parsed.error().message, c.message) << c.source;
    EXPECT_EQ(parsed.error().range, c.range) << c.source;
  }
}

struct IntCase {
  const char* source;
  uint64_t value;
  bool too_big;
};

class IntValue : public testing::TestWithParam<IntCase> {};

TEST_P(IntValue, ReadsTheValue) {
  auto parsed = parse_module(GetParam().source);
  ASSERT_TRUE(parsed) << GetParam().source;
  const auto* i = only_expr(*parsed)->as<IntLiteral>();
  ASSERT_NE(i, nullptr) << GetParam().source;
  EXPECT_EQ(i->value, GetParam().value) << GetParam().source;
  EXPECT_EQ(i->too_big, GetParam().too_big) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(Integers, IntValue,
                         testing::Values(IntCase{"0", 0, false}, IntCase{"00", 0, false},
                                         IntCase{"1_000_000", 1000000, false},
                                         IntCase{"0x_Ff", 255, false},
                                         IntCase{"0XdeadBEEF", 0xdeadbeef, false},
                                         IntCase{"0o17", 15, false}, IntCase{"0O_7_7", 63, false},
                                         IntCase{"0b1010", 10, false}, IntCase{"0B_1_1", 3, false},
                                         IntCase{"18446744073709551615", UINT64_MAX, false},
                                         IntCase{"18446744073709551616", 0, true},
                                         IntCase{"0xFFFFFFFFFFFFFFFF", UINT64_MAX, false},
                                         IntCase{"0x10000000000000000", 0, true},
                                         IntCase{"99999999999999999999999999", 0, true}));

TEST(NumberValue, ReadsFloatsAndImaginaryNumbers) {
  struct Case {
    const char* source;
    double value;
    bool imaginary;
  };
  const Case cases[] = {
      {"1.5", 1.5, false},      {"1_0.2_5", 10.25, false},  {".5", 0.5, false},
      {"1.", 1.0, false},       {"1e3", 1000.0, false},     {"1_0E-1_0", 1e-9, false},
      {"0777.0", 777.0, false}, {"2j", 2.0, true},          {"1.5J", 1.5, true},
      {"0777j", 777.0, true},   {"1e400", HUGE_VAL, false},
  };
  for (const Case& c : cases) {
    auto parsed = parse_module(c.source);
    ASSERT_TRUE(parsed) << c.source;
    const Expr* e = only_expr(*parsed);
    if (c.imaginary) {
      ASSERT_TRUE(e->is<ImaginaryLiteral>()) << c.source;
      EXPECT_DOUBLE_EQ(e->as<ImaginaryLiteral>()->imag, c.value) << c.source;
    } else {
      ASSERT_TRUE(e->is<FloatLiteral>()) << c.source;
      EXPECT_DOUBLE_EQ(e->as<FloatLiteral>()->value, c.value) << c.source;
    }
  }
}

TEST(NumberValue, RefusesMalformedNumbers) {
  struct Case {
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"0x", "invalid hexadecimal literal"},
      {"0x_", "invalid hexadecimal literal"},
      {"0b12", "invalid digit '2' in binary literal"},
      {"0o8", "invalid digit '8' in octal literal"},
      {"1__0", "invalid decimal literal"},
      {"1_", "invalid decimal literal"},
      {"1e+", "invalid decimal literal"},
      {"12abc", "invalid decimal literal"},
      {"1.__class__", "invalid decimal literal"},
      {"0777",
       "leading zeros in decimal integer literals are not permitted; use an 0o prefix "
       "for octal integers"},
  };
  for (const Case& c : cases) {
    auto parsed = parse_module(c.source);
    ASSERT_FALSE(parsed) << c.source;
    EXPECT_EQ(parsed.error().kind, ParseErrorKind::InvalidNumber) << c.source;
    EXPECT_EQ(parsed.error().message, c.message) << c.source;
  }
}

}  // namespace
}  // namespace korvane::python
