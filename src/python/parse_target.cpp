// Turning a parsed expression into an assignment or deletion target, with the checks and
// messages Python gives for what cannot be assigned to.
#include <string>

#include "python/parser_impl.h"

namespace korvane::python {

const char* Parser::expression_name(const Expr* e) const {
  switch (e->kind) {
    case NodeKind::Call:
      return "function call";
    case NodeKind::Compare:
      return "comparison";
    case NodeKind::IfExp:
      return "conditional expression";
    case NodeKind::Lambda:
      return "lambda";
    case NodeKind::NamedExpr:
      return "named expression";
    case NodeKind::Yield:
    case NodeKind::YieldFrom:
      return "yield expression";
    case NodeKind::Await:
      return "await expression";
    case NodeKind::JoinedStr:
      return "f-string expression";
    case NodeKind::TemplateStr:
      return "t-string expression";
    case NodeKind::Dict:
      return "dict literal";
    case NodeKind::Set:
      return "set display";
    case NodeKind::ListComp:
      return "list comprehension";
    case NodeKind::SetComp:
      return "set comprehension";
    case NodeKind::DictComp:
      return "dict comprehension";
    case NodeKind::GeneratorExp:
      return "generator expression";
    case NodeKind::BooleanLiteral:
      return e->as<BooleanLiteral>()->value ? "True" : "False";
    case NodeKind::NoneLiteral:
      return "None";
    case NodeKind::EllipsisLiteral:
      return "ellipsis";
    case NodeKind::StringLiteral:
    case NodeKind::BytesLiteral:
    case NodeKind::IntLiteral:
    case NodeKind::FloatLiteral:
    case NodeKind::ImaginaryLiteral:
      return "literal";
    case NodeKind::Starred:
      return "starred";
    case NodeKind::Tuple:
      return "tuple";
    case NodeKind::List:
      return "list";
    case NodeKind::Name:
      return "name";
    case NodeKind::Attribute:
      return "attribute";
    case NodeKind::Subscript:
      return "subscript";
    default:
      return "expression";
  }
}

bool Parser::to_target(Expr* e, TargetUse use) {
  const ExprContext ctx = use == TargetUse::Delete ? ExprContext::Del : ExprContext::Store;
  const bool single = use == TargetUse::AugAssign || use == TargetUse::Annotated;
  switch (e->kind) {
    case NodeKind::Name:
      e->as<Name>()->ctx = ctx;
      return true;
    case NodeKind::Attribute:
      e->as<Attribute>()->ctx = ctx;
      return true;
    case NodeKind::Subscript:
      e->as<Subscript>()->ctx = ctx;
      return true;
    case NodeKind::Starred:
      if (use == TargetUse::Delete) return syntax_error(e->range, "cannot delete starred");
      if (single) break;
      e->as<Starred>()->ctx = ctx;
      if (e->as<Starred>()->value->kind == NodeKind::Starred) break;
      return to_target(e->as<Starred>()->value, use);
    case NodeKind::Tuple:
    case NodeKind::List: {
      if (single) break;
      ExprList elts = e->kind == NodeKind::Tuple ? e->as<Tuple>()->elts : e->as<List>()->elts;
      if (e->kind == NodeKind::Tuple) {
        e->as<Tuple>()->ctx = ctx;
      } else {
        e->as<List>()->ctx = ctx;
      }
      for (Expr* elt : elts) {
        if (!to_target(elt, use)) return false;
      }
      return true;
    }
    default:
      break;
  }
  std::string what = expression_name(e);
  switch (use) {
    case TargetUse::Delete:
      return syntax_error(e->range, "cannot delete " + what);
    case TargetUse::AugAssign:
      return syntax_error(e->range,
                          "'" + what + "' is an illegal expression for augmented assignment");
    case TargetUse::Annotated:
      if (e->kind == NodeKind::Tuple || e->kind == NodeKind::List) {
        return syntax_error(e->range, "only single target (not " + what + ") can be annotated");
      }
      return syntax_error(e->range, "illegal target for annotation");
    default:
      return syntax_error(e->range, "cannot assign to " + what);
  }
}

}  // namespace korvane::python
