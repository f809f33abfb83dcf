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

  // Kind(field, field, ...), each field printed by a callable.
  template <class... F>
  void call(std::string_view name, F&&... fields) {
    out += name;
    out += '(';
    bool first = true;
    ((first ? void(first = false) : void(out += ", "), fields()), ...);
    out += ')';
  }
  // Fields for call().
  auto child(const Node* n) {
    return [this, n] { node(n); };
  }
  template <class T>
  auto children(std::span<T* const> items) {
    return [this, items] { list(items); };
  }
  auto text(std::string_view t) {
    return [this, t] { out += t; };
  }
  auto text_or_dash(std::string_view t) {
    return [this, t] { opt_name(t); };
  }

  // The fields of each kind of node.
#define NODE(Kind, Base) void print(const Kind* n);
#include "python/node_kinds.def"
};

void Dumper::node(const Node* n) {
  if (!n) {
    out += '-';
    return;
  }
  switch (n->kind) {
#define NODE(Kind, Base)                \
  case NodeKind::Kind:                  \
    print(static_cast<const Kind*>(n)); \
    return;
#include "python/node_kinds.def"
  }
}

// ---- Statements ----

void Dumper::print(const FunctionDef* n) {
  call(
      n->is_async ? "AsyncFunctionDef" : "FunctionDef", text(n->name), children(n->type_params),
      [&] { args(n->args); }, child(n->returns), children(n->body), children(n->decorator_list));
}
void Dumper::print(const ClassDef* n) {
  call("ClassDef", text(n->name), children(n->type_params), children(n->bases),
       children(n->keywords), children(n->body), children(n->decorator_list));
}
void Dumper::print(const Return* n) { call("Return", child(n->value)); }
void Dumper::print(const Delete* n) { call("Delete", children(n->targets)); }
void Dumper::print(const Assign* n) { call("Assign", children(n->targets), child(n->value)); }
void Dumper::print(const TypeAlias* n) {
  call("TypeAlias", child(n->name), children(n->type_params), child(n->value));
}
void Dumper::print(const AugAssign* n) {
  call("AugAssign", child(n->target), text(kOperators[int(n->op)]), child(n->value));
}
void Dumper::print(const AnnAssign* n) {
  call("AnnAssign", child(n->target), child(n->annotation), child(n->value),
       text(n->simple ? "1" : "0"));
}
void Dumper::print(const For* n) {
  call(n->is_async ? "AsyncFor" : "For", child(n->target), child(n->iter), children(n->body),
       children(n->orelse));
}
void Dumper::print(const While* n) {
  call("While", child(n->test), children(n->body), children(n->orelse));
}
void Dumper::print(const If* n) {
  call("If", child(n->test), children(n->body), children(n->elif_else_clauses));
}
void Dumper::print(const With* n) {
  call(n->is_async ? "AsyncWith" : "With", children(n->items), children(n->body));
}
void Dumper::print(const Match* n) { call("Match", child(n->subject), children(n->cases)); }
void Dumper::print(const Raise* n) { call("Raise", child(n->exc), child(n->cause)); }
void Dumper::print(const Try* n) {
  call(n->is_star ? "TryStar" : "Try", children(n->body), children(n->handlers),
       children(n->orelse), children(n->finalbody));
}
void Dumper::print(const Assert* n) { call("Assert", child(n->test), child(n->msg)); }
void Dumper::print(const Import* n) { call("Import", children(n->names)); }
void Dumper::print(const ImportFrom* n) {
  call("ImportFrom", text_or_dash(n->module), children(n->names),
       [&] { out += std::to_string(n->level); });
}
void Dumper::print(const Global* n) {
  call("Global", [&] { names(n->names); });
}
void Dumper::print(const Nonlocal* n) {
  call("Nonlocal", [&] { names(n->names); });
}
void Dumper::print(const ExprStmt* n) { call("Expr", child(n->value)); }
void Dumper::print(const Pass*) { out += "Pass"; }
void Dumper::print(const Break*) { out += "Break"; }
void Dumper::print(const Continue*) { out += "Continue"; }

// ---- Expressions ----

void Dumper::print(const BoolOp* n) {
  call("BoolOp", text(n->op == BoolOperator::And ? "and" : "or"), children(n->values));
}
void Dumper::print(const NamedExpr* n) { call("NamedExpr", child(n->target), child(n->value)); }
void Dumper::print(const BinOp* n) {
  call("BinOp", child(n->left), text(kOperators[int(n->op)]), child(n->right));
}
void Dumper::print(const UnaryOp* n) {
  call("UnaryOp", text(kUnary[int(n->op)]), child(n->operand));
}
void Dumper::print(const Lambda* n) {
  call(
      "Lambda", [&] { args(n->args); }, child(n->body));
}
void Dumper::print(const IfExp* n) {
  call("IfExp", child(n->test), child(n->body), child(n->orelse));
}
void Dumper::print(const Dict* n) { call("Dict", children(n->keys), children(n->values)); }
void Dumper::print(const Set* n) { call("Set", children(n->elts)); }
void Dumper::print(const ListComp* n) { call("ListComp", child(n->elt), children(n->generators)); }
void Dumper::print(const SetComp* n) { call("SetComp", child(n->elt), children(n->generators)); }
void Dumper::print(const DictComp* n) {
  call("DictComp", child(n->key), child(n->value), children(n->generators));
}
void Dumper::print(const GeneratorExp* n) {
  call("GeneratorExp", child(n->elt), children(n->generators));
}
void Dumper::print(const Await* n) { call("Await", child(n->value)); }
void Dumper::print(const Yield* n) { call("Yield", child(n->value)); }
void Dumper::print(const YieldFrom* n) { call("YieldFrom", child(n->value)); }
void Dumper::print(const Compare* n) {
  auto ops = [&] {
    out += '[';
    for (size_t i = 0; i < n->ops.size(); ++i) {
      if (i) out += ", ";
      out += kCompare[int(n->ops[i])];
    }
    out += ']';
  };
  call("Compare", child(n->left), ops, children(n->comparators));
}
void Dumper::print(const Call* n) {
  call("Call", child(n->func), children(n->args), children(n->keywords));
}
void Dumper::print(const FormattedValue* n) {
  call("FormattedValue", child(n->value), text(kConversion[int(n->conversion)]),
       child(n->format_spec));
}
void Dumper::print(const JoinedStr* n) { call("JoinedStr", children(n->values)); }
void Dumper::print(const Interpolation* n) {
  call(
      "Interpolation", child(n->value), [&] { quoted(n->str); },
      text(kConversion[int(n->conversion)]), child(n->format_spec));
}
void Dumper::print(const TemplateStr* n) { call("TemplateStr", children(n->values)); }
void Dumper::print(const StringLiteral* n) {
  call("Str", [&] { quoted(n->value); });
}
void Dumper::print(const BytesLiteral* n) {
  call("Bytes", [&] { quoted(n->value); });
}
void Dumper::print(const IntLiteral* n) {
  call("Int", [&] { out += n->too_big ? std::string("big") : std::to_string(n->value); });
}
void Dumper::print(const FloatLiteral* n) {
  call("Float", [&] { out += fmt::format("{}", n->value); });
}
void Dumper::print(const ImaginaryLiteral* n) {
  call("Imaginary", [&] { out += fmt::format("{}", n->imag); });
}
void Dumper::print(const BooleanLiteral* n) { out += n->value ? "True" : "False"; }
void Dumper::print(const NoneLiteral*) { out += "None"; }
void Dumper::print(const EllipsisLiteral*) { out += "Ellipsis"; }
void Dumper::print(const Attribute* n) { call("Attribute", child(n->value), text(n->attr)); }
void Dumper::print(const Subscript* n) { call("Subscript", child(n->value), child(n->slice)); }
void Dumper::print(const Starred* n) { call("Starred", child(n->value)); }
void Dumper::print(const Name* n) { call("Name", text(n->id)); }
void Dumper::print(const List* n) { call("List", children(n->elts)); }
void Dumper::print(const Tuple* n) { call("Tuple", children(n->elts)); }
void Dumper::print(const Slice* n) {
  call("Slice", child(n->lower), child(n->upper), child(n->step));
}

// ---- Patterns ----

void Dumper::print(const MatchValue* n) { call("MatchValue", child(n->value)); }
void Dumper::print(const MatchSingleton* n) {
  constexpr const char* kSingleton[] = {"None", "True", "False"};
  call("MatchSingleton", text(kSingleton[int(n->value)]));
}
void Dumper::print(const MatchSequence* n) { call("MatchSequence", children(n->patterns)); }
void Dumper::print(const MatchMapping* n) {
  call("MatchMapping", children(n->keys), children(n->patterns), text_or_dash(n->rest));
}
void Dumper::print(const MatchClass* n) {
  call(
      "MatchClass", child(n->cls), children(n->patterns), [&] { names(n->kwd_attrs); },
      children(n->kwd_patterns));
}
void Dumper::print(const MatchStar* n) { call("MatchStar", text_or_dash(n->name)); }
void Dumper::print(const MatchAs* n) { call("MatchAs", child(n->pattern), text_or_dash(n->name)); }
void Dumper::print(const MatchOr* n) { call("MatchOr", children(n->patterns)); }

// ---- Type parameters ----

void Dumper::print(const TypeVar* n) {
  call("TypeVar", text(n->name), child(n->bound), child(n->default_value));
}
void Dumper::print(const ParamSpec* n) {
  call("ParamSpec", text(n->name), child(n->default_value));
}
void Dumper::print(const TypeVarTuple* n) {
  call("TypeVarTuple", text(n->name), child(n->default_value));
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
