// Byte ranges of nodes, read back as the source text they cover, and the walk over children.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "python/ast_visit.h"
#include "python/parser.h"

namespace korvane::python {
namespace {

void collect(const ParsedModule& m, const Node* n, std::vector<std::string>& out) {
  out.push_back(std::string(node_kind_name(n->kind)) + ":" + std::string(m.text(n->range)));
  for_each_child(n, [&](const Node* c) { collect(m, c, out); });
}

std::vector<std::string> covered(const std::string& source) {
  std::vector<std::string> out;
  auto parsed = parse_module(source);
  if (!parsed) return {"error: " + parsed.error().kind_text()};
  for (const Stmt* s : parsed->body()) collect(*parsed, s, out);
  return out;
}

struct RangeCase {
  const char* source;
  std::vector<std::string> want;  // pre-order: each node, then its children in source order
};

class Ranges : public testing::TestWithParam<RangeCase> {};

TEST_P(Ranges, CoverTheNodesText) {
  EXPECT_EQ(covered(GetParam().source), GetParam().want) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, Ranges,
    testing::Values(
        // Trailers nest outward; the attribute's range covers its whole chain.
        RangeCase{"x = f(a)[0].b\n",
                  {"Assign:x = f(a)[0].b", "Name:x", "Attribute:f(a)[0].b", "Subscript:f(a)[0]",
                   "Call:f(a)", "Name:f", "Name:a", "IntLiteral:0"}},
        // A definition starts at `def`, after its decorators, and ends with its last line
        // (its trailing `;` included), not at the newline or the dedent.
        RangeCase{"@d\ndef f(a=1):\n    pass;\n\nx\n",
                  {"FunctionDef:def f(a=1):\n    pass;", "Name:d", "IntLiteral:1", "Pass:pass",
                   "ExprStmt:x", "Name:x"}},
        RangeCase{"if a:\n    b\nelif c:\n    d\n",
                  {"If:if a:\n    b\nelif c:\n    d", "Name:a", "ExprStmt:b", "Name:b", "Name:c",
                   "ExprStmt:d", "Name:d"}},
        // Brackets belong to tuples and generator expressions but not to a parenthesised name.
        RangeCase{"(a), (b, c)\n",
                  {"ExprStmt:(a), (b, c)", "Tuple:(a), (b, c)", "Name:a", "Tuple:(b, c)", "Name:b",
                   "Name:c"}},
        RangeCase{"f(x for x in y)\n",
                  {"ExprStmt:f(x for x in y)", "Call:f(x for x in y)", "Name:f",
                   "GeneratorExp:(x for x in y)", "Name:x", "Name:x", "Name:y"}},
        RangeCase{"a[1:2, ::3]\n",
                  {"ExprStmt:a[1:2, ::3]", "Subscript:a[1:2, ::3]", "Name:a", "Tuple:1:2, ::3",
                   "Slice:1:2", "IntLiteral:1", "IntLiteral:2", "Slice:::3", "IntLiteral:3"}},
        RangeCase{"'a' \\\n  'b'\n", {"ExprStmt:'a' \\\n  'b'", "StringLiteral:'a' \\\n  'b'"}},
        RangeCase{"match p:\n case [1, *r] | {'k': v}: pass\n",
                  {"Match:match p:\n case [1, *r] | {'k': v}: pass", "Name:p",
                   "MatchOr:[1, *r] | {'k': v}", "MatchSequence:[1, *r]", "MatchValue:1",
                   "IntLiteral:1", "MatchStar:*r", "MatchMapping:{'k': v}", "StringLiteral:'k'",
                   "MatchAs:v", "Pass:pass"}},
        // Offsets count bytes: a two-byte character shifts what follows by two.
        RangeCase{"\xC3\xA9 = '\xC3\xA9'\n",
                  {"Assign:\xC3\xA9 = '\xC3\xA9'", "Name:\xC3\xA9", "StringLiteral:'\xC3\xA9'"}},
        RangeCase{
            "x = 1\r\ny = 2\r\n",
            {"Assign:x = 1", "Name:x", "IntLiteral:1", "Assign:y = 2", "Name:y", "IntLiteral:2"}},
        RangeCase{"lambda a, *b: a\n",
                  {"ExprStmt:lambda a, *b: a", "Lambda:lambda a, *b: a", "Name:a"}},
        RangeCase{"f'{x!r}'\n",
                  {"ExprStmt:f'{x!r}'", "JoinedStr:f'{x!r}'", "FormattedValue:{x!r}", "Name:x"}},
        RangeCase{"type T[U] = U\n",
                  {"TypeAlias:type T[U] = U", "Name:T", "TypeVar:U", "Name:U"}}));

TEST(Ranges, CountTheByteOrderMark) {
  std::string source = "\xEF\xBB\xBFx = 1\n";
  auto parsed = parse_module(source);
  ASSERT_TRUE(parsed);
  const auto* assign = parsed->body()[0]->as<Assign>();
  ASSERT_NE(assign, nullptr);
  EXPECT_EQ(assign->range, (TextRange{3, 8}));
  EXPECT_EQ(assign->targets[0]->range, (TextRange{3, 4}));
  EXPECT_EQ(assign->value->range, (TextRange{7, 8}));
}

TEST(Ranges, NameDefinitionsAndHandlers) {
  auto parsed = parse_module("class C: pass\ntry: pass\nexcept E as err: pass\n");
  ASSERT_TRUE(parsed);
  const auto* c = parsed->body()[0]->as<ClassDef>();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(parsed->text(c->name_range), "C");
  const auto* t = parsed->body()[1]->as<Try>();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(parsed->text(t->handlers[0]->range), "except E as err: pass");
  EXPECT_EQ(parsed->text(t->handlers[0]->name_range), "err");
}

TEST(Downcast, ChecksTheKind) {
  auto parsed = parse_module("def f(): pass\n");
  ASSERT_TRUE(parsed);
  const Stmt* s = parsed->body()[0];
  EXPECT_NE(s->as<FunctionDef>(), nullptr);
  EXPECT_EQ(s->as<ClassDef>(), nullptr);
  EXPECT_TRUE(s->is<Stmt>());
  EXPECT_FALSE(s->is<Expr>());
  EXPECT_EQ(node_kind_name(s->kind), "FunctionDef");
}

TEST(Identifiers, AreNormalisedLikePython) {
  // NFKC folds the ligature, so both spellings name one variable.
  auto parsed = parse_module("\xEF\xAC\x81 = 1\n");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->body()[0]->as<Assign>()->targets[0]->as<Name>()->id, "fi");
}

}  // namespace
}  // namespace korvane::python
