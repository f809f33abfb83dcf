// Token streams for the lexing rules the parser relies on: indentation, implicit and explicit
// line joining, and the modes of f-strings.
#include "python/lexer.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane::python {
namespace {

// Tokens written compactly: names and operators by their text, the rest by a short tag.
std::string lex(std::string_view source) {
  std::vector<Token> tokens;
  Lexer lexer(source, 0);
  lexer.run(tokens);
  std::string out;
  for (const Token& t : tokens) {
    if (!out.empty()) out += ' ';
    std::string_view text = source.substr(t.start, t.end - t.start);
    switch (t.kind) {
      case TokenKind::Newline:
        out += "NL";
        break;
      case TokenKind::Indent:
        out += "IN";
        break;
      case TokenKind::Dedent:
        out += "DE";
        break;
      case TokenKind::EndOfFile:
        out += "EOF";
        break;
      case TokenKind::Error:
        out += "ERR(" + lexer.error().kind_text() + ")";
        break;
      case TokenKind::FStringStart:
        out += "FS(" + std::string(text) + ")";
        break;
      case TokenKind::FStringMiddle:
        out += "FM(" + std::string(text) + ")";
        break;
      case TokenKind::FStringEnd:
        out += "FE";
        break;
      default:
        out += text;
    }
  }
  return out;
}

struct LexCase {
  const char* source;
  const char* want;
};

class LexerTokens : public testing::TestWithParam<LexCase> {};

TEST_P(LexerTokens, Produces) { EXPECT_EQ(lex(GetParam().source), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    Indentation, LexerTokens,
    testing::Values(LexCase{"if x:\n  a\n  b\nc\n", "if x : NL IN a NL b NL DE c NL EOF"},
                    // Blank and comment-only lines take no part in indentation.
                    LexCase{"if x:\n\n  # c\n      # d\n  a\n", "if x : NL IN a NL DE EOF"},
                    // A tab goes to the next multiple of eight, so tab and eight spaces agree.
                    LexCase{"if x:\n\ta\n\tb\n", "if x : NL IN a NL b NL DE EOF"},
                    LexCase{"if x:\n  if y:\n    a\nb",
                            "if x : NL IN if y : NL IN a NL DE DE b NL EOF"},
                    // A form feed resets the column.
                    LexCase{"if x:\n  a\n\f  b\n", "if x : NL IN a NL b NL DE EOF"},
                    // The missing final newline is supplied, then the open blocks close.
                    LexCase{"if x:\n  a", "if x : NL IN a NL DE EOF"}, LexCase{"", "EOF"},
                    LexCase{"# only a comment", "EOF"},
                    LexCase{"x\r\ny\rz\n", "x NL y NL z NL EOF"}));

INSTANTIATE_TEST_SUITE_P(
    LineJoining, LexerTokens,
    testing::Values(LexCase{"x = (1,\n  2)\n", "x = ( 1 , 2 ) NL EOF"},
                    LexCase{"x = [\n# c\n]\n", "x = [ ] NL EOF"},
                    LexCase{"x = 1 + \\\n  2\n", "x = 1 + 2 NL EOF"},
                    // Joined inside the indentation: the first backslash's column counts.
                    LexCase{"if x:\n  \\\n  a\n", "if x : NL IN a NL DE EOF"},
                    LexCase{"x = 1 \\",
                            "x = 1 ERR(InvalidLineContinuation { message: "
                            "\"unexpected EOF while parsing\" })"}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, LexerTokens,
    testing::Values(
        LexCase{"1if x else 2", "1 if x else 2 NL EOF"}, LexCase{"0x1for", "0x1f or NL EOF"},
        LexCase{"1.e5j 1..real", "1.e5j 1. . real NL EOF"}, LexCase{"1else", "1 else NL EOF"},
        LexCase{"1_000_000 0b_1 0o_7", "1_000_000 0b_1 0o_7 NL EOF"},
        LexCase{"1abc", "ERR(InvalidNumber { message: \"invalid decimal literal\" })"}));

INSTANTIATE_TEST_SUITE_P(
    Strings, LexerTokens,
    testing::Values(
        LexCase{"rb'\\'' U\"x\" '''a\n'b'''", "rb'\\'' U\"x\" '''a\n'b''' NL EOF"},
        LexCase{"br'x' Rb'x' bu'x'", "br'x' Rb'x' bu 'x' NL EOF"},
        // Literal text, fields, conversions and format specifiers are separate tokens.
        LexCase{"f'a{x!r:>{w}}b'", "FS(f') FM(a) { x ! r : FM(>) { w } } FM(b) FE NL EOF"},
        // Doubled braces stay literal text; a quote of the same kind may nest in a field.
        LexCase{"f'{{{x}}}'", "FS(f') FM({{) { x } FM(}}) FE NL EOF"},
        LexCase{"f'{x['k']}'", "FS(f') { x [ 'k' ] } FE NL EOF"},
        LexCase{"f'{f'{y}'}'", "FS(f') { FS(f') { y } FE } FE NL EOF"},
        // `:=` at the top of a field starts a format specifier; `!=` stays an operator.
        LexCase{"f'{x:=5}{a!=b}'", "FS(f') { x : FM(=5) } { a != b } FE NL EOF"},
        LexCase{"t'{x=}'", "FS(t') { x = } FE NL EOF"},
        LexCase{"rf'\\{x}'", "FS(rf') FM(\\) { x } FE NL EOF"},
        LexCase{"f'\\N{DIGIT ONE}{x}'", "FS(f') FM(\\N{DIGIT ONE}) { x } FE NL EOF"},
        // A line break in a single-quoted field is fine; in a format specifier it ends it.
        LexCase{"f'{x\n}'", "FS(f') { x } FE NL EOF"},
        LexCase{"f'{x:\n}'", "FS(f') { x : } FE NL EOF"},
        LexCase{"f'a\n'",
                "FS(f') ERR(UnterminatedString { message: \"unterminated f-string "
                "literal\" })"},
        LexCase{"'a\n'", "ERR(UnterminatedString { message: \"unterminated string literal\" })"},
        LexCase{"b'\xC3\xA9'",
                "ERR(InvalidSyntax { message: \"bytes can only contain ASCII "
                "literal characters\" })"}));

INSTANTIATE_TEST_SUITE_P(
    Names, LexerTokens,
    testing::Values(LexCase{"match case type _ await", "match case type _ await NL EOF"},
                    LexCase{"\xC3\xA9t\xC3\xA9 = 1", "\xC3\xA9t\xC3\xA9 = 1 NL EOF"},
                    LexCase{"a\xE2\x82\xAC", "ERR(InvalidCharacter { found: \"\xE2\x82\xAC\" })"},
                    LexCase{"a <> b", "a < > b NL EOF"}));

// The lexer's keyword and operator switches are written by hand against token_kinds.def: a
// spelling listed there that lexes to another kind, or to a shorter token, is a fault of one
// or the other.
TEST(Lexer, EverySpellingLexesToItsKind) {
  struct Row {
    TokenKind kind;
    std::string_view spelling;
  };
  const Row rows[] = {
#define PUNCTUATOR(Kind, Spelling) {TokenKind::Kind, Spelling},
#define KEYWORD(Kind, Spelling) {TokenKind::Kind, Spelling},
#include "python/token_kinds.def"
  };
  for (const Row& row : rows) {
    // A closing bracket lexes only after its opener.
    std::string_view opener = row.kind == TokenKind::RPar     ? "("
                              : row.kind == TokenKind::RSqb   ? "["
                              : row.kind == TokenKind::RBrace ? "{"
                                                              : "";
    std::string source = fmt::format("{}{}", opener, row.spelling);
    std::vector<Token> tokens;
    Lexer(source, 0).run(tokens);
    const Token& t = tokens.at(opener.empty() ? 0 : 1);
    EXPECT_EQ(t.kind, row.kind) << row.spelling;
    EXPECT_EQ(source.substr(t.start, t.end - t.start), row.spelling);
    EXPECT_EQ(token_kind_text(row.kind), fmt::format("'{}'", row.spelling));
  }
}

}  // namespace
}  // namespace korvane::python
