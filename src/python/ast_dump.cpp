#include "python/ast_dump.h"

#include <fmt/format.h>

namespace korvane::python {
namespace {

constexpr const char* kOperators[] = {"+",  "-",  "*", "@", "/", "%", "**",
                                      "<<", ">>", "|", "^", "&", "//"};
constexpr const char* kUnary[] = {"~", "not", "+", "-"};
constexpr const char* kCompare[] = {"==", "!=", "<",      "<=", ">",
                                    ">=", "is", "is not", "in", "not in"};
constexpr const char* kConversion[] = {"", "!s", "!r", "!a"};

class Dumper {
 public:
  std::string out;

  void node(const Node* n);
  template <class T>
  void list(std::span<T* const> items) {
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
      if (i) out += ", ";
      item(items[i]);
    }
    out += ']';
  }
  void names(IdentifierList items) {
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
      if (i) out += ", ";
      out += items[i];
    }
    out += ']';
  }
  void quoted(std::string_view s) {
    out += '"';
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c < 0x20 || c == 0x7f) {
        out += fmt::format("\\x{:02x}", c);
      } else {
        out += static_cast<char>(c);
      }
    }
    out += '"';
  }
  void opt_name(std::string_view s) { out += s.empty() ? std::string_view("-") : s; }

  void item(const Node* n) { node(n); }
  void item(const Arg* a) {
    out += a->arg;
    if (a->annotation) {
      out += ": ";
      node(a->annotation);
    }
  }
  void item(const Keyword* k) {
    out += k->arg.empty() ? std::string_view("**") : k->arg;
    out += '=';
    node(k->value);
  }
  void item(const Alias* a) {
    out += a->name;
    if (!a->asname.empty()) {
      out += " as ";
      out += a->asname;
    }
  }
  void item(const WithItem* w) {
    node(w->context_expr);
    if (w->optional_vars) {
      out += " as ";
      node(w->optional_vars);
    }
  }
  void item(const ExceptHandler* h) {
    out += "except(";
    node(h->type);
    out += ", ";
    opt_name(h->name);
    out += ", ";
    list(h->body);
    out += ')';
  }
  void item(const Comprehension* c) {
    out += c->is_async ? "async for " : "for ";
    node(c->target);
    out += " in ";
    node(c->iter);
    for (Expr* cond : c->ifs) {
      out += " if ";
      node(cond);
    }
  }
  void item(const MatchCase* c) {
    out += "case(";
    node(c->pattern);
    out += ", ";
    node(c->guard);
    out += ", ";
    list(c->body);
    out += ')';
  }
  void item(const ElifElseClause* c) {
    out += c->test ? "elif(" : "else(";
    if (c->test) {
      node(c->test);
      out += ", ";
    }
    list(c->body);
    out += ')';
  }
  void args(const Arguments* a) {
    out += "args(";
    list(a->posonlyargs);
    out += ", ";
    list(a->args);
    out += ", ";
    if (a->vararg) {
      item(a->vararg);
    } else {
      out += '-';
    }
    out += ", ";
    list(a->kwonlyargs);
    out += ", [";
    for (size_t i = 0; i < a->kw_defaults.size(); ++i) {
      if (i) out += ", ";
      node(a->kw_defaults[i]);
    }
    out += "], ";
    if (a->kwarg) {
      item(a->kwarg);
    } else {
      out += '-';
    }
    out += ", ";
    list(a->defaults);
    out += ')';
  }

  // Kind(child, child, ...) for the fields given.
  template <class... F>
  void call(std::string_view name, F&&... fields) {
    out += name;
    out += '(';
    bool first = true;
    ((first ? void(first = false) : void(out += ", "), fields()), ...);
    out += ')';
  }

  void stmt(const Stmt* s);
  void expr(const Expr* e);
  void pattern(const Pattern* p);
};

void Dumper::node(const Node* n) {
  if (!n) {
    out += '-';
  } else if (n->is<Stmt>()) {
    stmt(static_cast<const Stmt*>(n));
  } else if (n->is<Expr>()) {
    expr(static_cast<const Expr*>(n));
  } else if (n->is<Pattern>()) {
    pattern(static_cast<const Pattern*>(n));
  } else if (auto* t = n->as<TypeVar>()) {
    call(
        "TypeVar", [&] { out += t->name; }, [&] { node(t->bound); },
        [&] { node(t->default_value); });
  } else if (auto* p = n->as<ParamSpec>()) {
    call(
        "ParamSpec", [&] { out += p->name; }, [&] { node(p->default_value); });
  } else if (auto* v = n->as<TypeVarTuple>()) {
    call(
        "TypeVarTuple", [&] { out += v->name; }, [&] { node(v->default_value); });
  }
}

void Dumper::stmt(const Stmt* s) {
  auto L = [&](auto items) { return [this, items] { list(items); }; };
  auto N = [&](const Node* n) { return [this, n] { node(n); }; };
  auto S = [&](std::string_view t) { return [this, t] { out += t; }; };
  switch (s->kind) {
    case NodeKind::FunctionDef: {
      auto* f = s->as<FunctionDef>();
      call(
          f->is_async ? "AsyncFunctionDef" : "FunctionDef", S(f->name), L(f->type_params),
          [&] { args(f->args); }, N(f->returns), L(f->body), L(f->decorator_list));
      return;
    }
    case NodeKind::ClassDef: {
      auto* c = s->as<ClassDef>();
      call("ClassDef", S(c->name), L(c->type_params), L(c->bases), L(c->keywords), L(c->body),
           L(c->decorator_list));
      return;
    }
    case NodeKind::Return:
      call("Return", N(s->as<Return>()->value));
      return;
    case NodeKind::Delete:
      call("Delete", L(s->as<Delete>()->targets));
      return;
    case NodeKind::Assign:
      call("Assign", L(s->as<Assign>()->targets), N(s->as<Assign>()->value));
      return;
    case NodeKind::TypeAlias: {
      auto* t = s->as<TypeAlias>();
      call("TypeAlias", N(t->name), L(t->type_params), N(t->value));
      return;
    }
    case NodeKind::AugAssign: {
      auto* a = s->as<AugAssign>();
      call("AugAssign", N(a->target), S(kOperators[int(a->op)]), N(a->value));
      return;
    }
    case NodeKind::AnnAssign: {
      auto* a = s->as<AnnAssign>();
      call("AnnAssign", N(a->target), N(a->annotation), N(a->value), S(a->simple ? "1" : "0"));
      return;
    }
    case NodeKind::For: {
      auto* f = s->as<For>();
      call(f->is_async ? "AsyncFor" : "For", N(f->target), N(f->iter), L(f->body), L(f->orelse));
      return;
    }
    case NodeKind::While: {
      auto* w = s->as<While>();
      call("While", N(w->test), L(w->body), L(w->orelse));
      return;
    }
    case NodeKind::If: {
      auto* i = s->as<If>();
      call("If", N(i->test), L(i->body), L(i->elif_else_clauses));
      return;
    }
    case NodeKind::With: {
      auto* w = s->as<With>();
      call(w->is_async ? "AsyncWith" : "With", L(w->items), L(w->body));
      return;
    }
    case NodeKind::Match:
      call("Match", N(s->as<Match>()->subject), L(s->as<Match>()->cases));
      return;
    case NodeKind::Raise:
      call("Raise", N(s->as<Raise>()->exc), N(s->as<Raise>()->cause));
      return;
    case NodeKind::Try: {
      auto* t = s->as<Try>();
      call(t->is_star ? "TryStar" : "Try", L(t->body), L(t->handlers), L(t->orelse),
           L(t->finalbody));
      return;
    }
    case NodeKind::Assert:
      call("Assert", N(s->as<Assert>()->test), N(s->as<Assert>()->msg));
      return;
    case NodeKind::Import:
      call("Import", L(s->as<Import>()->names));
      return;
    case NodeKind::ImportFrom: {
      auto* i = s->as<ImportFrom>();
      call(
          "ImportFrom", [&] { opt_name(i->module); }, L(i->names),
          [&] { out += std::to_string(i->level); });
      return;
    }
    case NodeKind::Global:
      call("Global", [&] { names(s->as<Global>()->names); });
      return;
    case NodeKind::Nonlocal:
      call("Nonlocal", [&] { names(s->as<Nonlocal>()->names); });
      return;
    case NodeKind::ExprStmt:
      call("Expr", N(s->as<ExprStmt>()->value));
      return;
    case NodeKind::Pass:
      out += "Pass";
      return;
    case NodeKind::Break:
      out += "Break";
      return;
    case NodeKind::Continue:
      out += "Continue";
      return;
    default:
      out += node_kind_name(s->kind);
      return;
  }
}

void Dumper::expr(const Expr* e) {
  auto L = [&](auto items) { return [this, items] { list(items); }; };
  auto N = [&](const Node* n) { return [this, n] { node(n); }; };
  auto S = [&](std::string_view t) { return [this, t] { out += t; }; };
  switch (e->kind) {
    case NodeKind::BoolOp: {
      auto* b = e->as<BoolOp>();
      call("BoolOp", S(b->op == BoolOperator::And ? "and" : "or"), L(b->values));
      return;
    }
    case NodeKind::NamedExpr:
      call("NamedExpr", N(e->as<NamedExpr>()->target), N(e->as<NamedExpr>()->value));
      return;
    case NodeKind::BinOp: {
      auto* b = e->as<BinOp>();
      call("BinOp", N(b->left), S(kOperators[int(b->op)]), N(b->right));
      return;
    }
    case NodeKind::UnaryOp: {
      auto* u = e->as<UnaryOp>();
      call("UnaryOp", S(kUnary[int(u->op)]), N(u->operand));
      return;
    }
    case NodeKind::Lambda:
      call(
          "Lambda", [&] { args(e->as<Lambda>()->args); }, N(e->as<Lambda>()->body));
      return;
    case NodeKind::IfExp: {
      auto* i = e->as<IfExp>();
      call("IfExp", N(i->test), N(i->body), N(i->orelse));
      return;
    }
    case NodeKind::Dict: {
      auto* d = e->as<Dict>();
      call("Dict", L(d->keys), L(d->values));
      return;
    }
    case NodeKind::Set:
      call("Set", L(e->as<Set>()->elts));
      return;
    case NodeKind::ListComp:
      call("ListComp", N(e->as<ListComp>()->elt), L(e->as<ListComp>()->generators));
      return;
    case NodeKind::SetComp:
      call("SetComp", N(e->as<SetComp>()->elt), L(e->as<SetComp>()->generators));
      return;
    case NodeKind::DictComp: {
      auto* d = e->as<DictComp>();
      call("DictComp", N(d->key), N(d->value), L(d->generators));
      return;
    }
    case NodeKind::GeneratorExp:
      call("GeneratorExp", N(e->as<GeneratorExp>()->elt), L(e->as<GeneratorExp>()->generators));
      return;
    case NodeKind::Await:
      call("Await", N(e->as<Await>()->value));
      return;
    case NodeKind::Yield:
      call("Yield", N(e->as<Yield>()->value));
      return;
    case NodeKind::YieldFrom:
      call("YieldFrom", N(e->as<YieldFrom>()->value));
      return;
    case NodeKind::Compare: {
      auto* c = e->as<Compare>();
      call(
          "Compare", N(c->left),
          [&] {
            out += '[';
            for (size_t i = 0; i < c->ops.size(); ++i) {
              if (i) out += ", ";
              out += kCompare[int(c->ops[i])];
            }
            out += ']';
          },
          L(c->comparators));
      return;
    }
    case NodeKind::Call: {
      auto* c = e->as<Call>();
      call("Call", N(c->func), L(c->args), L(c->keywords));
      return;
    }
    case NodeKind::FormattedValue: {
      auto* f = e->as<FormattedValue>();
      call("FormattedValue", N(f->value), S(kConversion[int(f->conversion)]), N(f->format_spec));
      return;
    }
    case NodeKind::JoinedStr:
      call("JoinedStr", L(e->as<JoinedStr>()->values));
      return;
    case NodeKind::Interpolation: {
      auto* i = e->as<Interpolation>();
      call(
          "Interpolation", N(i->value), [&] { quoted(i->str); }, S(kConversion[int(i->conversion)]),
          N(i->format_spec));
      return;
    }
    case NodeKind::TemplateStr:
      call("TemplateStr", L(e->as<TemplateStr>()->values));
      return;
    case NodeKind::StringLiteral:
      call("Str", [&] { quoted(e->as<StringLiteral>()->value); });
      return;
    case NodeKind::BytesLiteral:
      call("Bytes", [&] { quoted(e->as<BytesLiteral>()->value); });
      return;
    case NodeKind::IntLiteral: {
      auto* i = e->as<IntLiteral>();
      call("Int", [&] { out += i->too_big ? std::string("big") : std::to_string(i->value); });
      return;
    }
    case NodeKind::FloatLiteral:
      call("Float", [&] { out += fmt::format("{}", e->as<FloatLiteral>()->value); });
      return;
    case NodeKind::ImaginaryLiteral:
      call("Imaginary", [&] { out += fmt::format("{}", e->as<ImaginaryLiteral>()->imag); });
      return;
    case NodeKind::BooleanLiteral:
      out += e->as<BooleanLiteral>()->value ? "True" : "False";
      return;
    case NodeKind::NoneLiteral:
      out += "None";
      return;
    case NodeKind::EllipsisLiteral:
      out += "Ellipsis";
      return;
    case NodeKind::Attribute:
      call("Attribute", N(e->as<Attribute>()->value), S(e->as<Attribute>()->attr));
      return;
    case NodeKind::Subscript:
      call("Subscript", N(e->as<Subscript>()->value), N(e->as<Subscript>()->slice));
      return;
    case NodeKind::Starred:
      call("Starred", N(e->as<Starred>()->value));
      return;
    case NodeKind::Name:
      call("Name", S(e->as<Name>()->id));
      return;
    case NodeKind::List:
      call("List", L(e->as<List>()->elts));
      return;
    case NodeKind::Tuple:
      call("Tuple", L(e->as<Tuple>()->elts));
      return;
    case NodeKind::Slice: {
      auto* s = e->as<Slice>();
      call("Slice", N(s->lower), N(s->upper), N(s->step));
      return;
    }
    default:
      out += node_kind_name(e->kind);
      return;
  }
}

void Dumper::pattern(const Pattern* p) {
  auto L = [&](auto items) { return [this, items] { list(items); }; };
  auto N = [&](const Node* n) { return [this, n] { node(n); }; };
  switch (p->kind) {
    case NodeKind::MatchValue:
      call("MatchValue", N(p->as<MatchValue>()->value));
      return;
    case NodeKind::MatchSingleton: {
      constexpr const char* kSingleton[] = {"None", "True", "False"};
      call("MatchSingleton", [&] { out += kSingleton[int(p->as<MatchSingleton>()->value)]; });
      return;
    }
    case NodeKind::MatchSequence:
      call("MatchSequence", L(p->as<MatchSequence>()->patterns));
      return;
    case NodeKind::MatchMapping: {
      auto* m = p->as<MatchMapping>();
      call("MatchMapping", L(m->keys), L(m->patterns), [&] { opt_name(m->rest); });
      return;
    }
    case NodeKind::MatchClass: {
      auto* c = p->as<MatchClass>();
      call(
          "MatchClass", N(c->cls), L(c->patterns), [&] { names(c->kwd_attrs); },
          L(c->kwd_patterns));
      return;
    }
    case NodeKind::MatchStar:
      call("MatchStar", [&] { opt_name(p->as<MatchStar>()->name); });
      return;
    case NodeKind::MatchAs: {
      auto* a = p->as<MatchAs>();
      call("MatchAs", N(a->pattern), [&] { opt_name(a->name); });
      return;
    }
    case NodeKind::MatchOr:
      call("MatchOr", L(p->as<MatchOr>()->patterns));
      return;
    default:
      out += node_kind_name(p->kind);
      return;
  }
}

}  // namespace

std::string dump(StmtList body) {
  Dumper d;
  d.list(body);
  return d.out;
}

std::string dump(const Node* n) {
  Dumper d;
  d.node(n);
  return d.out;
}

}  // namespace korvane::python
