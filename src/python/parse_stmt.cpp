// Simple statements, statement lists and blocks.
#include <string>

#include "python/parser_impl.h"

namespace korvane::python {
namespace {

bool aug_operator(TokenKind k, Operator* op) {
  switch (k) {
    case TokenKind::PlusEqual:
      *op = Operator::Add;
      return true;
    case TokenKind::MinEqual:
      *op = Operator::Sub;
      return true;
    case TokenKind::StarEqual:
      *op = Operator::Mult;
      return true;
    case TokenKind::AtEqual:
      *op = Operator::MatMult;
      return true;
    case TokenKind::SlashEqual:
      *op = Operator::Div;
      return true;
    case TokenKind::PercentEqual:
      *op = Operator::Mod;
      return true;
    case TokenKind::AmperEqual:
      *op = Operator::BitAnd;
      return true;
    case TokenKind::VBarEqual:
      *op = Operator::BitOr;
      return true;
    case TokenKind::CircumFlexEqual:
      *op = Operator::BitXor;
      return true;
    case TokenKind::LeftShiftEqual:
      *op = Operator::LShift;
      return true;
    case TokenKind::RightShiftEqual:
      *op = Operator::RShift;
      return true;
    case TokenKind::DoubleStarEqual:
      *op = Operator::Pow;
      return true;
    case TokenKind::DoubleSlashEqual:
      *op = Operator::FloorDiv;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Parser::parse_statements_until(TokenKind end) {
  while (!at(end)) {
    uint32_t before = pos_;
    if (!parse_statement()) return false;
    progress_guard(before);
  }
  return true;
}

bool Parser::parse_statement() {
  if (outline_ && !in_outline_ && at_definition()) return parse_definition_outline();
  bool handled = false;
  Stmt* s = parse_compound(&handled);
  if (handled) {
    if (!s) return false;
    stack_.push_back(s);
    return true;
  }
  return parse_simple_statements();
}

bool Parser::parse_simple_statements() {
  for (;;) {
    Stmt* s = parse_simple_statement();
    if (!s) return false;
    stack_.push_back(s);
    if (!eat(TokenKind::Semi) || at(TokenKind::Newline)) break;
  }
  // A compound statement ends where the last line of its last block does (a trailing `;`
  // included), not at the newline or dedent that closes the block.
  last_stmt_end_ = prev_end();
  return expect(TokenKind::Newline);
}

bool Parser::parse_block(StmtList* out) {
  size_t mark = stack_.size();
  if (eat(TokenKind::Newline)) {
    if (!at(TokenKind::Indent)) {
      if (at(TokenKind::Error)) return unexpected();
      syntax_error(TextRange{cur().start, cur().end}, "expected an indented block",
                   ParseErrorKind::ExpectedIndent);
      return false;
    }
    bump();
    if (!parse_statements_until(TokenKind::Dedent)) return false;
    bump();
  } else if (!parse_simple_statements()) {
    return false;
  }
  *out = take<Stmt>(stack_, mark);
  return true;
}

Stmt* Parser::parse_simple_statement() {
  uint32_t start = cur().start;
  switch (kind()) {
    case TokenKind::Pass:
      bump();
      return node<Pass>(start);
    case TokenKind::Break:
      bump();
      return node<Break>(start);
    case TokenKind::Continue:
      bump();
      return node<Continue>(start);
    case TokenKind::Return: {
      bump();
      auto* r = node<Return>(start);
      if (!at(TokenKind::Newline) && !at(TokenKind::Semi)) {
        if (!(r->value = parse_star_expressions())) return nullptr;
      }
      r->range.end = prev_end();
      return r;
    }
    case TokenKind::Raise: {
      bump();
      auto* r = node<Raise>(start);
      if (!at(TokenKind::Newline) && !at(TokenKind::Semi)) {
        if (!(r->exc = parse_expression())) return nullptr;
        if (eat(TokenKind::From) && !(r->cause = parse_expression())) return nullptr;
      }
      r->range.end = prev_end();
      return r;
    }
    case TokenKind::Assert: {
      bump();
      auto* a = node<Assert>(start);
      if (!(a->test = parse_expression())) return nullptr;
      if (eat(TokenKind::Comma) && !(a->msg = parse_expression())) return nullptr;
      a->range.end = prev_end();
      return a;
    }
    case TokenKind::Import:
      return parse_import();
    case TokenKind::From:
      return parse_from_import();
    case TokenKind::Global:
      return parse_name_list_stmt(true);
    case TokenKind::Nonlocal:
      return parse_name_list_stmt(false);
    case TokenKind::Del:
      return parse_del();
    case TokenKind::Name:
      if (peek().kind == TokenKind::Name && at_soft_keyword("type")) return parse_type_alias();
      return parse_expression_statement();
    default:
      return parse_expression_statement();
  }
}

Stmt* Parser::parse_expression_statement() {
  uint32_t start = cur().start;
  Expr* e = at(TokenKind::Yield) ? parse_yield() : parse_star_expressions();
  if (!e) return nullptr;
  Operator op;
  if (at(TokenKind::Equal)) {
    size_t mark = stack_.size();
    stack_.push_back(e);
    while (eat(TokenKind::Equal)) {
      Expr* rhs = at(TokenKind::Yield) ? parse_yield() : parse_star_expressions();
      if (!rhs) return nullptr;
      stack_.push_back(rhs);
    }
    auto* a = node<Assign>(start);
    a->value = static_cast<Expr*>(stack_.back());
    stack_.pop_back();
    a->targets = take<Expr>(stack_, mark);
    for (Expr* t : a->targets) {
      if (!to_target(t, TargetUse::Assign)) return nullptr;
    }
    return a;
  }
  if (at(TokenKind::Colon)) {
    if (!to_target(e, TargetUse::Annotated)) return nullptr;
    bump();
    auto* a = node<AnnAssign>(start);
    a->target = e;
    a->simple = e->kind == NodeKind::Name && e->range.start == start;
    if (!(a->annotation = parse_expression())) return nullptr;
    if (eat(TokenKind::Equal)) {
      a->value = at(TokenKind::Yield) ? parse_yield() : parse_star_expressions();
      if (!a->value) return nullptr;
    }
    a->range.end = prev_end();
    return a;
  }
  if (aug_operator(kind(), &op)) {
    if (!to_target(e, TargetUse::AugAssign)) return nullptr;
    bump();
    auto* a = node<AugAssign>(start);
    a->target = e;
    a->op = op;
    a->value = at(TokenKind::Yield) ? parse_yield() : parse_star_expressions();
    if (!a->value) return nullptr;
    a->range.end = prev_end();
    return a;
  }
  auto* s = node<ExprStmt>(start);
  s->value = e;
  return s;
}

// A dotted name as one text: a view of the source when written without spaces.
bool Parser::parse_dotted_name(std::string_view* out) {
  if (!at(TokenKind::Name)) return unexpected("name");
  const Token& first = bump();
  std::string_view name = identifier(first);
  bool contiguous = (first.flags & kNonAscii) == 0;
  std::string joined(name);
  uint32_t end = first.end;
  while (at(TokenKind::Dot)) {
    const Token& dot = bump();
    if (!at(TokenKind::Name)) return unexpected("name");
    const Token& part = bump();
    if (dot.start != end || part.start != dot.end || (part.flags & kNonAscii)) contiguous = false;
    joined += '.';
    joined += identifier(part);
    end = part.end;
  }
  *out = contiguous ? src_.substr(first.start, end - first.start) : arena_.copy_text(joined);
  return true;
}

Stmt* Parser::parse_import() {
  uint32_t start = bump().start;
  size_t mark = stack_.size();
  do {
    uint32_t a_start = cur().start;
    std::string_view name;
    if (!parse_dotted_name(&name)) return nullptr;
    auto* alias = arena_.make<Alias>();
    alias->name = name;
    if (eat(TokenKind::As)) {
      if (!at(TokenKind::Name)) return unexpected("name");
      alias->asname = identifier(bump());
    }
    alias->range = {a_start, prev_end()};
    stack_.push_back(alias);
  } while (eat(TokenKind::Comma));
  auto* s = node<Import>(start);
  s->names = take<Alias>(stack_, mark);
  return s;
}

Stmt* Parser::parse_from_import() {
  uint32_t start = bump().start;
  uint32_t level = 0;
  for (;;) {
    if (eat(TokenKind::Dot)) {
      level += 1;
    } else if (eat(TokenKind::Ellipsis)) {
      level += 3;
    } else {
      break;
    }
  }
  std::string_view module;
  if (level == 0 || at(TokenKind::Name)) {
    if (!parse_dotted_name(&module)) return nullptr;
  }
  if (!expect(TokenKind::Import)) return nullptr;
  size_t mark = stack_.size();
  if (at(TokenKind::Star)) {
    const Token& star = bump();
    auto* alias = arena_.make<Alias>();
    alias->name = text(star);
    alias->range = {star.start, star.end};
    stack_.push_back(alias);
  } else {
    bool paren = eat(TokenKind::LPar);
    for (;;) {
      if (!at(TokenKind::Name)) return unexpected("name");
      const Token& n = bump();
      auto* alias = arena_.make<Alias>();
      alias->name = identifier(n);
      if (eat(TokenKind::As)) {
        if (!at(TokenKind::Name)) return unexpected("name");
        alias->asname = identifier(bump());
      }
      alias->range = {n.start, prev_end()};
      stack_.push_back(alias);
      if (!at(TokenKind::Comma)) break;
      const Token& comma = bump();
      if (paren && at(TokenKind::RPar)) break;
      if (!paren && (at(TokenKind::Newline) || at(TokenKind::Semi))) {
        return syntax_error(comma, "trailing comma not allowed without surrounding parentheses");
      }
    }
    if (paren && !expect(TokenKind::RPar)) return nullptr;
  }
  auto* s = node<ImportFrom>(start);
  s->module = module;
  s->level = level;
  s->names = take<Alias>(stack_, mark);
  return s;
}

Stmt* Parser::parse_name_list_stmt(bool global) {
  uint32_t start = bump().start;
  std::vector<std::string_view> names;
  do {
    if (!at(TokenKind::Name)) return unexpected("name");
    names.push_back(identifier(bump()));
  } while (eat(TokenKind::Comma));
  auto list = arena_.copy(std::span<const std::string_view>(names));
  if (global) {
    auto* s = node<Global>(start);
    s->names = list;
    return s;
  }
  auto* s = node<Nonlocal>(start);
  s->names = list;
  return s;
}

Stmt* Parser::parse_del() {
  uint32_t start = bump().start;
  Expr* e = parse_star_expressions();
  if (!e) return nullptr;
  if (!at(TokenKind::Newline) && !at(TokenKind::Semi)) return unexpected();
  if (!to_target(e, TargetUse::Delete)) return nullptr;
  auto* d = node<Delete>(start);
  auto* tuple = e->as<Tuple>();
  if (tuple && !tuple->parenthesized) {
    d->targets = tuple->elts;
  } else {
    auto* p = static_cast<Expr**>(arena_.allocate(sizeof(Expr*), alignof(Expr*)));
    *p = e;
    d->targets = {p, 1};
  }
  return d;
}

Stmt* Parser::parse_type_alias() {
  uint32_t start = bump().start;
  const Token& n = bump();
  auto* name = node<Name>(n.start, n.end);
  name->id = identifier(n);
  name->ctx = ExprContext::Store;
  auto* s = arena_.make<TypeAlias>();
  s->kind = NodeKind::TypeAlias;
  s->name = name;
  if (at(TokenKind::LSqb) && !parse_type_params(&s->type_params)) return nullptr;
  if (!expect(TokenKind::Equal)) return nullptr;
  if (!(s->value = parse_expression())) return nullptr;
  s->range = {start, prev_end()};
  return s;
}

}  // namespace korvane::python
