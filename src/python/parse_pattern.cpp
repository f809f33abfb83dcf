// The match statement and its patterns.
#include <string>
#include <vector>

#include "python/parser_impl.h"

namespace korvane::python {

bool parser_starts_expression(TokenKind k);

Stmt* Parser::parse_match() {
  // `match` is a soft keyword: only `match <subject>:` and a new line make a statement; any
  // other shape leaves the caller to read `match` as a name.
  uint32_t start = bump().start;
  if (!parser_starts_expression(kind()) || at(TokenKind::Lambda)) return nullptr;
  uint32_t s_start = cur().start;
  // A subject that fails half way may leave nodes on the stack; they must not outlive the
  // backtrack, or they would surface as statements of the enclosing block.
  const size_t stack_mark = stack_.size();
  Expr* subject = parse_star_named_expression();
  if (subject && at(TokenKind::Comma)) {
    subject = parse_tuple_rest(subject, s_start, &Parser::parse_star_named_expression);
  }
  if (!subject || subject->kind == NodeKind::Starred || !at(TokenKind::Colon) ||
      peek().kind != TokenKind::Newline) {
    failed_ = false;
    error_ = ParseError{};
    stack_.resize(stack_mark);
    return nullptr;
  }
  bump();
  bump();
  if (!at(TokenKind::Indent)) {
    if (at(TokenKind::Error)) return unexpected();
    return syntax_error(TextRange{cur().start, cur().end}, "expected an indented block",
                        ParseErrorKind::ExpectedIndent);
  }
  bump();
  size_t mark = stack_.size();
  do {
    if (!at_soft_keyword("case")) return unexpected("'case'");
    uint32_t c_start = bump().start;
    auto* c = arena_.make<MatchCase>();
    if (!(c->pattern = parse_patterns())) return nullptr;
    if (eat(TokenKind::If) && !(c->guard = parse_named_expression())) return nullptr;
    if (!expect(TokenKind::Colon) || !parse_block(&c->body)) return nullptr;
    c->range = {c_start, last_stmt_end_};
    stack_.push_back(c);
  } while (!at(TokenKind::Dedent));
  bump();
  auto* m = node<Match>(start, last_stmt_end_);
  m->subject = subject;
  m->cases = take<MatchCase>(stack_, mark);
  return m;
}

Pattern* Parser::parse_patterns() {
  uint32_t start = cur().start;
  Pattern* first = parse_maybe_star_pattern();
  if (!first) return nullptr;
  if (!at(TokenKind::Comma)) {
    if (first->kind == NodeKind::MatchStar) {
      return syntax_error(first->range, "star pattern must be inside a sequence");
    }
    return first;
  }
  size_t mark = stack_.size();
  stack_.push_back(first);
  while (eat(TokenKind::Comma)) {
    if (at(TokenKind::Colon) || at(TokenKind::If)) break;
    Pattern* p = parse_maybe_star_pattern();
    if (!p) return nullptr;
    stack_.push_back(p);
  }
  auto* s = node<MatchSequence>(start);
  s->patterns = take<Pattern>(stack_, mark);
  return s;
}

bool Parser::capture_name(const Token& t, std::string_view* out) {
  if (t.kind != TokenKind::Name) {
    unexpected("name");
    return false;
  }
  *out = identifier(t);
  return true;
}

Pattern* Parser::parse_maybe_star_pattern() {
  if (!at(TokenKind::Star)) return parse_pattern();
  uint32_t start = bump().start;
  std::string_view name;
  if (!capture_name(cur(), &name)) return nullptr;
  bump();
  auto* s = node<MatchStar>(start);
  s->name = name == "_" ? std::string_view{} : name;
  return s;
}

Pattern* Parser::parse_pattern() {
  uint32_t start = cur().start;
  Pattern* p = parse_or_pattern();
  if (!p || !eat(TokenKind::As)) return p;
  std::string_view name;
  if (!capture_name(cur(), &name)) return nullptr;
  if (name == "_") return syntax_error(cur(), "cannot use '_' as a target");
  bump();
  if (at(TokenKind::Dot) || at(TokenKind::LPar) || at(TokenKind::Equal)) {
    return syntax_error(cur(), "invalid pattern target");
  }
  auto* a = node<MatchAs>(start);
  a->pattern = p;
  a->name = name;
  return a;
}

Pattern* Parser::parse_or_pattern() {
  uint32_t start = cur().start;
  Pattern* first = parse_closed_pattern();
  if (!first || !at(TokenKind::VBar)) return first;
  size_t mark = stack_.size();
  stack_.push_back(first);
  while (eat(TokenKind::VBar)) {
    Pattern* p = parse_closed_pattern();
    if (!p) return nullptr;
    stack_.push_back(p);
  }
  auto* o = node<MatchOr>(start);
  o->patterns = take<Pattern>(stack_, mark);
  return o;
}

// A literal usable as a pattern or mapping key: a signed number, a complex literal written
// `a + bj`, strings, None, True or False.
Expr* Parser::parse_literal_expr(bool* ok) {
  *ok = true;
  uint32_t start = cur().start;
  switch (kind()) {
    case TokenKind::String:
    case TokenKind::FStringStart:
      return parse_strings();
    case TokenKind::None: {
      const Token& t = bump();
      return node<NoneLiteral>(t.start, t.end);
    }
    case TokenKind::True:
    case TokenKind::False: {
      const Token& t = bump();
      auto* b = node<BooleanLiteral>(t.start, t.end);
      b->value = t.kind == TokenKind::True;
      return b;
    }
    case TokenKind::Minus:
    case TokenKind::Number:
      break;
    default:
      *ok = false;
      return nullptr;
  }
  bool neg = eat(TokenKind::Minus);
  if (!at(TokenKind::Number)) return unexpected("number");
  Expr* num = parse_number(bump());
  if (!num) return nullptr;
  Expr* left = num;
  if (neg) {
    auto* u = node<UnaryOp>(start);
    u->op = UnaryOperator::USub;
    u->operand = num;
    left = u;
  }
  if (!at(TokenKind::Plus) && !at(TokenKind::Minus)) return left;
  if (num->kind == NodeKind::ImaginaryLiteral) {
    return syntax_error(num->range, "real number required in complex literal");
  }
  Operator op = bump().kind == TokenKind::Plus ? Operator::Add : Operator::Sub;
  if (!at(TokenKind::Number)) return unexpected("number");
  Expr* imag = parse_number(bump());
  if (!imag) return nullptr;
  if (imag->kind != NodeKind::ImaginaryLiteral) {
    return syntax_error(imag->range, "imaginary number required in complex literal");
  }
  auto* b = node<BinOp>(start);
  b->left = left, b->op = op, b->right = imag;
  return b;
}

Expr* Parser::parse_name_or_attr() {
  uint32_t start = cur().start;
  const Token& t = bump();
  auto* n = node<Name>(t.start, t.end);
  n->id = identifier(t);
  Expr* e = n;
  while (eat(TokenKind::Dot)) {
    if (!at(TokenKind::Name)) return unexpected("name");
    const Token& a = bump();
    auto* attr = node<Attribute>(start);
    attr->value = e;
    attr->attr = identifier(a);
    attr->attr_range = {a.start, a.end};
    e = attr;
  }
  return e;
}

Pattern* Parser::parse_closed_pattern() {
  uint32_t start = cur().start;
  switch (kind()) {
    case TokenKind::None:
    case TokenKind::True:
    case TokenKind::False: {
      TokenKind k = bump().kind;
      auto* s = node<MatchSingleton>(start);
      s->value = k == TokenKind::None   ? Singleton::None
                 : k == TokenKind::True ? Singleton::True
                                        : Singleton::False;
      return s;
    }
    case TokenKind::Name: {
      // `_` is the wildcard before anything else, so `_.a` and `_(...)` are errors.
      if (text(cur()) == "_" || (peek().kind != TokenKind::Dot && peek().kind != TokenKind::LPar)) {
        const Token& t = bump();
        auto* a = node<MatchAs>(start);
        std::string_view name = identifier(t);
        a->name = name == "_" ? std::string_view{} : name;
        return a;
      }
      Expr* e = parse_name_or_attr();
      if (!e) return nullptr;
      if (at(TokenKind::LPar)) return parse_class_pattern(e, start);
      auto* v = node<MatchValue>(start);
      v->value = e;
      return v;
    }
    case TokenKind::LPar:
      return parse_sequence_pattern(TokenKind::RPar, start);
    case TokenKind::LSqb:
      return parse_sequence_pattern(TokenKind::RSqb, start);
    case TokenKind::LBrace:
      return parse_mapping_pattern();
    default:
      break;
  }
  bool ok;
  Expr* lit = parse_literal_expr(&ok);
  if (!ok) return unexpected("pattern");
  if (!lit) return nullptr;
  auto* v = node<MatchValue>(start);
  v->value = lit;
  return v;
}

// `[...]` is always a sequence; `(...)` is one only when empty or holding a comma, otherwise
// it merely groups a pattern.
Pattern* Parser::parse_sequence_pattern(TokenKind close, uint32_t start) {
  bump();
  size_t mark = stack_.size();
  bool comma = false;
  while (!at(close)) {
    Pattern* q = parse_maybe_star_pattern();
    if (!q) return nullptr;
    stack_.push_back(q);
    if (!eat(TokenKind::Comma)) break;
    comma = true;
  }
  if (!expect(close)) return nullptr;
  if (close == TokenKind::RPar && !comma && stack_.size() == mark + 1) {
    auto* group = static_cast<Pattern*>(stack_.back());
    stack_.pop_back();
    if (group->kind == NodeKind::MatchStar) {
      return syntax_error(group->range, "star pattern must be inside a sequence");
    }
    return group;
  }
  auto* s = node<MatchSequence>(start);
  s->patterns = take<Pattern>(stack_, mark);
  return s;
}

Pattern* Parser::parse_mapping_pattern() {
  uint32_t start = bump().start;
  size_t mark = stack_.size();
  std::string_view rest;
  while (!at(TokenKind::RBrace)) {
    if (eat(TokenKind::DoubleStar)) {
      if (!capture_name(cur(), &rest)) return nullptr;
      if (rest == "_") return unexpected();
      bump();
      eat(TokenKind::Comma);
      break;
    }
    Expr* key;
    if (at(TokenKind::Name)) {
      uint32_t k_start = cur().start;
      key = parse_name_or_attr();
      if (key && key->kind == NodeKind::Name) {
        return syntax_error(TextRange{k_start, prev_end()}, "invalid syntax");
      }
    } else {
      bool ok;
      key = parse_literal_expr(&ok);
      if (!ok) return unexpected("pattern");
    }
    if (!key || !expect(TokenKind::Colon)) return nullptr;
    Pattern* p = parse_pattern();
    if (!p) return nullptr;
    stack_.push_back(key);
    stack_.push_back(p);
    if (!eat(TokenKind::Comma)) break;
  }
  if (!expect(TokenKind::RBrace)) return nullptr;
  size_t n = (stack_.size() - mark) / 2;
  auto* keys = static_cast<Expr**>(arena_.allocate(sizeof(void*) * n, alignof(void*)));
  auto* pats = static_cast<Pattern**>(arena_.allocate(sizeof(void*) * n, alignof(void*)));
  for (size_t i = 0; i < n; ++i) {
    keys[i] = static_cast<Expr*>(stack_[mark + 2 * i]);
    pats[i] = static_cast<Pattern*>(stack_[mark + 2 * i + 1]);
  }
  stack_.resize(mark);
  auto* m = node<MatchMapping>(start);
  m->keys = {keys, n};
  m->patterns = {pats, n};
  m->rest = rest;
  return m;
}

Pattern* Parser::parse_class_pattern(Expr* cls, uint32_t start) {
  bump();
  size_t mark = stack_.size();
  std::vector<std::string_view> kwd_attrs;
  std::vector<Pattern*> kwd_patterns;
  while (!at(TokenKind::RPar)) {
    if (at(TokenKind::Name) && peek().kind == TokenKind::Equal) {
      kwd_attrs.push_back(identifier(bump()));
      bump();
      Pattern* p = parse_pattern();
      if (!p) return nullptr;
      kwd_patterns.push_back(p);
    } else {
      uint32_t p_start = cur().start;
      Pattern* p = parse_pattern();
      if (!p) return nullptr;
      if (!kwd_attrs.empty()) {
        return syntax_error(TextRange{p_start, prev_end()},
                            "positional patterns follow keyword patterns");
      }
      stack_.push_back(p);
    }
    if (!eat(TokenKind::Comma)) break;
  }
  if (!expect(TokenKind::RPar)) return nullptr;
  auto* c = node<MatchClass>(start);
  c->cls = cls;
  c->patterns = take<Pattern>(stack_, mark);
  c->kwd_attrs = arena_.copy(std::span<const std::string_view>(kwd_attrs));
  c->kwd_patterns = arena_.copy(std::span<Pattern* const>(kwd_patterns));
  return c;
}

}  // namespace korvane::python
