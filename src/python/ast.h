// The syntax tree of a Python module.
//
//   auto parsed = parse_module(text);
//   for (Stmt* s : parsed->body())
//     if (auto* f = s->as<FunctionDef>()) use(f->name, f->range);
//
// Every node lives in the arena of its ParsedModule and is trivially destructible: freeing the
// module frees the tree at once. Identifiers and literal values are views into the source text
// or into the arena. Ranges are byte offsets into the text given to parse_module (a skipped
// byte-order mark still counts). Field names follow Python's own `ast` module, with these
// choices of ours:
// - `async def`, `async for` and `async with` are FunctionDef / For / With with `is_async`;
//   `try ... except*` is Try with `is_star`.
// - The expression statement is ExprStmt (Expr is the base of all expressions).
// - `if` keeps its `elif` and `else` parts as a flat list of clauses (ElifElseClause, the
//   `else` clause without a test) instead of nesting an If in `orelse`.
// - Constants are split by kind: StringLiteral, BytesLiteral, IntLiteral, FloatLiteral,
//   ImaginaryLiteral, BooleanLiteral, NoneLiteral, EllipsisLiteral.
// - Optional identifiers are empty views when absent; optional children are nullptr.
// - Within a node, flags and small enums come before the children (to keep nodes small), so
//   the field order is not always Python's.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace korvane::python {

struct TextRange {
  uint32_t start = 0;
  uint32_t end = 0;
  uint32_t length() const { return end - start; }
  friend bool operator==(TextRange a, TextRange b) = default;
};

// The kinds are listed once, in node_kinds.def.
enum class NodeKind : uint8_t {
#define NODE(Kind, Base) Kind,
#include "python/node_kinds.def"
};

// The kinds of each node class, which the .def lists together so that `is<Stmt>()` and its
// like are one range check.
namespace node_kinds {
inline constexpr NodeKind kStmts[] = {
#define STMT(Kind) NodeKind::Kind,
#include "python/node_kinds.def"
};
inline constexpr NodeKind kExprs[] = {
#define EXPR(Kind) NodeKind::Kind,
#include "python/node_kinds.def"
};
inline constexpr NodeKind kPatterns[] = {
#define PATTERN(Kind) NodeKind::Kind,
#include "python/node_kinds.def"
};
inline constexpr NodeKind kTypeParams[] = {
#define TYPE_PARAM(Kind) NodeKind::Kind,
#include "python/node_kinds.def"
};

// Whether `k` is one of `kinds`, a run of consecutive kinds (checked in ast.cpp).
constexpr bool in_run(NodeKind k, std::span<const NodeKind> kinds) {
  return k >= kinds.front() && k <= kinds.back();
}
}  // namespace node_kinds

// The name of a kind as written in node_kinds.def ("FunctionDef", "StringLiteral").
std::string_view node_kind_name(NodeKind kind);

struct Node {
  NodeKind kind;
  TextRange range;

  template <class T>
  bool is() const {
    return T::classof(kind);
  }
  // The node as a T, or nullptr when it is of another kind.
  template <class T>
  T* as() {
    return is<T>() ? static_cast<T*>(this) : nullptr;
  }
  template <class T>
  const T* as() const {
    return is<T>() ? static_cast<const T*>(this) : nullptr;
  }
};

struct Stmt : Node {
  static bool classof(NodeKind k) { return node_kinds::in_run(k, node_kinds::kStmts); }
};
struct Expr : Node {
  static bool classof(NodeKind k) { return node_kinds::in_run(k, node_kinds::kExprs); }
};
struct Pattern : Node {
  static bool classof(NodeKind k) { return node_kinds::in_run(k, node_kinds::kPatterns); }
};
struct TypeParam : Node {
  static bool classof(NodeKind k) { return node_kinds::in_run(k, node_kinds::kTypeParams); }
};

template <NodeKind K, class Base>
struct NodeOf : Base {
  static constexpr NodeKind kKind = K;
  static bool classof(NodeKind k) { return k == K; }
};

using StmtList = std::span<Stmt* const>;
using ExprList = std::span<Expr* const>;
using PatternList = std::span<Pattern* const>;
using IdentifierList = std::span<const std::string_view>;

enum class ExprContext : uint8_t { Load, Store, Del };
enum class BoolOperator : uint8_t { And, Or };
enum class Operator : uint8_t {
  Add,
  Sub,
  Mult,
  MatMult,
  Div,
  Mod,
  Pow,
  LShift,
  RShift,
  BitOr,
  BitXor,
  BitAnd,
  FloorDiv
};
enum class UnaryOperator : uint8_t { Invert, Not, UAdd, USub };
enum class CmpOperator : uint8_t { Eq, NotEq, Lt, LtE, Gt, GtE, Is, IsNot, In, NotIn };

// The conversion of a replacement field: none, !s, !r or !a.
enum class Conversion : uint8_t { None, Str, Repr, Ascii };

// ---- Helper records (not nodes: they have no kind of their own) ----

struct Arg {
  TextRange range;
  std::string_view arg;
  Expr* annotation;  // nullptr when absent
};

// Parameters of a def or lambda. `defaults` belong to the last positional parameters
// (posonlyargs then args); `kw_defaults` has one entry per kwonlyarg, nullptr when it has none.
struct Arguments {
  TextRange range;
  std::span<Arg* const> posonlyargs;
  std::span<Arg* const> args;
  Arg* vararg;
  std::span<Arg* const> kwonlyargs;
  ExprList kw_defaults;
  Arg* kwarg;
  ExprList defaults;
};

// A keyword argument; `arg` is empty for `**value`.
struct Keyword {
  TextRange range;
  std::string_view arg;
  Expr* value;
};

// One name of an import. `name` is dotted for `import a.b` (written without the spaces the
// source may have between its parts).
struct Alias {
  TextRange range;
  std::string_view name;
  std::string_view asname;
};

struct WithItem {
  TextRange range;
  Expr* context_expr;
  Expr* optional_vars;  // nullptr when there is no `as`
};

struct ExceptHandler {
  TextRange range;
  Expr* type;  // nullptr for a bare `except:`
  std::string_view name;
  TextRange name_range;
  StmtList body;
};

struct Comprehension {
  TextRange range;
  Expr* target;
  Expr* iter;
  ExprList ifs;
  bool is_async;
};

struct MatchCase {
  TextRange range;
  Pattern* pattern;
  Expr* guard;  // nullptr when there is no `if`
  StmtList body;
};

// An `elif` (with a test) or the final `else` (test nullptr) of an If.
struct ElifElseClause {
  TextRange range;
  Expr* test;
  StmtList body;
};

// ---- Statements ----

struct FunctionDef : NodeOf<NodeKind::FunctionDef, Stmt> {
  TextRange name_range;
  bool is_async;
  std::string_view name;
  std::span<TypeParam* const> type_params;
  Arguments* args;
  Expr* returns;
  StmtList body;
  ExprList decorator_list;
};
struct ClassDef : NodeOf<NodeKind::ClassDef, Stmt> {
  TextRange name_range;
  std::string_view name;
  std::span<TypeParam* const> type_params;
  ExprList bases;
  std::span<Keyword* const> keywords;
  StmtList body;
  ExprList decorator_list;
};
struct Return : NodeOf<NodeKind::Return, Stmt> {
  Expr* value;
};
struct Delete : NodeOf<NodeKind::Delete, Stmt> {
  ExprList targets;
};
// `a = b = value`: targets [a, b].
struct Assign : NodeOf<NodeKind::Assign, Stmt> {
  ExprList targets;
  Expr* value;
};
struct TypeAlias : NodeOf<NodeKind::TypeAlias, Stmt> {
  Expr* name;  // a Name
  std::span<TypeParam* const> type_params;
  Expr* value;
};
struct AugAssign : NodeOf<NodeKind::AugAssign, Stmt> {
  Operator op;
  Expr* target;
  Expr* value;
};
// `simple` is true for a bare name target not in parentheses.
struct AnnAssign : NodeOf<NodeKind::AnnAssign, Stmt> {
  bool simple;
  Expr* target;
  Expr* annotation;
  Expr* value;
};
struct For : NodeOf<NodeKind::For, Stmt> {
  bool is_async;
  Expr* target;
  Expr* iter;
  StmtList body;
  StmtList orelse;
};
struct While : NodeOf<NodeKind::While, Stmt> {
  Expr* test;
  StmtList body;
  StmtList orelse;
};
struct If : NodeOf<NodeKind::If, Stmt> {
  Expr* test;
  StmtList body;
  std::span<ElifElseClause* const> elif_else_clauses;
};
struct With : NodeOf<NodeKind::With, Stmt> {
  bool is_async;
  std::span<WithItem* const> items;
  StmtList body;
};
struct Match : NodeOf<NodeKind::Match, Stmt> {
  Expr* subject;
  std::span<MatchCase* const> cases;
};
struct Raise : NodeOf<NodeKind::Raise, Stmt> {
  Expr* exc;
  Expr* cause;
};
struct Try : NodeOf<NodeKind::Try, Stmt> {
  bool is_star;
  StmtList body;
  std::span<ExceptHandler* const> handlers;
  StmtList orelse;
  StmtList finalbody;
};
struct Assert : NodeOf<NodeKind::Assert, Stmt> {
  Expr* test;
  Expr* msg;
};
struct Import : NodeOf<NodeKind::Import, Stmt> {
  std::span<Alias* const> names;
};
// `module` is empty for `from . import x`; `level` counts the leading dots.
struct ImportFrom : NodeOf<NodeKind::ImportFrom, Stmt> {
  uint32_t level;
  std::string_view module;
  std::span<Alias* const> names;
};
struct Global : NodeOf<NodeKind::Global, Stmt> {
  IdentifierList names;
};
struct Nonlocal : NodeOf<NodeKind::Nonlocal, Stmt> {
  IdentifierList names;
};
struct ExprStmt : NodeOf<NodeKind::ExprStmt, Stmt> {
  Expr* value;
};
struct Pass : NodeOf<NodeKind::Pass, Stmt> {};
struct Break : NodeOf<NodeKind::Break, Stmt> {};
struct Continue : NodeOf<NodeKind::Continue, Stmt> {};

// ---- Expressions ----

struct BoolOp : NodeOf<NodeKind::BoolOp, Expr> {
  BoolOperator op;
  ExprList values;
};
struct NamedExpr : NodeOf<NodeKind::NamedExpr, Expr> {
  Expr* target;
  Expr* value;
};
struct BinOp : NodeOf<NodeKind::BinOp, Expr> {
  Operator op;
  Expr* left;
  Expr* right;
};
struct UnaryOp : NodeOf<NodeKind::UnaryOp, Expr> {
  UnaryOperator op;
  Expr* operand;
};
struct Lambda : NodeOf<NodeKind::Lambda, Expr> {
  Arguments* args;
  Expr* body;
};
struct IfExp : NodeOf<NodeKind::IfExp, Expr> {
  Expr* test;
  Expr* body;
  Expr* orelse;
};
// `{**m}` has a nullptr key.
struct Dict : NodeOf<NodeKind::Dict, Expr> {
  ExprList keys;
  ExprList values;
};
struct Set : NodeOf<NodeKind::Set, Expr> {
  ExprList elts;
};
struct ListComp : NodeOf<NodeKind::ListComp, Expr> {
  Expr* elt;
  std::span<Comprehension* const> generators;
};
struct SetComp : NodeOf<NodeKind::SetComp, Expr> {
  Expr* elt;
  std::span<Comprehension* const> generators;
};
struct DictComp : NodeOf<NodeKind::DictComp, Expr> {
  Expr* key;
  Expr* value;
  std::span<Comprehension* const> generators;
};
struct GeneratorExp : NodeOf<NodeKind::GeneratorExp, Expr> {
  Expr* elt;
  std::span<Comprehension* const> generators;
};
struct Await : NodeOf<NodeKind::Await, Expr> {
  Expr* value;
};
struct Yield : NodeOf<NodeKind::Yield, Expr> {
  Expr* value;
};
struct YieldFrom : NodeOf<NodeKind::YieldFrom, Expr> {
  Expr* value;
};
struct Compare : NodeOf<NodeKind::Compare, Expr> {
  Expr* left;
  std::span<const CmpOperator> ops;
  ExprList comparators;
};
struct Call : NodeOf<NodeKind::Call, Expr> {
  Expr* func;
  ExprList args;
  std::span<Keyword* const> keywords;
};
// A replacement field of an f-string. `format_spec` is a JoinedStr or nullptr.
struct FormattedValue : NodeOf<NodeKind::FormattedValue, Expr> {
  Conversion conversion;
  Expr* value;
  Expr* format_spec;
};
// An f-string (with any literals concatenated to it): StringLiteral and FormattedValue parts.
// `f"{x=}"` contributes the literal "x=" before its field, as Python does.
struct JoinedStr : NodeOf<NodeKind::JoinedStr, Expr> {
  ExprList values;
};
// A replacement field of a template string; `str` is the field's expression as written.
struct Interpolation : NodeOf<NodeKind::Interpolation, Expr> {
  Conversion conversion;
  Expr* value;
  std::string_view str;
  Expr* format_spec;
};
// A template string (t"..."): StringLiteral and Interpolation parts.
struct TemplateStr : NodeOf<NodeKind::TemplateStr, Expr> {
  ExprList values;
};
// A string, implicitly concatenated pieces joined, escapes decoded (UTF-8).
struct StringLiteral : NodeOf<NodeKind::StringLiteral, Expr> {
  bool implicit_concatenated;
  std::string_view value;
};
struct BytesLiteral : NodeOf<NodeKind::BytesLiteral, Expr> {
  bool implicit_concatenated;
  std::string_view value;
};
// An integer; `too_big` is set (and `value` is 0) when it does not fit 64 bits.
struct IntLiteral : NodeOf<NodeKind::IntLiteral, Expr> {
  bool too_big;
  uint64_t value;
};
struct FloatLiteral : NodeOf<NodeKind::FloatLiteral, Expr> {
  double value;
};
// An imaginary number (`2j`); `imag` is its coefficient.
struct ImaginaryLiteral : NodeOf<NodeKind::ImaginaryLiteral, Expr> {
  double imag;
};
struct BooleanLiteral : NodeOf<NodeKind::BooleanLiteral, Expr> {
  bool value;
};
struct NoneLiteral : NodeOf<NodeKind::NoneLiteral, Expr> {};
struct EllipsisLiteral : NodeOf<NodeKind::EllipsisLiteral, Expr> {};
struct Attribute : NodeOf<NodeKind::Attribute, Expr> {
  TextRange attr_range;
  ExprContext ctx;
  Expr* value;
  std::string_view attr;
};
struct Subscript : NodeOf<NodeKind::Subscript, Expr> {
  ExprContext ctx;
  Expr* value;
  Expr* slice;
};
struct Starred : NodeOf<NodeKind::Starred, Expr> {
  ExprContext ctx;
  Expr* value;
};
// `id` is NFKC-normalised, as Python compares identifiers.
struct Name : NodeOf<NodeKind::Name, Expr> {
  ExprContext ctx;
  std::string_view id;
};
struct List : NodeOf<NodeKind::List, Expr> {
  ExprContext ctx;
  ExprList elts;
};
struct Tuple : NodeOf<NodeKind::Tuple, Expr> {
  ExprContext ctx;
  bool parenthesized;
  ExprList elts;
};
struct Slice : NodeOf<NodeKind::Slice, Expr> {
  Expr* lower;
  Expr* upper;
  Expr* step;
};

// ---- Patterns ----

struct MatchValue : NodeOf<NodeKind::MatchValue, Pattern> {
  Expr* value;
};
enum class Singleton : uint8_t { None, True, False };
struct MatchSingleton : NodeOf<NodeKind::MatchSingleton, Pattern> {
  Singleton value;
};
struct MatchSequence : NodeOf<NodeKind::MatchSequence, Pattern> {
  PatternList patterns;
};
// `{k: p, **rest}`; `rest` is empty when absent.
struct MatchMapping : NodeOf<NodeKind::MatchMapping, Pattern> {
  ExprList keys;
  PatternList patterns;
  std::string_view rest;
};
struct MatchClass : NodeOf<NodeKind::MatchClass, Pattern> {
  Expr* cls;
  PatternList patterns;
  IdentifierList kwd_attrs;
  PatternList kwd_patterns;
};
// `*name`; `name` is empty for `*_`.
struct MatchStar : NodeOf<NodeKind::MatchStar, Pattern> {
  std::string_view name;
};
// `p as name`, a capture `name` (pattern nullptr) or the wildcard `_` (both absent).
struct MatchAs : NodeOf<NodeKind::MatchAs, Pattern> {
  Pattern* pattern;
  std::string_view name;
};
struct MatchOr : NodeOf<NodeKind::MatchOr, Pattern> {
  PatternList patterns;
};

// ---- Type parameters ----

struct TypeVar : NodeOf<NodeKind::TypeVar, TypeParam> {
  std::string_view name;
  Expr* bound;  // a Tuple for constraints `T: (A, B)`
  Expr* default_value;
};
struct ParamSpec : NodeOf<NodeKind::ParamSpec, TypeParam> {
  std::string_view name;
  Expr* default_value;
};
struct TypeVarTuple : NodeOf<NodeKind::TypeVarTuple, TypeParam> {
  std::string_view name;
  Expr* default_value;
};

}  // namespace korvane::python
