// The recursive-descent parser behind parse_module. Internal to the library.
//
// It reads the lexer's flat token array; the tiny vocabulary (at / eat / expect / bump / peek)
// is all it uses to move. Every parse function returns nullptr (or false) once an error is
// recorded; the first error wins. Backtracking (the soft keyword `match`, parenthesised `with`
// items) saves and restores the token position.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "python/arena.h"
#include "python/ast.h"
#include "python/parse_error.h"
#include "python/parser.h"
#include "python/token.h"

namespace korvane::python {

// What an error path returns: nullptr to functions returning a node, false to the others.
struct Failed {
  template <class T>
  operator T*() const {  // NOLINT
    return nullptr;
  }
  operator bool() const { return false; }  // NOLINT
};

class Lexer;

class Parser {
 public:
  // With `outline`, definitions are parsed into the arena's scratch and only their outline kept.
  Parser(std::string_view source, const std::vector<Token>& tokens, const ParseError& lex_error,
         Arena& arena, bool outline = false);
  // The module's statements, or false with error() set. The parser reads `tokens` as `lexer`
  // fills it on demand and drops the tokens behind each top-level statement, so the tree is the
  // only thing that grows with the text.
  bool parse_file(Lexer& lexer, std::vector<Token>& tokens, std::vector<Stmt*>* body);
  // The same parse, but each top-level statement goes to `visit`, then the arena is reset.
  bool parse_file_streaming(Lexer& lexer, std::vector<Token>& tokens,
                            const StatementVisitor& visit);
  ParseError& error() { return error_; }

  // How deep expressions may nest before the parser refuses them, keeping the stack small.
  static constexpr uint32_t kMaxDepth = 1000;

 private:
  friend struct DepthGuard;
  // What a target is for: the messages and the allowed forms differ.
  enum class TargetUse : uint8_t { Assign, AugAssign, Annotated, Delete, For, With, Comprehension };

  // ---- Vocabulary (parser.cpp) ----
  const Token& cur() const { return toks_[pos_]; }
  TokenKind kind() const { return toks_[pos_].kind; }
  bool at(TokenKind k) const { return toks_[pos_].kind == k; }
  const Token& peek(uint32_t n = 1) const {
    return pos_ + n < toks_.size() ? toks_[pos_ + n] : toks_.back();
  }
  const Token& bump() {
    const Token& t = toks_[pos_];
    if (pos_ + 1 < toks_.size()) ++pos_;
    return t;
  }
  bool eat(TokenKind k) {
    if (!at(k)) return false;
    bump();
    return true;
  }
  bool expect(TokenKind k);
  std::string_view text(const Token& t) const { return src_.substr(t.start, t.end - t.start); }
  bool at_soft_keyword(std::string_view word) const {
    return at(TokenKind::Name) && text(cur()) == word;
  }
  uint32_t prev_end() const { return pos_ > 0 ? toks_[pos_ - 1].end : 0; }
  bool failed() const { return failed_; }
  // A loop whose body succeeded without consuming a token would never end: that is a bug in
  // the parser, so it stops the process instead of hanging it.
  void progress_guard(uint32_t before) const {
    if (pos_ == before) {
      std::fprintf(stderr, "korvane python parser: no progress at byte %u\n", cur().start);
      std::abort();
    }
  }

  // Lexes on until `tokens` holds the whole top-level statement at `from` and a few tokens past
  // it, or the whole text; `top_lines` are the lexer's starts of lines at indentation zero, from
  // which those before `from` are dropped. Returns whether the lexer has more to give.
  // Parses the top-level statements one by one; `on_statement(mark)` sees each one's nodes on
  // the stack from `mark` before the tokens behind it are dropped.
  template <class OnStatement>
  bool parse_top_level(Lexer& lexer, std::vector<Token>& tokens, OnStatement on_statement);
  static bool lex_statement(Lexer& lexer, std::vector<Token>& tokens,
                            std::vector<size_t>& top_lines, size_t from, bool lexing);

  // ---- Errors (parser.cpp) ----
  Failed unexpected(std::string_view expected = {});
  Failed syntax_error(TextRange range, std::string message,
                      ParseErrorKind kind = ParseErrorKind::InvalidSyntax);
  Failed syntax_error(const Token& t, std::string message) {
    return syntax_error(TextRange{t.start, t.end}, std::move(message));
  }

  // ---- Allocation helpers ----
  template <class T>
  T* node(uint32_t start) {
    T* n = arena_.make<T>();
    n->kind = T::kKind;
    n->range = {start, prev_end()};
    return n;
  }
  template <class T>
  T* node(uint32_t start, uint32_t end) {
    T* n = arena_.make<T>();
    n->kind = T::kKind;
    n->range = {start, end};
    return n;
  }
  template <class T>
  T* record(uint32_t start) {
    T* n = arena_.make<T>();
    n->range = {start, prev_end()};
    return n;
  }
  // Scratch stacks: children are pushed here, then copied to the arena as a span.
  template <class T>
  std::span<T* const> take(std::vector<void*>& stack, size_t mark) {
    auto n = stack.size() - mark;
    if (n == 0) return {};
    auto* p = static_cast<T**>(arena_.allocate(sizeof(T*) * n, alignof(T*)));
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<T*>(stack[mark + i]);
    stack.resize(mark);
    return {p, n};
  }
  std::string_view identifier(const Token& t);

  // ---- Statements (parse_stmt.cpp) ----
  bool parse_statements_until(TokenKind end);
  bool parse_statement();
  bool parse_simple_statements();
  Stmt* parse_simple_statement();
  Stmt* parse_expression_statement();
  Stmt* parse_import();
  Stmt* parse_from_import();
  bool parse_dotted_name(std::string_view* out);
  Stmt* parse_name_list_stmt(bool global);
  Stmt* parse_del();
  Stmt* parse_type_alias();
  bool parse_block(StmtList* out);

  // ---- Compound statements (parse_compound.cpp) ----
  Stmt* parse_compound(bool* handled);
  bool at_definition() const;
  bool parse_definition_outline();
  Stmt* parse_if();
  Stmt* parse_while();
  Stmt* parse_for(uint32_t start, bool is_async);
  Stmt* parse_with(uint32_t start, bool is_async);
  bool parse_with_items(bool parenthesized);
  Stmt* parse_try();
  Stmt* parse_decorated();
  Stmt* parse_def(uint32_t start, bool is_async, ExprList decorators);
  Stmt* parse_class(uint32_t start, ExprList decorators);
  Arguments* parse_parameters(TokenKind close, bool lambda);
  Arg* parse_param(bool lambda, bool star);
  bool parse_type_params(std::span<TypeParam* const>* out);
  Stmt* parse_match();

  // ---- Expressions (parse_expr.cpp) ----
  Expr* parse_star_expressions();  // a, *b, c (a Tuple when there is a comma)
  Expr* parse_star_expression();   // *bitwise_or | expression
  Expr* parse_star_named_expression();
  Expr* parse_named_expression();
  Expr* parse_expression();
  // At a name or constant that the next token shows to be a whole expression.
  bool lone_atom() const;
  Expr* parse_yield();
  Expr* parse_lambda();
  Expr* parse_disjunction();
  Expr* parse_conjunction();
  Expr* parse_inversion();
  Expr* parse_comparison();
  Expr* parse_bitwise_or();
  Expr* parse_binary(int min_prec);
  Expr* parse_factor();
  Expr* parse_power();
  Expr* parse_primary();
  Expr* parse_trailers(Expr* e, uint32_t start);
  Expr* parse_call(Expr* func, uint32_t start);
  Expr* parse_subscript(Expr* value, uint32_t start);
  Expr* parse_slice();
  Expr* parse_star_targets_for(bool allow_tuple = true);  // for / comprehension / with targets
  Expr* parse_tuple_rest(Expr* first, uint32_t start, Expr* (Parser::*element)());

  // ---- Atoms and displays (parse_atom.cpp) ----
  Expr* parse_atom();
  Expr* parse_paren();
  Expr* parse_list();
  Expr* parse_brace();
  Expr* parse_dict_rest(uint32_t start, size_t mark);
  bool parse_comprehension_clauses(std::span<Comprehension* const>* out);
  Expr* parse_number(const Token& t);

  // ---- Strings (parse_string.cpp) ----
  Expr* parse_strings();
  struct StringParts;
  bool parse_fstring(StringParts& parts);
  Expr* parse_fstring_field(bool is_template, bool raw, std::string_view* debug);
  bool decode_middle(const Token& t, bool raw, std::string& out);
  std::string_view source_text(uint32_t start, uint32_t first, uint32_t last, uint32_t end);
  Expr* parse_format_spec(bool raw);
  bool decode_literal(const Token& t, std::string& out, bool* bytes);

  // ---- Targets (parse_target.cpp) ----
  bool to_target(Expr* e, TargetUse use);
  const char* expression_name(const Expr* e) const;

  // ---- Patterns (parse_pattern.cpp) ----
  Pattern* parse_patterns();
  Pattern* parse_pattern();
  Pattern* parse_or_pattern();
  Pattern* parse_closed_pattern();
  Pattern* parse_sequence_pattern(TokenKind close, uint32_t start);
  Pattern* parse_mapping_pattern();
  Pattern* parse_class_pattern(Expr* cls, uint32_t start);
  Expr* parse_literal_expr(bool* ok);
  Expr* parse_name_or_attr();
  Pattern* parse_maybe_star_pattern();
  bool capture_name(const Token& t, std::string_view* out);

  std::string_view src_;
  const std::vector<Token>& toks_;
  const ParseError& lex_error_;
  Arena& arena_;
  uint32_t pos_ = 0;
  uint32_t depth_ = 0;
  uint32_t last_stmt_end_ = 0;  // end of the last statement of the block parsed last
  bool failed_ = false;
  const bool outline_;       // keep only the outline of definitions
  bool in_outline_ = false;  // inside a definition whose nodes go to scratch
  ParseError error_;
  std::vector<void*> stack_;  // children of the node being built
  std::vector<int> scratch_;  // small per-node lists (comparison operators)
};

// Counts recursion; the parse fails with TooDeeplyNested past kMaxDepth.
struct DepthGuard {
  explicit DepthGuard(Parser& p) : parser(p) { ++parser.depth_; }
  ~DepthGuard() { --parser.depth_; }
  bool too_deep() const { return parser.depth_ > Parser::kMaxDepth; }
  Parser& parser;
};

// Decodes the body of a string or bytes literal (between its quotes) onto `out`. On an invalid
// escape, returns false and sets `message` and `error_offset` (relative to `body`).
bool decode_string_body(std::string_view body, bool raw, bool bytes, std::string& out,
                        std::string& message, size_t* error_offset);

}  // namespace korvane::python
