// Atoms: names, numbers, constants, and the bracketed displays and comprehensions.
#include <charconv>
#include <cmath>
#include <string>

#include "python/parser_impl.h"

namespace korvane::python {

bool parser_starts_expression(TokenKind k);

Expr* Parser::parse_atom() {
  const Token& t = cur();
  switch (t.kind) {
    case TokenKind::Name: {
      bump();
      auto* n = node<Name>(t.start, t.end);
      n->id = identifier(t);
      return n;
    }
    case TokenKind::Number:
      bump();
      return parse_number(t);
    case TokenKind::String:
    case TokenKind::FStringStart:
      return parse_strings();
    case TokenKind::True:
    case TokenKind::False: {
      bump();
      auto* b = node<BooleanLiteral>(t.start, t.end);
      b->value = t.kind == TokenKind::True;
      return b;
    }
    case TokenKind::None:
      bump();
      return node<NoneLiteral>(t.start, t.end);
    case TokenKind::Ellipsis:
      bump();
      return node<EllipsisLiteral>(t.start, t.end);
    case TokenKind::LPar:
      return parse_paren();
    case TokenKind::LSqb:
      return parse_list();
    case TokenKind::LBrace:
      return parse_brace();
    default:
      return unexpected("expression");
  }
}

Expr* Parser::parse_number(const Token& t) {
  std::string_view s = text(t);
  char last = s.back() | 0x20;
  int base = 10;
  if (s.size() > 1 && s[0] == '0') {
    char p = s[1] | 0x20;
    base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 10;
  }
  bool is_float = base == 10 && (last == 'j' || s.find_first_of(".eE") != std::string_view::npos);
  if (!is_float) {
    auto* n = node<IntLiteral>(t.start, t.end);
    uint64_t v = 0;
    for (size_t i = base == 10 ? 0 : 2; i < s.size(); ++i) {
      char c = s[i];
      if (c == '_') continue;
      unsigned d = c <= '9' ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
      if (v > (UINT64_MAX - d) / unsigned(base)) {
        n->too_big = true;
        v = 0;
        break;
      }
      v = v * unsigned(base) + d;
    }
    n->value = v;
    return n;
  }
  std::string digits;
  digits.reserve(s.size());
  for (char c : s) {
    if (c != '_' && (c | 0x20) != 'j') digits += c;
  }
  double value = 0;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    // Python rounds an overflowing literal to infinity and an underflowing one to zero.
    bool big = digits.find_first_of("eE") != std::string::npos &&
               digits[digits.find_first_of("eE") + 1] != '-';
    value = big ? HUGE_VAL : 0.0;
  }
  if (last == 'j') {
    auto* n = node<ImaginaryLiteral>(t.start, t.end);
    n->imag = value;
    return n;
  }
  auto* n = node<FloatLiteral>(t.start, t.end);
  n->value = value;
  return n;
}

Expr* Parser::parse_paren() {
  const Token& open = bump();
  if (at(TokenKind::RPar)) {
    bump();
    auto* t = node<Tuple>(open.start);
    t->parenthesized = true;
    return t;
  }
  if (at(TokenKind::Yield)) {
    Expr* y = parse_yield();
    if (!y || !expect(TokenKind::RPar)) return nullptr;
    return y;
  }
  Expr* first = parse_star_named_expression();
  if (!first) return nullptr;
  if (at(TokenKind::For) || (at(TokenKind::Async) && peek().kind == TokenKind::For)) {
    if (first->kind == NodeKind::Starred) {
      return syntax_error(first->range, "iterable unpacking cannot be used in comprehension");
    }
    auto* g = arena_.make<GeneratorExp>();
    g->kind = NodeKind::GeneratorExp;
    g->elt = first;
    if (!parse_comprehension_clauses(&g->generators) || !expect(TokenKind::RPar)) return nullptr;
    g->range = {open.start, prev_end()};
    return g;
  }
  if (at(TokenKind::Comma)) {
    auto* t = static_cast<Tuple*>(
        parse_tuple_rest(first, open.start, &Parser::parse_star_named_expression));
    if (!t || !expect(TokenKind::RPar)) return nullptr;
    t->range = {open.start, prev_end()};
    t->parenthesized = true;
    return t;
  }
  if (!expect(TokenKind::RPar)) return nullptr;
  if (first->kind == NodeKind::Starred) {
    return syntax_error(first->range, "cannot use starred expression here");
  }
  return first;
}

Expr* Parser::parse_list() {
  uint32_t start = bump().start;
  size_t mark = stack_.size();
  if (!at(TokenKind::RSqb)) {
    Expr* first = parse_star_named_expression();
    if (!first) return nullptr;
    if (at(TokenKind::For) || (at(TokenKind::Async) && peek().kind == TokenKind::For)) {
      if (first->kind == NodeKind::Starred) {
        return syntax_error(first->range, "iterable unpacking cannot be used in comprehension");
      }
      auto* l = arena_.make<ListComp>();
      l->kind = NodeKind::ListComp;
      l->elt = first;
      if (!parse_comprehension_clauses(&l->generators) || !expect(TokenKind::RSqb)) {
        return nullptr;
      }
      l->range = {start, prev_end()};
      return l;
    }
    stack_.push_back(first);
    while (eat(TokenKind::Comma) && !at(TokenKind::RSqb)) {
      Expr* e = parse_star_named_expression();
      if (!e) return nullptr;
      stack_.push_back(e);
    }
  }
  if (!expect(TokenKind::RSqb)) return nullptr;
  auto* l = node<List>(start);
  l->elts = take<Expr>(stack_, mark);
  return l;
}

Expr* Parser::parse_brace() {
  uint32_t start = bump().start;
  size_t mark = stack_.size();
  if (eat(TokenKind::RBrace)) return node<Dict>(start);
  if (eat(TokenKind::DoubleStar)) {
    Expr* v = parse_bitwise_or();
    if (!v) return nullptr;
    if (at(TokenKind::For) || (at(TokenKind::Async) && peek().kind == TokenKind::For)) {
      return syntax_error(v->range, "dict unpacking cannot be used in dict comprehension");
    }
    stack_.push_back(nullptr);
    stack_.push_back(v);
    return parse_dict_rest(start, mark);
  }
  // `{a := 1}` is a set; a walrus may not be a dict key without brackets.
  bool walrus = at(TokenKind::Name) && peek().kind == TokenKind::ColonEqual;
  Expr* first = parse_star_named_expression();
  if (!first) return nullptr;
  bool comprehension = false;
  if (at(TokenKind::Colon) && !walrus && first->kind != NodeKind::Starred) {
    bump();
    Expr* v = parse_expression();
    if (!v) return nullptr;
    if (!at(TokenKind::For) && !(at(TokenKind::Async) && peek().kind == TokenKind::For)) {
      stack_.push_back(first);
      stack_.push_back(v);
      return parse_dict_rest(start, mark);
    }
    auto* d = arena_.make<DictComp>();
    d->kind = NodeKind::DictComp;
    d->key = first;
    d->value = v;
    if (!parse_comprehension_clauses(&d->generators) || !expect(TokenKind::RBrace)) {
      return nullptr;
    }
    d->range = {start, prev_end()};
    return d;
  }
  comprehension = at(TokenKind::For) || (at(TokenKind::Async) && peek().kind == TokenKind::For);
  if (!comprehension) {
    stack_.push_back(first);
    while (eat(TokenKind::Comma) && !at(TokenKind::RBrace)) {
      Expr* e = parse_star_named_expression();
      if (!e) return nullptr;
      stack_.push_back(e);
    }
    if (!expect(TokenKind::RBrace)) return nullptr;
    auto* set = node<Set>(start);
    set->elts = take<Expr>(stack_, mark);
    return set;
  }
  if (first->kind == NodeKind::Starred) {
    return syntax_error(first->range, "iterable unpacking cannot be used in comprehension");
  }
  auto* c = arena_.make<SetComp>();
  c->kind = NodeKind::SetComp;
  c->elt = first;
  if (!parse_comprehension_clauses(&c->generators) || !expect(TokenKind::RBrace)) return nullptr;
  c->range = {start, prev_end()};
  return c;
}

// The items after a dict's first (already on the stack as key, value; a nullptr key for
// `**m`), then the closing brace.
Expr* Parser::parse_dict_rest(uint32_t start, size_t mark) {
  while (eat(TokenKind::Comma) && !at(TokenKind::RBrace)) {
    Expr* key = nullptr;
    Expr* value = nullptr;
    if (eat(TokenKind::DoubleStar)) {
      if (!(value = parse_bitwise_or())) return nullptr;
    } else {
      if (!(key = parse_expression()) || !expect(TokenKind::Colon)) return nullptr;
      if (!(value = parse_expression())) return nullptr;
    }
    stack_.push_back(key);
    stack_.push_back(value);
  }
  if (!expect(TokenKind::RBrace)) return nullptr;
  auto* d = node<Dict>(start);
  size_t n = (stack_.size() - mark) / 2;
  auto* keys = static_cast<Expr**>(arena_.allocate(sizeof(Expr*) * n * 2, alignof(Expr*)));
  Expr** values = keys + n;
  for (size_t i = 0; i < n; ++i) {
    keys[i] = static_cast<Expr*>(stack_[mark + 2 * i]);
    values[i] = static_cast<Expr*>(stack_[mark + 2 * i + 1]);
  }
  stack_.resize(mark);
  d->keys = {keys, n};
  d->values = {values, n};
  return d;
}

bool Parser::parse_comprehension_clauses(std::span<Comprehension* const>* out) {
  size_t mark = stack_.size();
  while (at(TokenKind::For) || (at(TokenKind::Async) && peek().kind == TokenKind::For)) {
    uint32_t start = cur().start;
    uint32_t before = pos_;
    auto* c = arena_.make<Comprehension>();
    c->is_async = eat(TokenKind::Async);
    bump();
    if (!(c->target = parse_star_targets_for())) return false;
    if (!expect(TokenKind::In)) return false;
    if (!to_target(c->target, TargetUse::Comprehension)) return false;
    if (!(c->iter = parse_disjunction())) return false;
    size_t ifs_mark = stack_.size();
    while (eat(TokenKind::If)) {
      Expr* cond = parse_disjunction();
      if (!cond) return false;
      stack_.push_back(cond);
    }
    c->ifs = take<Expr>(stack_, ifs_mark);
    c->range = {start, prev_end()};
    stack_.push_back(c);
    progress_guard(before);
  }
  *out = take<Comprehension>(stack_, mark);
  return true;
}

}  // namespace korvane::python
