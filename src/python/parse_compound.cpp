// Compound statements: if, while, for, with, try, def, class, decorators and match.
#include <cstdint>
#include <string>
#include <string_view>

#include "python/parser_impl.h"

namespace korvane::python {

Stmt* Parser::parse_compound(bool* handled) {
  *handled = true;
  uint32_t start = cur().start;
  switch (kind()) {
    case TokenKind::If:
      return parse_if();
    case TokenKind::While:
      return parse_while();
    case TokenKind::For:
      bump();
      return parse_for(start, false);
    case TokenKind::With:
      bump();
      return parse_with(start, false);
    case TokenKind::Try:
      return parse_try();
    case TokenKind::Def:
      bump();
      return parse_def(start, false, {});
    case TokenKind::Class:
      bump();
      return parse_class(start, {});
    case TokenKind::At:
      return parse_decorated();
    case TokenKind::Async:
      bump();
      if (eat(TokenKind::Def)) return parse_def(start, true, {});
      if (eat(TokenKind::For)) return parse_for(start, true);
      if (eat(TokenKind::With)) return parse_with(start, true);
      return unexpected("'def', 'for' or 'with'");
    case TokenKind::Name:
      if (at_soft_keyword("match")) {
        uint32_t save = pos_;
        Stmt* m = parse_match();
        if (m || failed()) return m;
        pos_ = save;  // not a match statement: `match` is a name here
      }
      break;
    default:
      break;
  }
  *handled = false;
  return nullptr;
}

bool Parser::at_definition() const {
  return at(TokenKind::Def) || at(TokenKind::Class) || at(TokenKind::At) ||
         (at(TokenKind::Async) && peek().kind == TokenKind::Def);
}

namespace {

bool points_into(std::string_view text, std::string_view within) {
  const auto at = reinterpret_cast<uintptr_t>(text.data());
  const auto begin = reinterpret_cast<uintptr_t>(within.data());
  return at >= begin && at + text.size() <= begin + within.size();
}

// The outline of a definition: a copy of its node with everything but the header's scalars
// left empty.
template <class Def>
Def outline_of(const Def& full) {
  Def kept{};
  kept.kind = full.kind;
  kept.range = full.range;
  kept.name_range = full.name_range;
  kept.name = full.name;
  if constexpr (requires { full.is_async; }) kept.is_async = full.is_async;
  return kept;
}

}  // namespace

// The whole definition is parsed as usual, every error found on the way, but into scratch memory
// that is dropped afterwards; a fresh node holding only the outline stays.
bool Parser::parse_definition_outline() {
  arena_.begin_scratch();
  in_outline_ = true;
  bool handled = false;
  const Stmt* full = parse_compound(&handled);
  in_outline_ = false;
  if (!full) {
    arena_.end_scratch();
    return false;
  }
  const FunctionDef* def = full->as<FunctionDef>();
  FunctionDef def_outline = def ? outline_of(*def) : FunctionDef{};
  ClassDef class_outline = def ? ClassDef{} : outline_of(*full->as<ClassDef>());
  std::string_view name = def ? def_outline.name : class_outline.name;
  // A name normalised by identifier() lives in the scratch.
  std::string normalised;
  if (!points_into(name, src_)) normalised = name;
  arena_.end_scratch();
  if (!normalised.empty()) name = arena_.copy_text(normalised);
  Stmt* kept = nullptr;
  if (def) {
    auto* node = arena_.make<FunctionDef>();
    *node = def_outline;
    node->name = name;
    kept = node;
  } else {
    auto* node = arena_.make<ClassDef>();
    *node = class_outline;
    node->name = name;
    kept = node;
  }
  stack_.push_back(kept);
  return true;
}

Stmt* Parser::parse_if() {
  uint32_t start = bump().start;
  auto* s = arena_.make<If>();
  s->kind = NodeKind::If;
  if (!(s->test = parse_named_expression()) || !expect(TokenKind::Colon)) return nullptr;
  if (!parse_block(&s->body)) return nullptr;
  size_t mark = stack_.size();
  while (at(TokenKind::Elif) || at(TokenKind::Else)) {
    auto* clause = arena_.make<ElifElseClause>();
    uint32_t c_start = cur().start;
    bool is_else = bump().kind == TokenKind::Else;
    if (!is_else && !(clause->test = parse_named_expression())) return nullptr;
    if (!expect(TokenKind::Colon) || !parse_block(&clause->body)) return nullptr;
    clause->range = {c_start, last_stmt_end_};
    stack_.push_back(clause);
    if (is_else) break;
  }
  s->elif_else_clauses = take<ElifElseClause>(stack_, mark);
  s->range = {start, last_stmt_end_};
  return s;
}

Stmt* Parser::parse_while() {
  uint32_t start = bump().start;
  auto* s = arena_.make<While>();
  s->kind = NodeKind::While;
  if (!(s->test = parse_named_expression()) || !expect(TokenKind::Colon)) return nullptr;
  if (!parse_block(&s->body)) return nullptr;
  if (eat(TokenKind::Else)) {
    if (!expect(TokenKind::Colon) || !parse_block(&s->orelse)) return nullptr;
  }
  s->range = {start, last_stmt_end_};
  return s;
}

Stmt* Parser::parse_for(uint32_t start, bool is_async) {
  auto* s = arena_.make<For>();
  s->kind = NodeKind::For;
  s->is_async = is_async;
  if (!(s->target = parse_star_targets_for())) return nullptr;
  if (!expect(TokenKind::In)) return nullptr;
  if (!to_target(s->target, TargetUse::For)) return nullptr;
  if (!(s->iter = parse_star_expressions()) || !expect(TokenKind::Colon)) return nullptr;
  if (!parse_block(&s->body)) return nullptr;
  if (eat(TokenKind::Else)) {
    if (!expect(TokenKind::Colon) || !parse_block(&s->orelse)) return nullptr;
  }
  s->range = {start, last_stmt_end_};
  return s;
}

// with_item: expression ['as' star_target], the target followed by ',', ')' or ':'.
bool Parser::parse_with_items(bool parenthesized) {
  for (;;) {
    auto* item = arena_.make<WithItem>();
    uint32_t i_start = cur().start;
    if (!(item->context_expr = parse_expression())) return false;
    if (eat(TokenKind::As)) {
      if (!(item->optional_vars = parse_star_targets_for(false))) return false;
      if (!at(TokenKind::Comma) && !at(TokenKind::Colon) &&
          !(parenthesized && at(TokenKind::RPar))) {
        return unexpected("':'");
      }
      if (!to_target(item->optional_vars, TargetUse::With)) return false;
    }
    item->range = {i_start, prev_end()};
    stack_.push_back(item);
    if (!eat(TokenKind::Comma)) break;
    if (parenthesized && at(TokenKind::RPar)) break;
  }
  return true;
}

Stmt* Parser::parse_with(uint32_t start, bool is_async) {
  auto* s = arena_.make<With>();
  s->kind = NodeKind::With;
  s->is_async = is_async;
  size_t mark = stack_.size();
  bool done = false;
  if (at(TokenKind::LPar)) {
    // `with (a as b, c):` lists items in brackets; `with (a, b) as c:` does not. Try the
    // bracketed form first and fall back when it does not end in `):`.
    uint32_t save = pos_;
    bump();
    if (parse_with_items(true) && eat(TokenKind::RPar) && at(TokenKind::Colon)) {
      done = true;
    } else {
      if (failed_ && at(TokenKind::Error)) return nullptr;
      failed_ = false;
      error_ = ParseError{};
      stack_.resize(mark);
      pos_ = save;
    }
  }
  if (!done && !parse_with_items(false)) return nullptr;
  s->items = take<WithItem>(stack_, mark);
  if (!expect(TokenKind::Colon) || !parse_block(&s->body)) return nullptr;
  s->range = {start, last_stmt_end_};
  return s;
}

Stmt* Parser::parse_try() {
  uint32_t start = bump().start;
  auto* s = arena_.make<Try>();
  s->kind = NodeKind::Try;
  if (!expect(TokenKind::Colon) || !parse_block(&s->body)) return nullptr;
  size_t mark = stack_.size();
  bool seen_plain = false, seen_star = false;
  while (at(TokenKind::Except)) {
    const Token& kw = bump();
    auto* h = arena_.make<ExceptHandler>();
    bool star = eat(TokenKind::Star);
    (star ? seen_star : seen_plain) = true;
    if (seen_plain && seen_star) {
      return syntax_error(kw, "cannot have both 'except' and 'except*' on the same 'try'");
    }
    if (!at(TokenKind::Colon)) {
      uint32_t t_start = cur().start;
      if (!(h->type = parse_expression())) return nullptr;
      if (at(TokenKind::Comma)) {
        // `except A, B:` names a tuple of types, as long as no `as` follows.
        size_t tmark = stack_.size();
        stack_.push_back(h->type);
        while (eat(TokenKind::Comma)) {
          if (at(TokenKind::Colon)) break;  // a trailing comma, as in any tuple
          Expr* e = parse_expression();
          if (!e) return nullptr;
          stack_.push_back(e);
        }
        auto* t = node<Tuple>(t_start);
        t->elts = take<Expr>(stack_, tmark);
        h->type = t;
        if (at(TokenKind::As)) {
          return syntax_error(t->range, "multiple exception types must be parenthesized");
        }
      } else if (eat(TokenKind::As)) {
        if (!at(TokenKind::Name)) return unexpected("name");
        const Token& n = bump();
        h->name = identifier(n);
        h->name_range = {n.start, n.end};
      }
    } else if (star) {
      return syntax_error(cur(), "expected one or more exception types");
    }
    if (!expect(TokenKind::Colon) || !parse_block(&h->body)) return nullptr;
    h->range = {kw.start, last_stmt_end_};
    stack_.push_back(h);
  }
  s->handlers = take<ExceptHandler>(stack_, mark);
  s->is_star = seen_star;
  if (!s->handlers.empty() && eat(TokenKind::Else)) {
    if (!expect(TokenKind::Colon) || !parse_block(&s->orelse)) return nullptr;
  }
  if (eat(TokenKind::Finally)) {
    if (!expect(TokenKind::Colon) || !parse_block(&s->finalbody)) return nullptr;
  } else if (s->handlers.empty()) {
    return unexpected("'except' or 'finally'");
  }
  s->range = {start, last_stmt_end_};
  return s;
}

Stmt* Parser::parse_decorated() {
  uint32_t start = cur().start;
  size_t mark = stack_.size();
  while (eat(TokenKind::At)) {
    Expr* d = parse_named_expression();
    if (!d || !expect(TokenKind::Newline)) return nullptr;
    stack_.push_back(d);
  }
  ExprList decorators = take<Expr>(stack_, mark);
  // As in Python's tree, the definition starts at its keyword, after the decorators.
  start = cur().start;
  if (eat(TokenKind::Def)) return parse_def(start, false, decorators);
  if (eat(TokenKind::Class)) return parse_class(start, decorators);
  if (at(TokenKind::Async) && peek().kind == TokenKind::Def) {
    bump();
    bump();
    return parse_def(start, true, decorators);
  }
  return unexpected("'def' or 'class'");
}

Stmt* Parser::parse_def(uint32_t start, bool is_async, ExprList decorators) {
  auto* f = arena_.make<FunctionDef>();
  f->kind = NodeKind::FunctionDef;
  f->is_async = is_async;
  f->decorator_list = decorators;
  if (!at(TokenKind::Name)) return unexpected("name");
  const Token& n = bump();
  f->name = identifier(n);
  f->name_range = {n.start, n.end};
  if (at(TokenKind::LSqb) && !parse_type_params(&f->type_params)) return nullptr;
  if (!expect(TokenKind::LPar)) return nullptr;
  if (!(f->args = parse_parameters(TokenKind::RPar, false))) return nullptr;
  if (!expect(TokenKind::RPar)) return nullptr;
  if (eat(TokenKind::RArrow) && !(f->returns = parse_expression())) return nullptr;
  if (!expect(TokenKind::Colon) || !parse_block(&f->body)) return nullptr;
  f->range = {start, last_stmt_end_};
  return f;
}

Stmt* Parser::parse_class(uint32_t start, ExprList decorators) {
  auto* c = arena_.make<ClassDef>();
  c->kind = NodeKind::ClassDef;
  c->decorator_list = decorators;
  if (!at(TokenKind::Name)) return unexpected("name");
  const Token& n = bump();
  c->name = identifier(n);
  c->name_range = {n.start, n.end};
  if (at(TokenKind::LSqb) && !parse_type_params(&c->type_params)) return nullptr;
  if (at(TokenKind::LPar)) {
    uint32_t call_start = cur().start;
    // Bases and keywords follow the rules of call arguments, except a bare generator.
    auto* call = parse_call(nullptr, call_start);
    if (!call) return nullptr;
    auto* as_call = call->as<Call>();
    if (as_call->args.size() == 1 && as_call->args[0]->kind == NodeKind::GeneratorExp &&
        as_call->args[0]->range.start == call_start) {
      return syntax_error(as_call->args[0]->range, "invalid syntax");
    }
    c->bases = as_call->args;
    c->keywords = as_call->keywords;
  }
  if (!expect(TokenKind::Colon) || !parse_block(&c->body)) return nullptr;
  c->range = {start, last_stmt_end_};
  return c;
}

// type_params: '[' type_param (',' type_param)* [','] ']'
bool Parser::parse_type_params(std::span<TypeParam* const>* out) {
  bump();
  size_t mark = stack_.size();
  do {
    if (at(TokenKind::RSqb) && stack_.size() > mark) break;
    uint32_t start = cur().start;
    int stars = eat(TokenKind::Star) ? 1 : eat(TokenKind::DoubleStar) ? 2 : 0;
    if (!at(TokenKind::Name)) return unexpected("name");
    std::string_view name = identifier(bump());
    Expr* bound = nullptr;
    if (at(TokenKind::Colon)) {
      if (stars) {
        return syntax_error(cur(), stars == 1 ? "cannot use bound with TypeVarTuple"
                                              : "cannot use bound with ParamSpec");
      }
      bump();
      if (!(bound = parse_expression())) return false;
    }
    Expr* def = nullptr;
    if (eat(TokenKind::Equal)) {
      def = stars == 1 ? parse_star_expression() : parse_expression();
      if (!def) return false;
    }
    if (stars == 0) {
      auto* t = node<TypeVar>(start);
      t->name = name, t->bound = bound, t->default_value = def;
      stack_.push_back(t);
    } else if (stars == 1) {
      auto* t = node<TypeVarTuple>(start);
      t->name = name, t->default_value = def;
      stack_.push_back(t);
    } else {
      auto* t = node<ParamSpec>(start);
      t->name = name, t->default_value = def;
      stack_.push_back(t);
    }
  } while (eat(TokenKind::Comma));
  if (stack_.size() == mark) return unexpected("name");
  *out = take<TypeParam>(stack_, mark);
  return expect(TokenKind::RSqb);
}

}  // namespace korvane::python
