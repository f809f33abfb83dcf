// Expressions: the precedence ladder from star expressions down to primaries.
#include <string>

#include "python/parser_impl.h"

namespace korvane::python {
namespace {

bool starts_expression(TokenKind k) {
  switch (k) {
    case TokenKind::Name:
    case TokenKind::Number:
    case TokenKind::String:
    case TokenKind::FStringStart:
    case TokenKind::LPar:
    case TokenKind::LSqb:
    case TokenKind::LBrace:
    case TokenKind::Minus:
    case TokenKind::Plus:
    case TokenKind::Tilde:
    case TokenKind::Star:
    case TokenKind::Not:
    case TokenKind::Lambda:
    case TokenKind::Await:
    case TokenKind::True:
    case TokenKind::False:
    case TokenKind::None:
    case TokenKind::Ellipsis:
      return true;
    default:
      return false;
  }
}

// Binding strength of binary operators; higher binds tighter.
bool binary_operator(TokenKind k, int* prec, Operator* op) {
  switch (k) {
    case TokenKind::VBar:
      *prec = 1, *op = Operator::BitOr;
      return true;
    case TokenKind::CircumFlex:
      *prec = 2, *op = Operator::BitXor;
      return true;
    case TokenKind::Amper:
      *prec = 3, *op = Operator::BitAnd;
      return true;
    case TokenKind::LeftShift:
      *prec = 4, *op = Operator::LShift;
      return true;
    case TokenKind::RightShift:
      *prec = 4, *op = Operator::RShift;
      return true;
    case TokenKind::Plus:
      *prec = 5, *op = Operator::Add;
      return true;
    case TokenKind::Minus:
      *prec = 5, *op = Operator::Sub;
      return true;
    case TokenKind::Star:
      *prec = 6, *op = Operator::Mult;
      return true;
    case TokenKind::Slash:
      *prec = 6, *op = Operator::Div;
      return true;
    case TokenKind::DoubleSlash:
      *prec = 6, *op = Operator::FloorDiv;
      return true;
    case TokenKind::Percent:
      *prec = 6, *op = Operator::Mod;
      return true;
    case TokenKind::At:
      *prec = 6, *op = Operator::MatMult;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool parser_starts_expression(TokenKind k) { return starts_expression(k); }

Expr* Parser::parse_tuple_rest(Expr* first, uint32_t start, Expr* (Parser::*element)()) {
  size_t mark = stack_.size();
  stack_.push_back(first);
  const bool slices = element == &Parser::parse_slice;
  while (eat(TokenKind::Comma)) {
    if (!starts_expression(kind()) && !(slices && at(TokenKind::Colon))) break;
    Expr* e = (this->*element)();
    if (!e) return nullptr;
    stack_.push_back(e);
  }
  auto* t = node<Tuple>(start);
  t->elts = take<Expr>(stack_, mark);
  return t;
}

Expr* Parser::parse_star_expressions() {
  uint32_t start = cur().start;
  Expr* first = parse_star_expression();
  if (!first || !at(TokenKind::Comma)) return first;
  return parse_tuple_rest(first, start, &Parser::parse_star_expression);
}

Expr* Parser::parse_star_expression() {
  if (!at(TokenKind::Star)) return parse_expression();
  uint32_t start = bump().start;
  Expr* v = parse_bitwise_or();
  if (!v) return nullptr;
  auto* s = node<Starred>(start);
  s->value = v;
  return s;
}

Expr* Parser::parse_star_named_expression() {
  if (!at(TokenKind::Star)) return parse_named_expression();
  uint32_t start = bump().start;
  Expr* v = parse_bitwise_or();
  if (!v) return nullptr;
  auto* s = node<Starred>(start);
  s->value = v;
  return s;
}

Expr* Parser::parse_named_expression() {
  uint32_t start = cur().start;
  if (at(TokenKind::Name) && peek().kind == TokenKind::ColonEqual) {
    const Token& n = bump();
    bump();
    auto* target = node<Name>(n.start, n.end);
    target->id = identifier(n);
    target->ctx = ExprContext::Store;
    Expr* value = parse_expression();
    if (!value) return nullptr;
    auto* ne = node<NamedExpr>(start);
    ne->target = target;
    ne->value = value;
    return ne;
  }
  Expr* e = parse_expression();
  if (e && at(TokenKind::ColonEqual)) {
    return syntax_error(
        e->range, std::string("cannot use assignment expressions with ") + expression_name(e));
  }
  return e;
}

Expr* Parser::parse_expression() {
  DepthGuard guard(*this);
  if (guard.too_deep()) {
    return syntax_error(TextRange{cur().start, cur().end}, "too many nested expressions",
                        ParseErrorKind::TooDeeplyNested);
  }
  if (at(TokenKind::Lambda)) return parse_lambda();
  // Most expressions are a lone name or constant: an argument, an annotation, an element, a
  // right-hand side. When the token after one can continue no expression, every level from
  // disjunction down to trailers would hand the atom straight back, so skip them.
  if (lone_atom()) return parse_atom();
  uint32_t start = cur().start;
  Expr* body = parse_disjunction();
  if (!body || !at(TokenKind::If)) return body;
  bump();
  auto* e = arena_.make<IfExp>();
  e->kind = NodeKind::IfExp;
  e->body = body;
  if (!(e->test = parse_disjunction())) return nullptr;
  if (!at(TokenKind::Else)) return unexpected("'else'");
  bump();
  if (!(e->orelse = parse_expression())) return nullptr;
  e->range = {start, prev_end()};
  return e;
}

bool Parser::lone_atom() const {
  switch (kind()) {
    case TokenKind::Name:
    case TokenKind::Number:
    case TokenKind::None:
    case TokenKind::True:
    case TokenKind::False:
    case TokenKind::Ellipsis:
      break;
    default:
      return false;
  }
  switch (peek().kind) {
    case TokenKind::Comma:
    case TokenKind::RPar:
    case TokenKind::RSqb:
    case TokenKind::RBrace:
    case TokenKind::Newline:
    case TokenKind::Colon:
    case TokenKind::Equal:
    case TokenKind::Semi:
      return true;
    default:
      return false;
  }
}

Expr* Parser::parse_lambda() {
  uint32_t start = bump().start;
  auto* l = arena_.make<Lambda>();
  l->kind = NodeKind::Lambda;
  if (!(l->args = parse_parameters(TokenKind::Colon, true))) return nullptr;
  if (!expect(TokenKind::Colon)) return nullptr;
  if (!(l->body = parse_expression())) return nullptr;
  l->range = {start, prev_end()};
  return l;
}

Expr* Parser::parse_yield() {
  uint32_t start = bump().start;
  if (eat(TokenKind::From)) {
    Expr* v = parse_expression();
    if (!v) return nullptr;
    auto* y = node<YieldFrom>(start);
    y->value = v;
    return y;
  }
  Expr* v = nullptr;
  if (starts_expression(kind()) && !(v = parse_star_expressions())) return nullptr;
  auto* y = node<Yield>(start);
  y->value = v;
  return y;
}

Expr* Parser::parse_disjunction() {
  uint32_t start = cur().start;
  Expr* first = parse_conjunction();
  if (!first || !at(TokenKind::Or)) return first;
  size_t mark = stack_.size();
  stack_.push_back(first);
  while (eat(TokenKind::Or)) {
    Expr* e = parse_conjunction();
    if (!e) return nullptr;
    stack_.push_back(e);
  }
  auto* b = node<BoolOp>(start);
  b->op = BoolOperator::Or;
  b->values = take<Expr>(stack_, mark);
  return b;
}

Expr* Parser::parse_conjunction() {
  uint32_t start = cur().start;
  Expr* first = parse_inversion();
  if (!first || !at(TokenKind::And)) return first;
  size_t mark = stack_.size();
  stack_.push_back(first);
  while (eat(TokenKind::And)) {
    Expr* e = parse_inversion();
    if (!e) return nullptr;
    stack_.push_back(e);
  }
  auto* b = node<BoolOp>(start);
  b->op = BoolOperator::And;
  b->values = take<Expr>(stack_, mark);
  return b;
}

Expr* Parser::parse_inversion() {
  if (!at(TokenKind::Not)) return parse_comparison();
  DepthGuard guard(*this);
  if (guard.too_deep()) {
    return syntax_error(TextRange{cur().start, cur().end}, "too many nested expressions",
                        ParseErrorKind::TooDeeplyNested);
  }
  uint32_t start = bump().start;
  Expr* operand = parse_inversion();
  if (!operand) return nullptr;
  auto* u = node<UnaryOp>(start);
  u->op = UnaryOperator::Not;
  u->operand = operand;
  return u;
}

Expr* Parser::parse_comparison() {
  uint32_t start = cur().start;
  Expr* left = parse_bitwise_or();
  if (!left) return nullptr;
  size_t mark = stack_.size();
  size_t ops_mark = scratch_.size();
  for (;;) {
    CmpOperator op;
    switch (kind()) {
      case TokenKind::EqEqual:
        op = CmpOperator::Eq;
        break;
      case TokenKind::NotEqual:
        op = CmpOperator::NotEq;
        break;
      case TokenKind::Less:
        op = CmpOperator::Lt;
        break;
      case TokenKind::LessEqual:
        op = CmpOperator::LtE;
        break;
      case TokenKind::Greater:
        op = CmpOperator::Gt;
        break;
      case TokenKind::GreaterEqual:
        op = CmpOperator::GtE;
        break;
      case TokenKind::In:
        op = CmpOperator::In;
        break;
      case TokenKind::Is:
        op = peek().kind == TokenKind::Not ? CmpOperator::IsNot : CmpOperator::Is;
        break;
      case TokenKind::Not:
        if (peek().kind != TokenKind::In) goto done;
        op = CmpOperator::NotIn;
        break;
      default:
        goto done;
    }
    bump();
    if (op == CmpOperator::IsNot || op == CmpOperator::NotIn) bump();
    {
      Expr* right = parse_bitwise_or();
      if (!right) return nullptr;
      scratch_.push_back(static_cast<int>(op));
      stack_.push_back(right);
    }
  }
done:
  if (stack_.size() == mark) return left;
  auto* c = node<Compare>(start);
  c->left = left;
  size_t n = scratch_.size() - ops_mark;
  auto* ops = static_cast<CmpOperator*>(arena_.allocate(n, 1));
  for (size_t i = 0; i < n; ++i) ops[i] = static_cast<CmpOperator>(scratch_[ops_mark + i]);
  scratch_.resize(ops_mark);
  c->ops = {ops, n};
  c->comparators = take<Expr>(stack_, mark);
  return c;
}

Expr* Parser::parse_bitwise_or() { return parse_binary(1); }

Expr* Parser::parse_binary(int min_prec) {
  uint32_t start = cur().start;
  Expr* left = parse_factor();
  while (left) {
    int prec;
    Operator op;
    if (!binary_operator(kind(), &prec, &op) || prec < min_prec) break;
    bump();
    Expr* right = parse_binary(prec + 1);
    if (!right) return nullptr;
    auto* b = node<BinOp>(start);
    b->left = left, b->op = op, b->right = right;
    left = b;
  }
  return left;
}

Expr* Parser::parse_factor() {
  UnaryOperator op;
  switch (kind()) {
    case TokenKind::Plus:
      op = UnaryOperator::UAdd;
      break;
    case TokenKind::Minus:
      op = UnaryOperator::USub;
      break;
    case TokenKind::Tilde:
      op = UnaryOperator::Invert;
      break;
    default:
      return parse_power();
  }
  DepthGuard guard(*this);
  if (guard.too_deep()) {
    return syntax_error(TextRange{cur().start, cur().end}, "too many nested expressions",
                        ParseErrorKind::TooDeeplyNested);
  }
  uint32_t start = bump().start;
  Expr* operand = parse_factor();
  if (!operand) return nullptr;
  auto* u = node<UnaryOp>(start);
  u->op = op;
  u->operand = operand;
  return u;
}

Expr* Parser::parse_power() {
  uint32_t start = cur().start;
  Expr* base;
  if (at(TokenKind::Await)) {
    bump();
    Expr* v = parse_primary();
    if (!v) return nullptr;
    auto* a = node<Await>(start);
    a->value = v;
    base = a;
  } else {
    base = parse_primary();
  }
  if (!base || !eat(TokenKind::DoubleStar)) return base;
  // `**` is right-associative, so `2**2**2...` recurses once per operator.
  DepthGuard guard(*this);
  if (guard.too_deep()) {
    return syntax_error(TextRange{cur().start, cur().end}, "too many nested expressions",
                        ParseErrorKind::TooDeeplyNested);
  }
  Expr* exp = parse_factor();
  if (!exp) return nullptr;
  auto* b = node<BinOp>(start);
  b->left = base, b->op = Operator::Pow, b->right = exp;
  return b;
}

Expr* Parser::parse_primary() {
  uint32_t start = cur().start;
  Expr* e = parse_atom();
  if (!e) return nullptr;
  return parse_trailers(e, start);
}

Expr* Parser::parse_trailers(Expr* e, uint32_t start) {
  for (;;) {
    switch (kind()) {
      case TokenKind::Dot: {
        bump();
        if (!at(TokenKind::Name)) return unexpected("name");
        const Token& n = bump();
        auto* a = node<Attribute>(start);
        a->value = e;
        a->attr = identifier(n);
        a->attr_range = {n.start, n.end};
        e = a;
        break;
      }
      case TokenKind::LPar:
        if (!(e = parse_call(e, start))) return nullptr;
        break;
      case TokenKind::LSqb:
        if (!(e = parse_subscript(e, start))) return nullptr;
        break;
      default:
        return e;
    }
  }
}

Expr* Parser::parse_subscript(Expr* value, uint32_t start) {
  bump();
  uint32_t s_start = cur().start;
  Expr* first = parse_slice();
  if (!first) return nullptr;
  Expr* slice = first;
  if (at(TokenKind::Comma)) {
    slice = parse_tuple_rest(first, s_start, &Parser::parse_slice);
    if (!slice) return nullptr;
  } else if (first->kind == NodeKind::Starred) {
    slice = parse_tuple_rest(first, s_start, &Parser::parse_slice);  // a[*b] is a tuple
  }
  if (!expect(TokenKind::RSqb)) return nullptr;
  auto* s = node<Subscript>(start);
  s->value = value;
  s->slice = slice;
  return s;
}

Expr* Parser::parse_slice() {
  uint32_t start = cur().start;
  if (at(TokenKind::Star)) {
    bump();
    Expr* v = parse_expression();
    if (!v) return nullptr;
    auto* s = node<Starred>(start);
    s->value = v;
    return s;
  }
  Expr* lower = nullptr;
  if (!at(TokenKind::Colon)) {
    bool walrus = at(TokenKind::Name) && peek().kind == TokenKind::ColonEqual;
    if (!(lower = parse_named_expression()) || !at(TokenKind::Colon)) return lower;
    if (walrus) return unexpected();  // a slice bound is no place for `:=` without brackets
  }
  bump();
  auto* s = arena_.make<Slice>();
  s->kind = NodeKind::Slice;
  s->lower = lower;
  if (starts_expression(kind()) && !at(TokenKind::Star) && !(s->upper = parse_expression())) {
    return nullptr;
  }
  if (eat(TokenKind::Colon) && starts_expression(kind()) && !at(TokenKind::Star) &&
      !(s->step = parse_expression())) {
    return nullptr;
  }
  s->range = {start, prev_end()};
  return s;
}

Expr* Parser::parse_call(Expr* func, uint32_t start) {
  uint32_t open = bump().start;
  size_t mark = stack_.size();
  std::vector<void*> keywords;
  bool seen_keyword = false, seen_double_star = false;
  while (!at(TokenKind::RPar)) {
    uint32_t a_start = cur().start;
    if (at(TokenKind::Star)) {
      bump();
      Expr* v = parse_expression();
      if (!v) return nullptr;
      if (seen_double_star) {
        return syntax_error(TextRange{a_start, prev_end()},
                            "iterable argument unpacking follows keyword argument unpacking");
      }
      auto* s = node<Starred>(a_start);
      s->value = v;
      stack_.push_back(s);
    } else if (at(TokenKind::DoubleStar) ||
               (at(TokenKind::Name) && peek().kind == TokenKind::Equal)) {
      auto* k = arena_.make<Keyword>();
      if (eat(TokenKind::DoubleStar)) {
        seen_double_star = true;
      } else {
        k->arg = identifier(bump());
        bump();
        seen_keyword = true;
      }
      if (!(k->value = parse_expression())) return nullptr;
      k->range = {a_start, prev_end()};
      keywords.push_back(k);
    } else {
      if ((at(TokenKind::True) || at(TokenKind::False) || at(TokenKind::None)) &&
          peek().kind == TokenKind::Equal) {
        return syntax_error(cur(), "cannot assign to " + std::string(text(cur())));
      }
      Expr* e = parse_named_expression();
      if (!e) return nullptr;
      if (at(TokenKind::For) || (at(TokenKind::Async) && peek().kind == TokenKind::For)) {
        auto* g = arena_.make<GeneratorExp>();
        g->kind = NodeKind::GeneratorExp;
        g->elt = e;
        if (!parse_comprehension_clauses(&g->generators)) return nullptr;
        if (stack_.size() != mark || !keywords.empty() || !at(TokenKind::RPar)) {
          return syntax_error(TextRange{a_start, prev_end()},
                              "Generator expression must be parenthesized");
        }
        g->range = {open, cur().end};
        e = g;
      }
      if (at(TokenKind::Equal)) {
        return syntax_error(e->range,
                            "expression cannot contain assignment, perhaps you meant \"==\"?");
      }
      if (seen_double_star || seen_keyword) {
        return syntax_error(e->range, seen_double_star
                                          ? "positional argument follows keyword argument "
                                            "unpacking"
                                          : "positional argument follows keyword argument");
      }
      stack_.push_back(e);
    }
    if (!eat(TokenKind::Comma)) break;
  }
  if (!expect(TokenKind::RPar)) return nullptr;
  auto* c = node<Call>(start);
  c->func = func;
  c->args = take<Expr>(stack_, mark);
  if (!keywords.empty()) {
    c->keywords = take<Keyword>(keywords, 0);
  }
  return c;
}

// A target list of `for` or a comprehension: targets are primaries, so stopping below the
// comparisons leaves the `in` alone.
Expr* Parser::parse_star_targets_for(bool allow_tuple) {
  uint32_t start = cur().start;
  auto element = [&]() -> Expr* {
    if (!at(TokenKind::Star)) return parse_bitwise_or();
    uint32_t s_start = bump().start;
    Expr* v = parse_bitwise_or();
    if (!v) return nullptr;
    auto* s = node<Starred>(s_start);
    s->value = v;
    return s;
  };
  Expr* first = element();
  if (!first || !allow_tuple || !at(TokenKind::Comma)) return first;
  size_t mark = stack_.size();
  stack_.push_back(first);
  while (eat(TokenKind::Comma)) {
    if (!starts_expression(kind())) break;
    Expr* e = element();
    if (!e) return nullptr;
    stack_.push_back(e);
  }
  auto* t = node<Tuple>(start);
  t->elts = take<Expr>(stack_, mark);
  return t;
}

}  // namespace korvane::python
