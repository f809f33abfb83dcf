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

// ---- Statements ----

void children(const FunctionDef* n, const Visit& v) {
  all(n->decorator_list, v);
  all(n->type_params, v);
  arguments(n->args, v);
  one(n->returns, v);
  all(n->body, v);
}
void children(const ClassDef* n, const Visit& v) {
  all(n->decorator_list, v);
  all(n->type_params, v);
  all(n->bases, v);
  for (const Keyword* k : n->keywords) one(k->value, v);
  all(n->body, v);
}
void children(const Return* n, const Visit& v) { one(n->value, v); }
void children(const Delete* n, const Visit& v) { all(n->targets, v); }
void children(const Assign* n, const Visit& v) { all(n->targets, v), one(n->value, v); }
void children(const TypeAlias* n, const Visit& v) {
  one(n->name, v), all(n->type_params, v), one(n->value, v);
}
void children(const AugAssign* n, const Visit& v) { one(n->target, v), one(n->value, v); }
void children(const AnnAssign* n, const Visit& v) {
  one(n->target, v), one(n->annotation, v), one(n->value, v);
}
void children(const For* n, const Visit& v) {
  one(n->target, v), one(n->iter, v), all(n->body, v), all(n->orelse, v);
}
void children(const While* n, const Visit& v) {
  one(n->test, v), all(n->body, v), all(n->orelse, v);
}
void children(const If* n, const Visit& v) {
  one(n->test, v), all(n->body, v);
  for (const ElifElseClause* c : n->elif_else_clauses) one(c->test, v), all(c->body, v);
}
void children(const With* n, const Visit& v) {
  for (const WithItem* item : n->items) one(item->context_expr, v), one(item->optional_vars, v);
  all(n->body, v);
}
void children(const Match* n, const Visit& v) {
  one(n->subject, v);
  for (const MatchCase* c : n->cases) one(c->pattern, v), one(c->guard, v), all(c->body, v);
}
void children(const Raise* n, const Visit& v) { one(n->exc, v), one(n->cause, v); }
void children(const Try* n, const Visit& v) {
  all(n->body, v);
  for (const ExceptHandler* h : n->handlers) one(h->type, v), all(h->body, v);
  all(n->orelse, v), all(n->finalbody, v);
}
void children(const Assert* n, const Visit& v) { one(n->test, v), one(n->msg, v); }
void children(const ExprStmt* n, const Visit& v) { one(n->value, v); }

// ---- Expressions ----

void children(const BoolOp* n, const Visit& v) { all(n->values, v); }
void children(const NamedExpr* n, const Visit& v) { one(n->target, v), one(n->value, v); }
void children(const BinOp* n, const Visit& v) { one(n->left, v), one(n->right, v); }
void children(const UnaryOp* n, const Visit& v) { one(n->operand, v); }
void children(const Lambda* n, const Visit& v) { arguments(n->args, v), one(n->body, v); }
void children(const IfExp* n, const Visit& v) {
  one(n->body, v), one(n->test, v), one(n->orelse, v);
}
void children(const Dict* n, const Visit& v) {
  for (size_t i = 0; i < n->keys.size(); ++i) one(n->keys[i], v), one(n->values[i], v);
}
void children(const Set* n, const Visit& v) { all(n->elts, v); }
void children(const ListComp* n, const Visit& v) {
  one(n->elt, v), comprehensions(n->generators, v);
}
void children(const SetComp* n, const Visit& v) {
  one(n->elt, v), comprehensions(n->generators, v);
}
void children(const DictComp* n, const Visit& v) {
  one(n->key, v), one(n->value, v), comprehensions(n->generators, v);
}
void children(const GeneratorExp* n, const Visit& v) {
  one(n->elt, v), comprehensions(n->generators, v);
}
void children(const Await* n, const Visit& v) { one(n->value, v); }
void children(const Yield* n, const Visit& v) { one(n->value, v); }
void children(const YieldFrom* n, const Visit& v) { one(n->value, v); }
void children(const Compare* n, const Visit& v) { one(n->left, v), all(n->comparators, v); }
void children(const Call* n, const Visit& v) {
  one(n->func, v), all(n->args, v);
  for (const Keyword* k : n->keywords) one(k->value, v);
}
void children(const FormattedValue* n, const Visit& v) { one(n->value, v), one(n->format_spec, v); }
void children(const JoinedStr* n, const Visit& v) { all(n->values, v); }
void children(const Interpolation* n, const Visit& v) { one(n->value, v), one(n->format_spec, v); }
void children(const TemplateStr* n, const Visit& v) { all(n->values, v); }
void children(const Attribute* n, const Visit& v) { one(n->value, v); }
void children(const Subscript* n, const Visit& v) { one(n->value, v), one(n->slice, v); }
void children(const Starred* n, const Visit& v) { one(n->value, v); }
void children(const List* n, const Visit& v) { all(n->elts, v); }
void children(const Tuple* n, const Visit& v) { all(n->elts, v); }
void children(const Slice* n, const Visit& v) {
  one(n->lower, v), one(n->upper, v), one(n->step, v);
}

// ---- Patterns and type parameters ----

void children(const MatchValue* n, const Visit& v) { one(n->value, v); }
void children(const MatchSequence* n, const Visit& v) { all(n->patterns, v); }
void children(const MatchMapping* n, const Visit& v) {
  for (size_t i = 0; i < n->keys.size(); ++i) one(n->keys[i], v), one(n->patterns[i], v);
}
void children(const MatchClass* n, const Visit& v) {
  one(n->cls, v), all(n->patterns, v), all(n->kwd_patterns, v);
}
void children(const MatchAs* n, const Visit& v) { one(n->pattern, v); }
void children(const MatchOr* n, const Visit& v) { all(n->patterns, v); }
void children(const TypeVar* n, const Visit& v) { one(n->bound, v), one(n->default_value, v); }
void children(const ParamSpec* n, const Visit& v) { one(n->default_value, v); }
void children(const TypeVarTuple* n, const Visit& v) { one(n->default_value, v); }

// ---- Kinds without child nodes ----

void children(const Import*, const Visit&) {}
void children(const ImportFrom*, const Visit&) {}
void children(const Global*, const Visit&) {}
void children(const Nonlocal*, const Visit&) {}
void children(const Pass*, const Visit&) {}
void children(const Break*, const Visit&) {}
void children(const Continue*, const Visit&) {}
void children(const StringLiteral*, const Visit&) {}
void children(const BytesLiteral*, const Visit&) {}
void children(const IntLiteral*, const Visit&) {}
void children(const FloatLiteral*, const Visit&) {}
void children(const ImaginaryLiteral*, const Visit&) {}
void children(const BooleanLiteral*, const Visit&) {}
void children(const NoneLiteral*, const Visit&) {}
void children(const EllipsisLiteral*, const Visit&) {}
void children(const Name*, const Visit&) {}
void children(const MatchSingleton*, const Visit&) {}
void children(const MatchStar*, const Visit&) {}

}  // namespace

void for_each_child(const Node* node, const Visit& visit) {
  switch (node->kind) {
#define NODE(Kind, Base)                             \
  case NodeKind::Kind:                               \
    children(static_cast<const Kind*>(node), visit); \
    return;
#include "python/node_kinds.def"
  }
}

}  // namespace korvane::python
