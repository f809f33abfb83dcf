#include "python/ast_visit.h"

namespace korvane::python {
namespace {

using Visit = std::function<void(const Node*)>;

void one(const Node* n, const Visit& v) {
  if (n) v(n);
}
template <class T>
void all(std::span<T* const> items, const Visit& v) {
  for (const T* n : items) one(n, v);
}
void arguments(const Arguments* a, const Visit& v) {
  // Source order: each parameter's annotation, then the defaults in the order they appear.
  size_t positional = a->posonlyargs.size() + a->args.size();
  size_t first_default = positional - a->defaults.size();
  size_t i = 0;
  for (auto list : {a->posonlyargs, a->args}) {
    for (const Arg* arg : list) {
      one(arg->annotation, v);
      if (i >= first_default) one(a->defaults[i - first_default], v);
      ++i;
    }
  }
  if (a->vararg) one(a->vararg->annotation, v);
  for (size_t k = 0; k < a->kwonlyargs.size(); ++k) {
    one(a->kwonlyargs[k]->annotation, v);
    one(a->kw_defaults[k], v);
  }
  if (a->kwarg) one(a->kwarg->annotation, v);
}
void comprehensions(std::span<Comprehension* const> gens, const Visit& v) {
  for (const Comprehension* c : gens) {
    one(c->target, v);
    one(c->iter, v);
    all(c->ifs, v);
  }
}

void statement_children(const Node* n, const Visit& v) {
  switch (n->kind) {
    case NodeKind::FunctionDef: {
      auto* f = n->as<FunctionDef>();
      all(f->decorator_list, v);
      all(f->type_params, v);
      arguments(f->args, v);
      one(f->returns, v);
      all(f->body, v);
      return;
    }
    case NodeKind::ClassDef: {
      auto* c = n->as<ClassDef>();
      all(c->decorator_list, v);
      all(c->type_params, v);
      all(c->bases, v);
      for (const Keyword* k : c->keywords) one(k->value, v);
      all(c->body, v);
      return;
    }
    case NodeKind::Return:
      one(n->as<Return>()->value, v);
      return;
    case NodeKind::Delete:
      all(n->as<Delete>()->targets, v);
      return;
    case NodeKind::Assign:
      all(n->as<Assign>()->targets, v), one(n->as<Assign>()->value, v);
      return;
    case NodeKind::TypeAlias: {
      auto* t = n->as<TypeAlias>();
      one(t->name, v), all(t->type_params, v), one(t->value, v);
      return;
    }
    case NodeKind::AugAssign:
      one(n->as<AugAssign>()->target, v), one(n->as<AugAssign>()->value, v);
      return;
    case NodeKind::AnnAssign: {
      auto* a = n->as<AnnAssign>();
      one(a->target, v), one(a->annotation, v), one(a->value, v);
      return;
    }
    case NodeKind::For: {
      auto* f = n->as<For>();
      one(f->target, v), one(f->iter, v), all(f->body, v), all(f->orelse, v);
      return;
    }
    case NodeKind::While: {
      auto* w = n->as<While>();
      one(w->test, v), all(w->body, v), all(w->orelse, v);
      return;
    }
    case NodeKind::If: {
      auto* i = n->as<If>();
      one(i->test, v), all(i->body, v);
      for (const ElifElseClause* c : i->elif_else_clauses) one(c->test, v), all(c->body, v);
      return;
    }
    case NodeKind::With: {
      auto* w = n->as<With>();
      for (const WithItem* item : w->items) one(item->context_expr, v), one(item->optional_vars, v);
      all(w->body, v);
      return;
    }
    case NodeKind::Match: {
      auto* m = n->as<Match>();
      one(m->subject, v);
      for (const MatchCase* c : m->cases) one(c->pattern, v), one(c->guard, v), all(c->body, v);
      return;
    }
    case NodeKind::Raise:
      one(n->as<Raise>()->exc, v), one(n->as<Raise>()->cause, v);
      return;
    case NodeKind::Try: {
      auto* t = n->as<Try>();
      all(t->body, v);
      for (const ExceptHandler* h : t->handlers) one(h->type, v), all(h->body, v);
      all(t->orelse, v), all(t->finalbody, v);
      return;
    }
    case NodeKind::Assert:
      one(n->as<Assert>()->test, v), one(n->as<Assert>()->msg, v);
      return;
    case NodeKind::ExprStmt:
      one(n->as<ExprStmt>()->value, v);
      return;
    default:
      return;
  }
}

void expression_children(const Node* n, const Visit& v) {
  switch (n->kind) {
    case NodeKind::BoolOp:
      all(n->as<BoolOp>()->values, v);
      return;
    case NodeKind::NamedExpr:
      one(n->as<NamedExpr>()->target, v), one(n->as<NamedExpr>()->value, v);
      return;
    case NodeKind::BinOp:
      one(n->as<BinOp>()->left, v), one(n->as<BinOp>()->right, v);
      return;
    case NodeKind::UnaryOp:
      one(n->as<UnaryOp>()->operand, v);
      return;
    case NodeKind::Lambda:
      arguments(n->as<Lambda>()->args, v), one(n->as<Lambda>()->body, v);
      return;
    case NodeKind::IfExp: {
      auto* i = n->as<IfExp>();
      one(i->body, v), one(i->test, v), one(i->orelse, v);
      return;
    }
    case NodeKind::Dict: {
      auto* d = n->as<Dict>();
      for (size_t i = 0; i < d->keys.size(); ++i) one(d->keys[i], v), one(d->values[i], v);
      return;
    }
    case NodeKind::Set:
      all(n->as<Set>()->elts, v);
      return;
    case NodeKind::ListComp:
      one(n->as<ListComp>()->elt, v), comprehensions(n->as<ListComp>()->generators, v);
      return;
    case NodeKind::SetComp:
      one(n->as<SetComp>()->elt, v), comprehensions(n->as<SetComp>()->generators, v);
      return;
    case NodeKind::DictComp: {
      auto* d = n->as<DictComp>();
      one(d->key, v), one(d->value, v), comprehensions(d->generators, v);
      return;
    }
    case NodeKind::GeneratorExp:
      one(n->as<GeneratorExp>()->elt, v), comprehensions(n->as<GeneratorExp>()->generators, v);
      return;
    case NodeKind::Await:
      one(n->as<Await>()->value, v);
      return;
    case NodeKind::Yield:
      one(n->as<Yield>()->value, v);
      return;
    case NodeKind::YieldFrom:
      one(n->as<YieldFrom>()->value, v);
      return;
    case NodeKind::Compare:
      one(n->as<Compare>()->left, v), all(n->as<Compare>()->comparators, v);
      return;
    case NodeKind::Call: {
      auto* c = n->as<Call>();
      one(c->func, v), all(c->args, v);
      for (const Keyword* k : c->keywords) one(k->value, v);
      return;
    }
    case NodeKind::FormattedValue:
      one(n->as<FormattedValue>()->value, v), one(n->as<FormattedValue>()->format_spec, v);
      return;
    case NodeKind::JoinedStr:
      all(n->as<JoinedStr>()->values, v);
      return;
    case NodeKind::Interpolation:
      one(n->as<Interpolation>()->value, v), one(n->as<Interpolation>()->format_spec, v);
      return;
    case NodeKind::TemplateStr:
      all(n->as<TemplateStr>()->values, v);
      return;
    case NodeKind::Attribute:
      one(n->as<Attribute>()->value, v);
      return;
    case NodeKind::Subscript:
      one(n->as<Subscript>()->value, v), one(n->as<Subscript>()->slice, v);
      return;
    case NodeKind::Starred:
      one(n->as<Starred>()->value, v);
      return;
    case NodeKind::List:
      all(n->as<List>()->elts, v);
      return;
    case NodeKind::Tuple:
      all(n->as<Tuple>()->elts, v);
      return;
    case NodeKind::Slice: {
      auto* s = n->as<Slice>();
      one(s->lower, v), one(s->upper, v), one(s->step, v);
      return;
    }
    default:
      return;
  }
}

void pattern_children(const Node* n, const Visit& v) {
  switch (n->kind) {
    case NodeKind::MatchValue:
      one(n->as<MatchValue>()->value, v);
      return;
    case NodeKind::MatchSequence:
      all(n->as<MatchSequence>()->patterns, v);
      return;
    case NodeKind::MatchMapping: {
      auto* m = n->as<MatchMapping>();
      for (size_t i = 0; i < m->keys.size(); ++i) one(m->keys[i], v), one(m->patterns[i], v);
      return;
    }
    case NodeKind::MatchClass: {
      auto* c = n->as<MatchClass>();
      one(c->cls, v), all(c->patterns, v), all(c->kwd_patterns, v);
      return;
    }
    case NodeKind::MatchAs:
      one(n->as<MatchAs>()->pattern, v);
      return;
    case NodeKind::MatchOr:
      all(n->as<MatchOr>()->patterns, v);
      return;
    case NodeKind::TypeVar:
      one(n->as<TypeVar>()->bound, v), one(n->as<TypeVar>()->default_value, v);
      return;
    case NodeKind::ParamSpec:
      one(n->as<ParamSpec>()->default_value, v);
      return;
    case NodeKind::TypeVarTuple:
      one(n->as<TypeVarTuple>()->default_value, v);
      return;
    default:
      return;
  }
}

}  // namespace

void for_each_child(const Node* node, const Visit& visit) {
  if (node->is<Stmt>()) {
    statement_children(node, visit);
  } else if (node->is<Expr>()) {
    expression_children(node, visit);
  } else {
    pattern_children(node, visit);
  }
}

}  // namespace korvane::python
