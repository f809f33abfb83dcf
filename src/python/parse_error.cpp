#include "python/parse_error.h"

#include <fmt/format.h>

namespace korvane::python {
namespace {

// Written as a quoted, escaped text so a detail holding quotes or control characters stays
// readable on one log line.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += fmt::format("\\u{{{:x}}}", c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace

std::string_view parse_error_kind_name(ParseErrorKind kind) {
  switch (kind) {
    case ParseErrorKind::SourceTooLarge:
      return "SourceTooLarge";
    case ParseErrorKind::UnexpectedToken:
      return "UnexpectedToken";
    case ParseErrorKind::InvalidSyntax:
      return "InvalidSyntax";
    case ParseErrorKind::InvalidCharacter:
      return "InvalidCharacter";
    case ParseErrorKind::UnterminatedString:
      return "UnterminatedString";
    case ParseErrorKind::InvalidEscape:
      return "InvalidEscape";
    case ParseErrorKind::InvalidNumber:
      return "InvalidNumber";
    case ParseErrorKind::InvalidFString:
      return "InvalidFString";
    case ParseErrorKind::ExpectedIndent:
      return "ExpectedIndent";
    case ParseErrorKind::UnexpectedIndent:
      return "UnexpectedIndent";
    case ParseErrorKind::UnindentMismatch:
      return "UnindentMismatch";
    case ParseErrorKind::InconsistentTabs:
      return "InconsistentTabs";
    case ParseErrorKind::UnmatchedBracket:
      return "UnmatchedBracket";
    case ParseErrorKind::MismatchedBracket:
      return "MismatchedBracket";
    case ParseErrorKind::UnclosedBracket:
      return "UnclosedBracket";
    case ParseErrorKind::TooManyNestedParentheses:
      return "TooManyNestedParentheses";
    case ParseErrorKind::TooDeeplyNested:
      return "TooDeeplyNested";
    case ParseErrorKind::InvalidLineContinuation:
      return "InvalidLineContinuation";
  }
  return "InvalidSyntax";
}

std::string ParseError::kind_text() const {
  std::string name(parse_error_kind_name(kind));
  switch (kind) {
    case ParseErrorKind::SourceTooLarge:
      return fmt::format("{} {{ size: {} }}", name, size);
    case ParseErrorKind::UnexpectedToken:
    case ParseErrorKind::MismatchedBracket:
      if (expected.empty()) return fmt::format("{} {{ found: {} }}", name, quoted(found));
      return fmt::format("{} {{ expected: {}, found: {} }}", name, quoted(expected), quoted(found));
    case ParseErrorKind::InvalidCharacter:
    case ParseErrorKind::UnmatchedBracket:
      return fmt::format("{} {{ found: {} }}", name, quoted(found));
    case ParseErrorKind::UnclosedBracket:
      return fmt::format("{} {{ expected: {} }}", name, quoted(expected));
    case ParseErrorKind::InvalidSyntax:
    case ParseErrorKind::InvalidEscape:
    case ParseErrorKind::InvalidNumber:
    case ParseErrorKind::InvalidFString:
      return fmt::format("{} {{ message: {} }}", name, quoted(message));
    default:
      if (message.empty()) return name;
      return fmt::format("{} {{ message: {} }}", name, quoted(message));
  }
}

}  // namespace korvane::python
