// The first syntax error of a source text.
//
//   auto parsed = parse_module(text);
//   if (!parsed) log(parsed.error().kind_text(), parsed.error().range);
//
// `kind_text()` renders the kind with its details, e.g.
// `UnexpectedToken { expected: ":", found: "newline" }`; a kind whose only detail is a message
// renders as `Kind { message: "..." }`, or as its bare name when it has none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "python/ast.h"

namespace korvane::python {

enum class ParseErrorKind : uint8_t {
  // The source is 4 GiB or larger: byte offsets would not fit 32 bits. Detail: `size`.
  SourceTooLarge,
  // A token the grammar does not allow here. Details: `expected` (may be empty), `found`.
  UnexpectedToken,
  // A construct the grammar rejects, with Python's own wording. Detail: `message`
  // ("cannot assign to function call", "positional argument follows keyword argument").
  InvalidSyntax,
  // A character that starts no token (`$`, `?`, a non-identifier code point). Detail: `found`.
  InvalidCharacter,
  // A string whose closing quote is missing on its line (or, triple-quoted, before the end).
  // Detail: `message`.
  UnterminatedString,
  // An escape that cannot be decoded (`\x4`, `\N{no such name}`). Detail: `message`.
  InvalidEscape,
  // A malformed number (`0x`, `1__0`, `09`, `1e`). Detail: `message`.
  InvalidNumber,
  // An error inside an f-string or t-string. Detail: `message`.
  InvalidFString,
  // An indented block is missing after a `:` that opens one. Detail: `message`.
  ExpectedIndent,
  // A line is indented more than the block it is in.
  UnexpectedIndent,
  // A dedent to a column that no enclosing block uses. Detail: `message`.
  UnindentMismatch,
  // Tabs and spaces mixed so that the indentation depends on the tab size. Detail: `message`.
  InconsistentTabs,
  // A closing bracket with no open bracket. Detail: `found`.
  UnmatchedBracket,
  // A closing bracket of the wrong kind. Details: `expected`, `found`.
  MismatchedBracket,
  // The text ends inside an open bracket. Detail: `expected` (the closing bracket).
  UnclosedBracket,
  // More brackets open at once than Python allows (200). Detail: `message`.
  TooManyNestedParentheses,
  // Expressions nested deeper than the parser's recursion bound, or more than 100 levels of
  // indentation. Detail: `message`.
  TooDeeplyNested,
  // A backslash that continues no line (followed by end of input or not by a newline).
  // Detail: `message`.
  InvalidLineContinuation,
};

struct ParseError {
  ParseErrorKind kind = ParseErrorKind::InvalidSyntax;
  TextRange range;
  std::string expected;
  std::string found;
  std::string message;
  uint64_t size = 0;

  // The kind's name with its details, as a record: `InvalidSyntax { message: "..." }`.
  std::string kind_text() const;
};

// The name of a kind without details ("UnexpectedToken").
std::string_view parse_error_kind_name(ParseErrorKind kind);

}  // namespace korvane::python
