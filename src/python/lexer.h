// Turns a whole Python source text into tokens.
//
//   std::vector<Token> tokens;
//   Lexer lexer(source, bom_length);
//   lexer.run(tokens);   // ends with EndOfFile, or with Error at the first lexical error
//   if (tokens.back().kind == TokenKind::Error) report(lexer.error());
//
// Indentation, newlines inside brackets, line joining, and the modes of f- and t-strings
// (literal text, replacement fields, format specifiers) are all resolved here, so the parser reads
// a flat token array and may backtrack over it freely.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "python/parse_error.h"
#include "python/token.h"

namespace korvane::python {

class Lexer {
 public:
  Lexer(std::string_view source, uint32_t start);
  void run(std::vector<Token>& out);
  // Lexing on demand instead: begin() once, then each step() appends the next few tokens (maybe
  // none) and returns false once the text is done (EndOfFile or Error appended). Tokens behind the
  // last one may be erased from `out` between steps. `top_lines` gets the index in `out` of the
  // first token of each line at indentation zero (there top-level statements may start).
  void begin(std::vector<Token>& out, std::vector<size_t>& top_lines) {
    out_ = &out;
    top_lines_ = &top_lines;
  }
  bool step() { return next_token(); }
  const ParseError& error() const { return error_; }

  // Python's limits: open brackets at once, indentation levels, f-strings nested (the
  // outermost counts, so 149 may be open at once).
  static constexpr uint32_t kMaxBrackets = 200;
  static constexpr uint32_t kMaxIndent = 100;
  static constexpr uint32_t kMaxFStringNesting = 150;

 private:
  enum class Mode : uint8_t { FString, Field, FormatSpec };
  struct ModeEntry {
    Mode mode;
    char quote;
    bool triple;
    bool raw;
    uint32_t bracket_level;  // bracket depth just after the field's '{'
    bool had_field = false;  // FormatSpec: a nested field has been seen
  };

  // lexer.cpp
  bool next_token();
  bool lex_operator();
  bool lex_name();
  bool skip_trivia();
  void skip_comment();
  void emit(TokenKind kind, uint32_t start, uint8_t flags = 0);
  bool fail(ParseErrorKind kind, uint32_t start, uint32_t end, std::string message = {});
  bool open_bracket(char c);
  bool close_bracket(char c);
  // lexer_indent.cpp
  bool at_line_start();
  bool measure_indent(uint32_t* col, uint32_t* alt);
  bool finish();
  // lexer_strings.cpp
  bool lex_string(uint32_t start, uint32_t quote_pos, uint8_t flags, bool fstring);
  bool lex_fstring_literal();
  bool fstring_field_delimiter();
  // lexer_numbers.cpp
  bool lex_number();
  bool lex_prefixed_number();
  bool lex_decimal_number();
  bool number_end(uint32_t start);

  char peek(uint32_t ahead = 0) const {
    return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : '\0';
  }
  bool at_end() const { return pos_ >= src_.size(); }

  std::string_view src_;
  uint32_t pos_;
  std::vector<Token>* out_ = nullptr;
  std::vector<size_t>* top_lines_ = nullptr;
  ParseError error_;
  bool line_start_ = true;
  bool line_has_tokens_ = false;
  std::vector<char> brackets_;
  std::vector<uint32_t> brackets_at_;
  std::vector<uint32_t> indents_{0};
  std::vector<uint32_t> alt_indents_{0};
  std::vector<ModeEntry> modes_;
};

// Identifier characters beyond ASCII, by Unicode's XID properties.
bool is_identifier_start(uint32_t cp);
bool is_identifier_continue(uint32_t cp);

}  // namespace korvane::python
