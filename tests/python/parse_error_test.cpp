// The first error of a source: its kind, its byte range and how it renders.
#include "python/parse_error.h"

#include <gtest/gtest.h>

#include <string>

#include "python/parser.h"

namespace korvane::python {
namespace {

struct ErrorCase {
  const char* source;
  const char* kind_text;
  TextRange range;
};

class FirstError : public testing::TestWithParam<ErrorCase> {};

TEST_P(FirstError, ReportsKindAndRange) {
  const ErrorCase& c = GetParam();
  auto parsed = parse_module(c.source);
  ASSERT_FALSE(parsed) << c.source;
  EXPECT_EQ(parsed.error().kind_text(), c.kind_text) << c.source;
  EXPECT_EQ(parsed.error().range, c.range) << c.source;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, FirstError,
    testing::Values(
        ErrorCase{
            "def f()\n  pass\n", "UnexpectedToken { expected: \":\", found: \"newline\" }", {7, 8}},
        ErrorCase{"x = (1,\n", "UnclosedBracket { expected: \")\" }", {4, 5}},
        ErrorCase{"x = [1)\n", "MismatchedBracket { expected: \"]\", found: \")\" }", {6, 7}},
        ErrorCase{"x = 1)\n", "UnmatchedBracket { found: \")\" }", {5, 6}},
        ErrorCase{"x = $\n", "InvalidCharacter { found: \"$\" }", {4, 5}},
        ErrorCase{"x = \xE2\x82\xAC\n", "InvalidCharacter { found: \"\xE2\x82\xAC\" }", {4, 7}},
        ErrorCase{"x = 'abc\n",
                  "UnterminatedString { message: \"unterminated string literal\" }",
                  {4, 8}},
        ErrorCase{"x = 1 +\\\n",
                  "InvalidLineContinuation { message: \"unexpected EOF while parsing\" }",
                  {7, 9}},
        ErrorCase{"x = 1 \\ 2\n",
                  "InvalidLineContinuation { message: \"unexpected character after line "
                  "continuation character\" }",
                  {6, 7}},
        ErrorCase{"x = 1 '''a very long string literal that goes on and on'''\n",
                  "UnexpectedToken { expected: \"newline\", found: \"'''a very long string "
                  "literal that go...\" }",
                  {6, 58}},
        ErrorCase{
            "print 'x'\n", "UnexpectedToken { expected: \"newline\", found: \"'x'\" }", {6, 9}},
        // A lexical error after a syntax error is not reached: the syntax error comes first.
        ErrorCase{"x = = 1\ny = 'open\n",
                  "UnexpectedToken { expected: \"expression\", found: "
                  "\"=\" }",
                  {4, 5}}));

INSTANTIATE_TEST_SUITE_P(
    Indentation, FirstError,
    testing::Values(
        ErrorCase{" x = 1\n", "UnexpectedIndent", {0, 1}},
        ErrorCase{
            "if x:\npass\n", "ExpectedIndent { message: \"expected an indented block\" }", {6, 10}},
        ErrorCase{
            "if x:\n    a\n  b\n",
            "UnindentMismatch { message: \"unindent does not match any outer indentation level\" }",
            {12, 14}},
        ErrorCase{
            "if x:\n        a\n\tb\n",
            "InconsistentTabs { message: \"inconsistent use of tabs and spaces in indentation\" }",
            {16, 17}},
        ErrorCase{
            "if x:\n\ta\n        b\n",
            "InconsistentTabs { message: \"inconsistent use of tabs and spaces in indentation\" }",
            {9, 17}}));

INSTANTIATE_TEST_SUITE_P(
    Grammar, FirstError,
    testing::Values(
        ErrorCase{
            "f() = 1\n", "InvalidSyntax { message: \"cannot assign to function call\" }", {0, 3}},
        ErrorCase{"del *a\n", "InvalidSyntax { message: \"cannot delete starred\" }", {4, 6}},
        ErrorCase{"a, b += 1\n",
                  "InvalidSyntax { message: \"'tuple' is an illegal expression for augmented "
                  "assignment\" }",
                  {0, 4}},
        ErrorCase{"for x() in y: pass\n",
                  "InvalidSyntax { message: \"cannot assign to function call\" }",
                  {4, 7}},
        ErrorCase{"with a as 1: pass\n",
                  "InvalidSyntax { message: \"cannot assign to literal\" }",
                  {10, 11}},
        ErrorCase{
            "[x for 1 in y]\n", "InvalidSyntax { message: \"cannot assign to literal\" }", {7, 8}},
        ErrorCase{"a, b: int\n",
                  "InvalidSyntax { message: \"only single target (not tuple) can be annotated\" }",
                  {0, 4}},
        ErrorCase{"f(a=1, b)\n",
                  "InvalidSyntax { message: \"positional argument follows keyword argument\" }",
                  {7, 8}},
        ErrorCase{"f(**a, *b)\n",
                  "InvalidSyntax { message: \"iterable argument unpacking follows keyword "
                  "argument unpacking\" }",
                  {7, 9}},
        ErrorCase{"f(x for x in y, 1)\n",
                  "InvalidSyntax { message: \"Generator expression must be parenthesized\" }",
                  {2, 14}},
        ErrorCase{"def f(a=1, b): pass\n",
                  "InvalidSyntax { message: \"parameter without a default follows parameter "
                  "with a default\" }",
                  {11, 12}},
        ErrorCase{"def f(*): pass\n",
                  "InvalidSyntax { message: \"named arguments must follow bare *\" }",
                  {6, 7}},
        ErrorCase{
            "(*a)\n", "InvalidSyntax { message: \"cannot use starred expression here\" }", {1, 3}},
        ErrorCase{"from a import b,\n",
                  "InvalidSyntax { message: \"trailing comma not allowed without surrounding "
                  "parentheses\" }",
                  {15, 16}},
        ErrorCase{"match x:\n case 1 as _: pass\n",
                  "InvalidSyntax { message: \"cannot use '_' as a target\" }",
                  {20, 21}},
        ErrorCase{"match x:\n case 1 + 2: pass\n",
                  "InvalidSyntax { message: \"imaginary number required in complex literal\" }",
                  {19, 20}},
        ErrorCase{"try: pass\nexcept E: pass\nexcept* F: pass\n",
                  "InvalidSyntax { message: \"cannot have both 'except' and 'except*' on the "
                  "same 'try'\" }",
                  {25, 31}},
        ErrorCase{"f'{x!z}'\n",
                  "InvalidSyntax { message: \"f-string: invalid conversion character 'z': "
                  "expected 's', 'r', or 'a'\" }",
                  {5, 6}},
        ErrorCase{"f'{}'\n",
                  "InvalidSyntax { message: \"f-string: valid expression required before '}'\" }",
                  {3, 4}},
        ErrorCase{"f'}'\n",
                  "InvalidFString { message: \"f-string: single '}' is not allowed\" }",
                  {2, 3}},
        ErrorCase{"f'{x:{y:{z:{w}}}}'\n",
                  "InvalidFString { message: \"f-string: expressions nested too deeply\" }",
                  {11, 12}}));

// Nesting is refused with an error instead of exhausting the stack.
TEST(FirstErrorDepth, BoundsNesting) {
  struct Case {
    std::string source;
    ParseErrorKind kind;
  };
  const Case cases[] = {
      {std::string(201, '(') + std::string(201, ')'), ParseErrorKind::TooManyNestedParentheses},
      {std::string(100000, '-') + "1", ParseErrorKind::TooDeeplyNested},
      {[] {
         std::string s;
         for (int i = 0; i < 100000; ++i) s += "not ";
         return s + "x";
       }(),
       ParseErrorKind::TooDeeplyNested},
      {[] {
         std::string s;
         for (int i = 0; i < 100000; ++i) s += "lambda: ";
         return s + "x";
       }(),
       ParseErrorKind::TooDeeplyNested},
      {[] {
         std::string s;
         for (int i = 0; i < 101; ++i) s += std::string(i, ' ') + "if x:\n";
         return s + std::string(101, ' ') + "pass\n";
       }(),
       ParseErrorKind::TooDeeplyNested},
  };
  for (const Case& c : cases) {
    auto parsed = parse_module(c.source);
    ASSERT_FALSE(parsed) << c.source.substr(0, 40);
    EXPECT_EQ(parsed.error().kind, c.kind) << c.source.substr(0, 40);
  }
  auto nested_fstrings = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "f\"{";
    s += "x";
    for (int i = 0; i < n; ++i) s += "}\"";
    return s;
  };
  auto too_many = parse_module(nested_fstrings(150));
  ASSERT_FALSE(too_many);
  EXPECT_EQ(too_many.error().message, "too many nested f-strings");
  EXPECT_TRUE(parse_module(nested_fstrings(149)));
  // Just inside the bounds still parses.
  EXPECT_TRUE(parse_module(std::string(200, '(') + std::string(200, ')')));
  EXPECT_TRUE(parse_module(std::string(500, '-') + "1"));
}

TEST(FirstErrorSize, RefusesFourGibibytes) {
  // Only the length is looked at before refusing, so the view need not be backed by memory.
  static const char byte = 'x';
  std::string_view huge(&byte, size_t{1} << 32);
  auto parsed = parse_module(huge);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().kind_text(), "SourceTooLarge { size: 4294967296 }");
}

TEST(ParseErrorText, QuotesDetails) {
  ParseError e;
  e.kind = ParseErrorKind::UnexpectedToken;
  e.expected = ":";
  e.found = "\"a\\b\"\n";
  EXPECT_EQ(e.kind_text(), R"(UnexpectedToken { expected: ":", found: "\"a\\b\"\n" })");
  e.kind = ParseErrorKind::InvalidNumber;
  e.message = "invalid decimal literal";
  EXPECT_EQ(e.kind_text(), R"(InvalidNumber { message: "invalid decimal literal" })");
}

}  // namespace
}  // namespace korvane::python
