#include "python/ast.h"

#include <iterator>
#include <type_traits>

namespace korvane::python {

// The whole tree is freed with its arena, without running destructors.
#define NODE(Kind, Base) static_assert(std::is_trivially_destructible_v<Kind>);
#include "python/node_kinds.def"
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

namespace {
// Each node class's kinds are one run of NodeKind, so that its classof is one range check.
constexpr bool is_run(std::span<const NodeKind> kinds) {
  return static_cast<size_t>(kinds.back()) - static_cast<size_t>(kinds.front()) + 1 == kinds.size();
}
static_assert(is_run(node_kinds::kStmts) && is_run(node_kinds::kExprs) &&
              is_run(node_kinds::kPatterns) && is_run(node_kinds::kTypeParams));
}  // namespace

std::string_view node_kind_name(NodeKind kind) {
  static constexpr std::string_view kNames[] = {
#define NODE(Kind, Base) #Kind,
#include "python/node_kinds.def"
  };
  auto i = static_cast<size_t>(kind);
  return i < std::size(kNames) ? kNames[i] : "?";
}

}  // namespace korvane::python
