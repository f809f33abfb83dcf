#include "python/ast.h"

#include <type_traits>

namespace korvane::python {

static_assert(std::is_trivially_destructible_v<FunctionDef>);
static_assert(std::is_trivially_destructible_v<ClassDef>);
static_assert(std::is_trivially_destructible_v<Return>);
static_assert(std::is_trivially_destructible_v<Delete>);
static_assert(std::is_trivially_destructible_v<Assign>);
static_assert(std::is_trivially_destructible_v<TypeAlias>);
static_assert(std::is_trivially_destructible_v<AugAssign>);
static_assert(std::is_trivially_destructible_v<AnnAssign>);
static_assert(std::is_trivially_destructible_v<For>);
static_assert(std::is_trivially_destructible_v<While>);
static_assert(std::is_trivially_destructible_v<If>);
static_assert(std::is_trivially_destructible_v<With>);
static_assert(std::is_trivially_destructible_v<Match>);
static_assert(std::is_trivially_destructible_v<Raise>);
static_assert(std::is_trivially_destructible_v<Try>);
static_assert(std::is_trivially_destructible_v<Assert>);
static_assert(std::is_trivially_destructible_v<Import>);
static_assert(std::is_trivially_destructible_v<ImportFrom>);
static_assert(std::is_trivially_destructible_v<Global>);
static_assert(std::is_trivially_destructible_v<Nonlocal>);
static_assert(std::is_trivially_destructible_v<ExprStmt>);
static_assert(std::is_trivially_destructible_v<Pass>);
static_assert(std::is_trivially_destructible_v<Break>);
static_assert(std::is_trivially_destructible_v<Continue>);
static_assert(std::is_trivially_destructible_v<BoolOp>);
static_assert(std::is_trivially_destructible_v<NamedExpr>);
static_assert(std::is_trivially_destructible_v<BinOp>);
static_assert(std::is_trivially_destructible_v<UnaryOp>);
static_assert(std::is_trivially_destructible_v<Lambda>);
static_assert(std::is_trivially_destructible_v<IfExp>);
static_assert(std::is_trivially_destructible_v<Dict>);
static_assert(std::is_trivially_destructible_v<Set>);
static_assert(std::is_trivially_destructible_v<ListComp>);
static_assert(std::is_trivially_destructible_v<SetComp>);
static_assert(std::is_trivially_destructible_v<DictComp>);
static_assert(std::is_trivially_destructible_v<GeneratorExp>);
static_assert(std::is_trivially_destructible_v<Await>);
static_assert(std::is_trivially_destructible_v<Yield>);
static_assert(std::is_trivially_destructible_v<YieldFrom>);
static_assert(std::is_trivially_destructible_v<Compare>);
static_assert(std::is_trivially_destructible_v<Call>);
static_assert(std::is_trivially_destructible_v<FormattedValue>);
static_assert(std::is_trivially_destructible_v<JoinedStr>);
static_assert(std::is_trivially_destructible_v<Interpolation>);
static_assert(std::is_trivially_destructible_v<TemplateStr>);
static_assert(std::is_trivially_destructible_v<StringLiteral>);
static_assert(std::is_trivially_destructible_v<BytesLiteral>);
static_assert(std::is_trivially_destructible_v<IntLiteral>);
static_assert(std::is_trivially_destructible_v<FloatLiteral>);
static_assert(std::is_trivially_destructible_v<ImaginaryLiteral>);
static_assert(std::is_trivially_destructible_v<BooleanLiteral>);
static_assert(std::is_trivially_destructible_v<NoneLiteral>);
static_assert(std::is_trivially_destructible_v<EllipsisLiteral>);
static_assert(std::is_trivially_destructible_v<Attribute>);
static_assert(std::is_trivially_destructible_v<Subscript>);
static_assert(std::is_trivially_destructible_v<Starred>);
static_assert(std::is_trivially_destructible_v<Name>);
static_assert(std::is_trivially_destructible_v<List>);
static_assert(std::is_trivially_destructible_v<Tuple>);
static_assert(std::is_trivially_destructible_v<Slice>);
static_assert(std::is_trivially_destructible_v<MatchValue>);
static_assert(std::is_trivially_destructible_v<MatchSingleton>);
static_assert(std::is_trivially_destructible_v<MatchSequence>);
static_assert(std::is_trivially_destructible_v<MatchMapping>);
static_assert(std::is_trivially_destructible_v<MatchClass>);
static_assert(std::is_trivially_destructible_v<MatchStar>);
static_assert(std::is_trivially_destructible_v<MatchAs>);
static_assert(std::is_trivially_destructible_v<MatchOr>);
static_assert(std::is_trivially_destructible_v<TypeVar>);
static_assert(std::is_trivially_destructible_v<ParamSpec>);
static_assert(std::is_trivially_destructible_v<TypeVarTuple>);
static_assert(std::is_trivially_destructible_v<Arg>);
static_assert(std::is_trivially_destructible_v<Arguments>);
static_assert(std::is_trivially_destructible_v<Keyword>);
static_assert(std::is_trivially_destructible_v<Alias>);
static_assert(std::is_trivially_destructible_v<WithItem>);
static_assert(std::is_trivially_destructible_v<ExceptHandler>);
static_assert(std::is_trivially_destructible_v<Comprehension>);
static_assert(std::is_trivially_destructible_v<MatchCase>);
static_assert(std::is_trivially_destructible_v<ElifElseClause>);

// Small fields come first in each node so they fill the header's tail padding; these guard
// the sizes that dominate a tree's memory.
static_assert(sizeof(Node) == 12);
static_assert(sizeof(Name) == 32);
static_assert(sizeof(Attribute) == 48);
static_assert(sizeof(IntLiteral) == 24);
static_assert(sizeof(BinOp) == 32);

std::string_view node_kind_name(NodeKind kind) {
  switch (kind) {
    case NodeKind::FunctionDef:
      return "FunctionDef";
    case NodeKind::ClassDef:
      return "ClassDef";
    case NodeKind::Return:
      return "Return";
    case NodeKind::Delete:
      return "Delete";
    case NodeKind::Assign:
      return "Assign";
    case NodeKind::TypeAlias:
      return "TypeAlias";
    case NodeKind::AugAssign:
      return "AugAssign";
    case NodeKind::AnnAssign:
      return "AnnAssign";
    case NodeKind::For:
      return "For";
    case NodeKind::While:
      return "While";
    case NodeKind::If:
      return "If";
    case NodeKind::With:
      return "With";
    case NodeKind::Match:
      return "Match";
    case NodeKind::Raise:
      return "Raise";
    case NodeKind::Try:
      return "Try";
    case NodeKind::Assert:
      return "Assert";
    case NodeKind::Import:
      return "Import";
    case NodeKind::ImportFrom:
      return "ImportFrom";
    case NodeKind::Global:
      return "Global";
    case NodeKind::Nonlocal:
      return "Nonlocal";
    case NodeKind::ExprStmt:
      return "ExprStmt";
    case NodeKind::Pass:
      return "Pass";
    case NodeKind::Break:
      return "Break";
    case NodeKind::Continue:
      return "Continue";
    case NodeKind::BoolOp:
      return "BoolOp";
    case NodeKind::NamedExpr:
      return "NamedExpr";
    case NodeKind::BinOp:
      return "BinOp";
    case NodeKind::UnaryOp:
      return "UnaryOp";
    case NodeKind::Lambda:
      return "Lambda";
    case NodeKind::IfExp:
      return "IfExp";
    case NodeKind::Dict:
      return "Dict";
    case NodeKind::Set:
      return "Set";
    case NodeKind::ListComp:
      return "ListComp";
    case NodeKind::SetComp:
      return "SetComp";
    case NodeKind::DictComp:
      return "DictComp";
    case NodeKind::GeneratorExp:
      return "GeneratorExp";
    case NodeKind::Await:
      return "Await";
    case NodeKind::Yield:
      return "Yield";
    case NodeKind::YieldFrom:
      return "YieldFrom";
    case NodeKind::Compare:
      return "Compare";
    case NodeKind::Call:
      return "Call";
    case NodeKind::FormattedValue:
      return "FormattedValue";
    case NodeKind::JoinedStr:
      return "JoinedStr";
    case NodeKind::Interpolation:
      return "Interpolation";
    case NodeKind::TemplateStr:
      return "TemplateStr";
    case NodeKind::StringLiteral:
      return "StringLiteral";
    case NodeKind::BytesLiteral:
      return "BytesLiteral";
    case NodeKind::IntLiteral:
      return "IntLiteral";
    case NodeKind::FloatLiteral:
      return "FloatLiteral";
    case NodeKind::ImaginaryLiteral:
      return "ImaginaryLiteral";
    case NodeKind::BooleanLiteral:
      return "BooleanLiteral";
    case NodeKind::NoneLiteral:
      return "NoneLiteral";
    case NodeKind::EllipsisLiteral:
      return "EllipsisLiteral";
    case NodeKind::Attribute:
      return "Attribute";
    case NodeKind::Subscript:
      return "Subscript";
    case NodeKind::Starred:
      return "Starred";
    case NodeKind::Name:
      return "Name";
    case NodeKind::List:
      return "List";
    case NodeKind::Tuple:
      return "Tuple";
    case NodeKind::Slice:
      return "Slice";
    case NodeKind::MatchValue:
      return "MatchValue";
    case NodeKind::MatchSingleton:
      return "MatchSingleton";
    case NodeKind::MatchSequence:
      return "MatchSequence";
    case NodeKind::MatchMapping:
      return "MatchMapping";
    case NodeKind::MatchClass:
      return "MatchClass";
    case NodeKind::MatchStar:
      return "MatchStar";
    case NodeKind::MatchAs:
      return "MatchAs";
    case NodeKind::MatchOr:
      return "MatchOr";
    case NodeKind::TypeVar:
      return "TypeVar";
    case NodeKind::ParamSpec:
      return "ParamSpec";
    case NodeKind::TypeVarTuple:
      return "TypeVarTuple";
  }
  return "?";
}

}  // namespace korvane::python
