// The shape of the tree for representative constructs, and the forms newer than the oracle
// (template strings, `except A, B:`), which no differential run can check.
#include "python/parser.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "python/ast_dump.h"
#include "python/lexer.h"
#include "python/parser_impl.h"

namespace korvane::python {
namespace {

struct DumpCase {
  const char* source;
  const char* want;
};

std::string parse_and_dump(const std::string& source) {
  auto parsed = parse_module(source);
  if (!parsed) return "error: " + parsed.error().kind_text();
  return dump(parsed->body());
}

class ParserDump : public testing::TestWithParam<DumpCase> {};

TEST_P(ParserDump, BuildsTheExpectedTree) {
  EXPECT_EQ(parse_and_dump(GetParam().source), GetParam().want) << GetParam().source;
}

// Statements: each row guards a field that is easy to fill wrongly (chained targets, the
// `simple` flag of a parenthesised annotation target, del splitting its tuple, levels of
// relative imports written with `...`).
INSTANTIATE_TEST_SUITE_P(
    Statements, ParserDump,
    testing::Values(
        DumpCase{"x = y = 1\n", "[Assign([Name(x), Name(y)], Int(1))]"},
        DumpCase{"a, *b = c\n", "[Assign([Tuple([Name(a), Starred(Name(b))])], Name(c))]"},
        DumpCase{"x: int\n", "[AnnAssign(Name(x), Name(int), -, 1)]"},
        DumpCase{"(x): int = 1\n", "[AnnAssign(Name(x), Name(int), Int(1), 0)]"},
        DumpCase{"x += yield\n", "[AugAssign(Name(x), +, Yield(-))]"},
        DumpCase{"del a[1:2, ::3], b\n",
                 "[Delete([Subscript(Name(a), Tuple([Slice(Int(1), Int(2), -), Slice(-, -, "
                 "Int(3))])), Name(b)])]"},
        DumpCase{"del (a, b)\n", "[Delete([Tuple([Name(a), Name(b)])])]"},
        DumpCase{"for i, j in k: pass\nelse: pass\n",
                 "[For(Tuple([Name(i), Name(j)]), Name(k), [Pass], [Pass])]"},
        DumpCase{"async def f(): await x; return\n",
                 "[AsyncFunctionDef(f, [], args([], [], -, [], [], -, []), -, "
                 "[Expr(Await(Name(x))), Return(-)], [])]"},
        DumpCase{"with (a as b, c): pass\n", "[With([Name(a) as Name(b), Name(c)], [Pass])]"},
        DumpCase{"with (a, b) as c: pass\n",
                 "[With([Tuple([Name(a), Name(b)]) as Name(c)], [Pass])]"},
        DumpCase{"with (a): pass\n", "[With([Name(a)], [Pass])]"},
        DumpCase{"while x := f(): break\n",
                 "[While(NamedExpr(Name(x), Call(Name(f), [], [])), [Break], [])]"},
        DumpCase{"if a: pass\nelif b: pass\nelse: pass\n",
                 "[If(Name(a), [Pass], [elif(Name(b), [Pass]), else([Pass])])]"},
        DumpCase{"try: pass\nexcept* E as e: pass\nfinally: pass\n",
                 "[TryStar([Pass], [except(Name(E), e, [Pass])], [], [Pass])]"},
        DumpCase{"import a.b.c as d, e\n", "[Import([a.b.c as d, e])]"},
        DumpCase{"from ...pkg . mod import (x as y, z,)\n",
                 "[ImportFrom(pkg.mod, [x as y, z], 3)]"},
        DumpCase{"from . import *\n", "[ImportFrom(-, [*], 1)]"},
        DumpCase{"from .... import x\n", "[ImportFrom(-, [x], 4)]"},
        DumpCase{"global a, b\n", "[Global([a, b])]"},
        DumpCase{"type X[T = int] = list[T]\n",
                 "[TypeAlias(Name(X), [TypeVar(T, -, Name(int))], Subscript(Name(list), "
                 "Name(T)))]"},
        DumpCase{"@dec.a(1)\nclass C[*Ts](B, metaclass=M): pass\n",
                 "[ClassDef(C, [TypeVarTuple(Ts, -)], [Name(B)], [metaclass=Name(M)], [Pass], "
                 "[Call(Attribute(Name(dec), a), [Int(1)], [])])]"},
        DumpCase{"def f[T: (int, str), **P](a, /, b=1, *c: *Ts, d, e=2, **f) -> R: ...\n",
                 "[FunctionDef(f, [TypeVar(T, Tuple([Name(int), Name(str)]), -), ParamSpec(P, "
                 "-)], args([a], [b], c: Starred(Name(Ts)), [d, e], [-, Int(2)], f, [Int(1)]), "
                 "Name(R), [Expr(Ellipsis)], [])]"},
        // Soft keywords used as names.
        DumpCase{"match, type = 1, 2\n",
                 "[Assign([Tuple([Name(match), Name(type)])], Tuple([Int(1), Int(2)]))]"},
        DumpCase{"match(x)\n", "[Expr(Call(Name(match), [Name(x)], []))]"},
        DumpCase{"match[x]: int\n",
                 "[AnnAssign(Subscript(Name(match), Name(x)), Name(int), -, "
                 "0)]"},
        DumpCase{"x = 1;\n", "[Assign([Name(x)], Int(1))]"}, DumpCase{"", "[]"}));

// Expressions: precedence and associativity, the operator lists of comparisons, argument
// kinds, and the three brace displays.
INSTANTIATE_TEST_SUITE_P(
    Expressions, ParserDump,
    testing::Values(
        DumpCase{"lambda *, a=1, **k: a\n",
                 "[Expr(Lambda(args([], [], -, [a], [Int(1)], k, []), Name(a)))]"},
        DumpCase{"a if b else c\n", "[Expr(IfExp(Name(b), Name(a), Name(c)))]"},
        DumpCase{"not a and b or c\n",
                 "[Expr(BoolOp(or, [BoolOp(and, [UnaryOp(not, Name(a)), Name(b)]), Name(c)]))]"},
        DumpCase{"a < b <= c is not d not in e\n",
                 "[Expr(Compare(Name(a), [<, <=, is not, not in], [Name(b), Name(c), Name(d), "
                 "Name(e)]))]"},
        DumpCase{"-a ** -b\n", "[Expr(UnaryOp(-, BinOp(Name(a), **, UnaryOp(-, Name(b)))))]"},
        DumpCase{"a ** b ** c\n", "[Expr(BinOp(Name(a), **, BinOp(Name(b), **, Name(c))))]"},
        DumpCase{"a - b - c\n", "[Expr(BinOp(BinOp(Name(a), -, Name(b)), -, Name(c)))]"},
        DumpCase{"a | b ^ c & d << e + f * g\n",
                 "[Expr(BinOp(Name(a), |, BinOp(Name(b), ^, BinOp(Name(c), &, BinOp(Name(d), <<, "
                 "BinOp(Name(e), +, BinOp(Name(f), *, Name(g))))))))]"},
        DumpCase{"f(a, *b, c=1, **d)\n",
                 "[Expr(Call(Name(f), [Name(a), Starred(Name(b))], [c=Int(1), **=Name(d)]))]"},
        DumpCase{"f(x for x in y)\n",
                 "[Expr(Call(Name(f), [GeneratorExp(Name(x), [for Name(x) in Name(y)])], []))]"},
        DumpCase{"[i async for i in a if b for j in c]\n",
                 "[Expr(ListComp(Name(i), [async for Name(i) in Name(a) if Name(b), for "
                 "Name(j) in Name(c)]))]"},
        DumpCase{"{**a, b: c}\n", "[Expr(Dict([-, Name(b)], [Name(a), Name(c)]))]"},
        DumpCase{"{a, *b}\n", "[Expr(Set([Name(a), Starred(Name(b))]))]"},
        DumpCase{"{a := 1}\n", "[Expr(Set([NamedExpr(Name(a), Int(1))]))]"},
        DumpCase{"{k: v for k, v in d}\n",
                 "[Expr(DictComp(Name(k), Name(v), [for Tuple([Name(k), Name(v)]) in "
                 "Name(d)]))]"},
        DumpCase{"a[*b]\n", "[Expr(Subscript(Name(a), Tuple([Starred(Name(b))])))]"},
        DumpCase{"a[:, 1:]\n",
                 "[Expr(Subscript(Name(a), Tuple([Slice(-, -, -), Slice(Int(1), -, -)])))]"},
        DumpCase{"(yield from g)\n", "[Expr(YieldFrom(Name(g)))]"},
        DumpCase{"()\n", "[Expr(Tuple([]))]"},
        DumpCase{"x = *a, b\n", "[Assign([Name(x)], Tuple([Starred(Name(a)), Name(b)]))]"},
        DumpCase{"1 if x else 2\n", "[Expr(IfExp(Name(x), Int(1), Int(2)))]"},
        DumpCase{"1if x else 2\n", "[Expr(IfExp(Name(x), Int(1), Int(2)))]"}));

// Patterns: or, as, star, mapping with rest, class patterns with keywords, complex literals.
INSTANTIATE_TEST_SUITE_P(
    Patterns, ParserDump,
    testing::Values(
        DumpCase{"match p:\n case [1, *_] | (2, 3): pass\n",
                 "[Match(Name(p), [case(MatchOr([MatchSequence([MatchValue(Int(1)), "
                 "MatchStar(-)]), MatchSequence([MatchValue(Int(2)), MatchValue(Int(3))])]), -, "
                 "[Pass])])]"},
        DumpCase{"match p:\n case {\"k\": -1+2j, a.b: None, **kw}: pass\n",
                 "[Match(Name(p), [case(MatchMapping([Str(\"k\"), Attribute(Name(a), b)], "
                 "[MatchValue(BinOp(UnaryOp(-, Int(1)), +, Imaginary(2))), "
                 "MatchSingleton(None)], kw), -, [Pass])])]"},
        DumpCase{"match p:\n case Point(1, y=_) as q if q: pass\n",
                 "[Match(Name(p), [case(MatchAs(MatchClass(Name(Point), [MatchValue(Int(1))], "
                 "[y], [MatchAs(-, -)]), q), Name(q), [Pass])])]"},
        DumpCase{"match a, *b:\n case x, y: pass\n",
                 "[Match(Tuple([Name(a), Starred(Name(b))]), [case(MatchSequence([MatchAs(-, "
                 "x), MatchAs(-, y)]), -, [Pass])])]"},
        DumpCase{"match p:\n case ():\n  pass\n case 'a' 'b': pass\n",
                 "[Match(Name(p), [case(MatchSequence([]), -, [Pass]), "
                 "case(MatchValue(Str(\"ab\")), -, [Pass])])]"}));

// Template strings: parts, the expression text of an interpolation, conversions and nested
// format specifiers.
INSTANTIATE_TEST_SUITE_P(
    TemplateStrings, ParserDump,
    testing::Values(
        DumpCase{"t'hi {name!s:<{w}} x'\n",
                 "[Expr(TemplateStr([Str(\"hi \"), Interpolation(Name(name), \"name\", !s, "
                 "JoinedStr([Str(\"<\"), FormattedValue(Name(w), , -)])), Str(\" x\")]))]"},
        DumpCase{"t'{ a + b = }'\n",
                 "[Expr(TemplateStr([Str(\" a + b = \"), Interpolation(BinOp(Name(a), +, "
                 "Name(b)), \"a + b\", !r, -)]))]"},
        DumpCase{"t'a' t'{b}'\n",
                 "[Expr(TemplateStr([Str(\"a\"), Interpolation(Name(b), \"b\", , -)]))]"},
        DumpCase{"T'''{x}\n'''\n",
                 "[Expr(TemplateStr([Interpolation(Name(x), \"x\", , -), Str(\"\\x0a\")]))]"},
        DumpCase{"rt'\\d{x}'\n",
                 "[Expr(TemplateStr([Str(\"\\\\d\"), Interpolation(Name(x), \"x\", , -)]))]"},
        DumpCase{"t''\n", "[Expr(TemplateStr([]))]"}));

INSTANTIATE_TEST_SUITE_P(
    FStrings, ParserDump,
    testing::Values(
        DumpCase{"f'a{x!r:>{w}}b{y=}' 'c'\n",
                 "[Expr(JoinedStr([Str(\"a\"), FormattedValue(Name(x), !r, "
                 "JoinedStr([Str(\">\"), FormattedValue(Name(w), , -)])), Str(\"by=\"), "
                 "FormattedValue(Name(y), !r, -), Str(\"c\")]))]"},
        DumpCase{"f'{{}}{x:{{}}}'\n",
                 "[Expr(JoinedStr([Str(\"{}\"), FormattedValue(Name(x), , "
                 "JoinedStr([FormattedValue(Dict([], []), , -)]))]))]"},
        DumpCase{"f'{f\"{f'{x}'}\"}'\n",
                 "[Expr(JoinedStr([FormattedValue(JoinedStr([FormattedValue(JoinedStr("
                 "[FormattedValue(Name(x), , -)]), , -)]), , -)]))]"},
        DumpCase{"f'{x=:>4}'\n",
                 "[Expr(JoinedStr([Str(\"x=\"), FormattedValue(Name(x), , "
                 "JoinedStr([Str(\">4\")]))]))]"},
        // A format specifier is escape-decoded even in a raw f-string.
        DumpCase{"rf'\\n{x:\\x41\\n}'\n",
                 "[Expr(JoinedStr([Str(\"\\\\n\"), FormattedValue(Name(x), , "
                 "JoinedStr([Str(\"A\\x0a\")]))]))]"},
        DumpCase{"f'{1 \\\n=}'\n",
                 "[Expr(JoinedStr([Str(\"1 =\"), FormattedValue(Int(1), !r, -)]))]"},
        // The text of a `=` field drops comments and reads line breaks as \n.
        DumpCase{"f'''{1+2 = # note\r\n  }'''\n",
                 "[Expr(JoinedStr([Str(\"1+2 = \\x0a  \"), FormattedValue(BinOp(Int(1), +, "
                 "Int(2)), !r, -)]))]"},
        DumpCase{"f'{a[\"k\"]}'\n",
                 "[Expr(JoinedStr([FormattedValue(Subscript(Name(a), Str(\"k\")), , -)]))]"}));

// `except A, B:` without parentheses names a tuple; with `as` it stays an error.
INSTANTIATE_TEST_SUITE_P(
    ExceptWithoutParentheses, ParserDump,
    testing::Values(
        DumpCase{"try: pass\nexcept A, B: pass\n",
                 "[Try([Pass], [except(Tuple([Name(A), Name(B)]), -, [Pass])], [], [])]"},
        DumpCase{"try: pass\nexcept* A, B, C: pass\n",
                 "[TryStar([Pass], [except(Tuple([Name(A), Name(B), Name(C)]), -, [Pass])], [], "
                 "[])]"},
        DumpCase{"try: pass\nexcept A,: pass\n",
                 "[Try([Pass], [except(Tuple([Name(A)]), -, [Pass])], [], [])]"},
        DumpCase{"try: pass\nexcept A, B as e: pass\n",
                 "error: InvalidSyntax { message: \"multiple exception types must be "
                 "parenthesized\" }"},
        DumpCase{"try: pass\nexcept (A, B) as e: pass\n",
                 "[Try([Pass], [except(Tuple([Name(A), Name(B)]), e, [Pass])], [], [])]"}));

// Every remaining statement and expression kind, so each dump branch and each parse path runs.
INSTANTIATE_TEST_SUITE_P(
    MoreStatements, ParserDump,
    testing::Values(
        DumpCase{"raise E(1) from exc\n", "[Raise(Call(Name(E), [Int(1)], []), Name(exc))]"},
        DumpCase{"raise\n", "[Raise(-, -)]"},
        DumpCase{"assert x, 'msg'\n", "[Assert(Name(x), Str(\"msg\"))]"},
        DumpCase{"while a:\n    continue\nelse:\n    pass\n",
                 "[While(Name(a), [Continue], [Pass])]"},
        DumpCase{"async def f():\n    async for x in y: pass\n    async with a as b, c: pass\n",
                 "[AsyncFunctionDef(f, [], args([], [], -, [], [], -, []), -, [AsyncFor(Name(x), "
                 "Name(y), [Pass], []), AsyncWith([Name(a) as Name(b), Name(c)], [Pass])], [])]"},
        DumpCase{"def f():\n    nonlocal a, b\n",
                 "[FunctionDef(f, [], args([], [], -, [], [], -, []), -, [Nonlocal([a, b])], [])]"},
        DumpCase{"return *a, b\n", "[Return(Tuple([Starred(Name(a)), Name(b)]))]"},
        DumpCase{"x = yield a, b\n", "[Assign([Name(x)], Yield(Tuple([Name(a), Name(b)])))]"},
        DumpCase{"@a\n@b.c(d)\nasync def f(): pass\n",
                 "[AsyncFunctionDef(f, [], args([], [], -, [], [], -, []), -, [Pass], [Name(a), "
                 "Call(Attribute(Name(b), c), [Name(d)], [])])]"},
        DumpCase{"x = ..., None, True, False\n",
                 "[Assign([Name(x)], Tuple([Ellipsis, None, True, False]))]"},
        DumpCase{"x = 1 + 2j, 0.5, b'\\x00', 'a' 'b'\n",
                 "[Assign([Name(x)], Tuple([BinOp(Int(1), +, Imaginary(2)), Float(0.5), "
                 "Bytes(\"\\x00\"), Str(\"ab\")]))]"},
        DumpCase{"x = a if b else c if d else e\n",
                 "[Assign([Name(x)], IfExp(Name(b), Name(a), IfExp(Name(d), Name(c), Name(e))))]"},
        DumpCase{"with a, b as c: pass\n", "[With([Name(a), Name(b) as Name(c)], [Pass])]"},
        DumpCase{"class A:\n    def f(self): return self\n",
                 "[ClassDef(A, [], [], [], [FunctionDef(f, [], args([], [self], -, [], [], -, []), "
                 "-, [Return(Name(self))], [])], [])]"},
        DumpCase{"match x:\n case None | True | False: pass\n case {1: a, 'b': [c]}: pass\n case "
                 "A.B(c, d=e): pass\n case (a, b) if a > b: pass\n",
                 "[Match(Name(x), [case(MatchOr([MatchSingleton(None), MatchSingleton(True), "
                 "MatchSingleton(False)]), -, [Pass]), case(MatchMapping([Int(1), Str(\"b\")], "
                 "[MatchAs(-, a), MatchSequence([MatchAs(-, c)])], -), -, [Pass]), "
                 "case(MatchClass(Attribute(Name(A), B), [MatchAs(-, c)], [d], [MatchAs(-, e)]), "
                 "-, [Pass]), case(MatchSequence([MatchAs(-, a), MatchAs(-, b)]), Compare(Name(a), "
                 "[>], [Name(b)]), [Pass])])]"},
        DumpCase{"try:\n    pass\nexcept (A, B) as e:\n    pass\nexcept:\n    pass\nelse:\n    "
                 "pass\nfinally:\n    pass\n",
                 "[Try([Pass], [except(Tuple([Name(A), Name(B)]), e, [Pass]), except(-, -, "
                 "[Pass])], [Pass], [Pass])]"},
        DumpCase{"import a, b.c\n", "[Import([a, b.c])]"},
        DumpCase{"from .. import a\n", "[ImportFrom(-, [a], 2)]"},
        DumpCase{"from a.b import *\n", "[ImportFrom(a.b, [*], 0)]"},
        DumpCase{"del x\n", "[Delete([Name(x)])]"},
        DumpCase{"x = [*a, *b]\n",
                 "[Assign([Name(x)], List([Starred(Name(a)), Starred(Name(b))]))]"},
        DumpCase{"x = (yield)\n", "[Assign([Name(x)], Yield(-))]"},
        DumpCase{"x = {1, 2}\n", "[Assign([Name(x)], Set([Int(1), Int(2)]))]"},
        DumpCase{"x = {}\n", "[Assign([Name(x)], Dict([], []))]"},
        DumpCase{"x = []\n", "[Assign([Name(x)], List([]))]"},
        DumpCase{"type A = int\n", "[TypeAlias(Name(A), [], Name(int))]"},
        DumpCase{"def f[T](x: T) -> T: return x\n",
                 "[FunctionDef(f, [TypeVar(T, -, -)], args([], [x: Name(T)], -, [], [], -, []), "
                 "Name(T), [Return(Name(x))], [])]"},
        DumpCase{"class A(metaclass=M, **kw): pass\n",
                 "[ClassDef(A, [], [], [metaclass=Name(M), **=Name(kw)], [Pass], [])]"}));

INSTANTIATE_TEST_SUITE_P(
    MoreExpressions, ParserDump,
    testing::Values(
        DumpCase{"f(*a, *b, **c, **d)\n",
                 "[Expr(Call(Name(f), [Starred(Name(a)), Starred(Name(b))], [**=Name(c), "
                 "**=Name(d)]))]"},
        DumpCase{"[[y for y in x] for x in z]\n",
                 "[Expr(ListComp(ListComp(Name(y), [for Name(y) in Name(x)]), [for Name(x) in "
                 "Name(z)]))]"},
        DumpCase{"f'{a!s}{b!a}{c:{d}.{e}}'\n",
                 "[Expr(JoinedStr([FormattedValue(Name(a), !s, -), FormattedValue(Name(b), !a, -), "
                 "FormattedValue(Name(c), , JoinedStr([FormattedValue(Name(d), , -), Str(\".\"), "
                 "FormattedValue(Name(e), , -)]))]))]"},
        DumpCase{"f'{x}' f'{y}'\n",
                 "[Expr(JoinedStr([FormattedValue(Name(x), , -), FormattedValue(Name(y), , -)]))]"},
        DumpCase{"lambda a, b=1, *c, d, **e: 0\n",
                 "[Expr(Lambda(args([], [a, b], c, [d], [-], e, [Int(1)]), Int(0)))]"},
        DumpCase{"a[b][c](d).e\n",
                 "[Expr(Attribute(Call(Subscript(Subscript(Name(a), Name(b)), Name(c)), [Name(d)], "
                 "[]), e))]"},
        DumpCase{"(a for b in c if d if e)\n",
                 "[Expr(GeneratorExp(Name(a), [for Name(b) in Name(c) if Name(d) if Name(e)]))]"},
        DumpCase{"{**a, **b}\n", "[Expr(Dict([-, -], [Name(a), Name(b)]))]"},
        DumpCase{"not not a\n", "[Expr(UnaryOp(not, UnaryOp(not, Name(a))))]"},
        DumpCase{"~-+a\n", "[Expr(UnaryOp(~, UnaryOp(-, UnaryOp(+, Name(a)))))]"},
        DumpCase{"a @ b // c % d\n",
                 "[Expr(BinOp(BinOp(BinOp(Name(a), @, Name(b)), //, Name(c)), %, Name(d)))]"},
        DumpCase{"a << b >> c\n", "[Expr(BinOp(BinOp(Name(a), <<, Name(b)), >>, Name(c)))]"},
        DumpCase{"a and b and c or d\n",
                 "[Expr(BoolOp(or, [BoolOp(and, [Name(a), Name(b), Name(c)]), Name(d)]))]"},
        DumpCase{"a in b not in c is d is not e\n",
                 "[Expr(Compare(Name(a), [in, not in, is, is not], [Name(b), Name(c), Name(d), "
                 "Name(e)]))]"},
        DumpCase{"x[::-1]\n", "[Expr(Subscript(Name(x), Slice(-, -, UnaryOp(-, Int(1)))))]"},
        DumpCase{"x[a, b:c]\n",
                 "[Expr(Subscript(Name(x), Tuple([Name(a), Slice(Name(b), Name(c), -)])))]"},
        DumpCase{"print(*args, sep='', **kw)\n",
                 "[Expr(Call(Name(print), [Starred(Name(args))], [sep=Str(\"\"), **=Name(kw)]))]"},
        DumpCase{"await f()\n", "[Expr(Await(Call(Name(f), [], [])))]"}));

// Strings that may not be joined: the parse must refuse them rather than pick one kind.
TEST(ParserStrings, RefusesMixedConcatenation) {
  struct Case {
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"'a' b'b'\n", "cannot mix bytes and nonbytes literals"},
      {"b'a' f'b'\n", "cannot mix bytes and nonbytes literals"},
      {"t'a' 'b'\n", "cannot mix t-string literals with string or bytes literals"},
      {"f'a' t'b'\n", "cannot mix t-string literals with string or bytes literals"},
      {"t'a' b'b'\n", "cannot mix bytes and nonbytes literals"},
  };
  for (const Case& c : cases) {
    auto parsed = parse_module(c.source);
    ASSERT_FALSE(parsed) << c.source;
    EXPECT_EQ(parsed.error().message, c.message) << c.source;
  }
}

// What an outline must still find: errors anywhere in a definition, reported exactly as the full
// parse reports them, also when the definition sits inside a compound statement or another one.
TEST(ParserOutline, ReportsTheFullParsesFirstError) {
  const char* sources[] = {
      "def f():\n    return (\n",                        // unclosed bracket in a body
      "@decorator(\ndef f(): pass\n",                    // decorator
      "def f(x, x=1, y): pass\n",                        // parameters
      "def f() -> : pass\n",                             // return annotation
      "class C(Base, **kw, *args): pass\n",              // bases after keywords
      "class C(x for x in y): pass\n",                   // a bare generator as base
      "class C:\n    def g(self):\n        x = = 1\n",   // nested definition
      "if x:\n    def f():\n        pass\n      bad\n",  // inconsistent dedent in a branch
      "def f():\npass\n",                                // missing indented block
      "async def f():\n    await\n",                     // async body
      "def f[T: (]() : pass\n",                          // type parameters
      "x = 1\ndef f():\n    yield from\ny = 2\n",        // error, then valid code after it
      "def \xEF\xAC\x81():\n    pass\ndef g(:\n",        // after a normalised name
  };
  for (const char* source : sources) {
    auto full = parse_module(source);
    auto outline = parse_module(source, ParseDepth::Outline);
    ASSERT_FALSE(full) << source;
    ASSERT_FALSE(outline) << source;
    EXPECT_EQ(outline.error().kind_text(), full.error().kind_text()) << source;
    EXPECT_EQ(outline.error().range, full.error().range) << source;
  }
}

// An outline keeps every module-level statement as the full tree has it, and of a definition
// its kind, ranges, name and `is_async` with nothing below it.
TEST(ParserOutline, KeepsTheModuleLevelAndDefinitionHeaders) {
  const std::string source =
      "import os\n"
      "@dec\nasync def run(a: int = 1) -> None:\n    class Inner: pass\n    return a\n"
      "class \xEF\xAC\x81le(Base, metaclass=M):\n    x = 1\n    def m(self): ...\n"
      "if cond:\n    def g(): pass\nelse:\n    X = [i for i in range(3)]\n"
      "def after(): pass\n";
  auto full = parse_module(source);
  auto outline = parse_module(source, ParseDepth::Outline);
  ASSERT_TRUE(full);
  ASSERT_TRUE(outline);
  ASSERT_EQ(outline->body().size(), full->body().size());
  for (std::size_t i = 0; i < full->body().size(); ++i) {
    EXPECT_EQ(outline->body()[i]->kind, full->body()[i]->kind) << i;
    EXPECT_EQ(outline->body()[i]->range, full->body()[i]->range) << i;
  }
  const auto* run = outline->body()[1]->as<FunctionDef>();
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->name, "run");
  EXPECT_EQ(run->name_range, full->body()[1]->as<FunctionDef>()->name_range);
  EXPECT_TRUE(run->is_async);
  EXPECT_TRUE(run->body.empty() && run->decorator_list.empty() && run->type_params.empty());
  EXPECT_EQ(run->args, nullptr);
  EXPECT_EQ(run->returns, nullptr);
  // The name was normalised by NFKC into memory of the dropped scratch: it must survive it.
  const auto* cls = outline->body()[2]->as<ClassDef>();
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(cls->name, "file");
  EXPECT_TRUE(cls->body.empty() && cls->bases.empty() && cls->keywords.empty());
  // Definitions inside compound statements are outlines too; everything else stays whole.
  const auto* branch = outline->body()[3]->as<If>();
  ASSERT_NE(branch, nullptr);
  EXPECT_TRUE(branch->body[0]->as<FunctionDef>()->body.empty());
  EXPECT_EQ(dump(branch->elif_else_clauses[0]->body),
            dump(full->body()[3]->as<If>()->elif_else_clauses[0]->body));
  EXPECT_LT(outline->arena_bytes(), full->arena_bytes());
}

TEST(ParserModule, KeepsTheSourceAndSkipsAByteOrderMark) {
  std::string source = "\xEF\xBB\xBFx = 1\n";
  auto parsed = parse_module(source);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->source().data(), source.data());
  ASSERT_EQ(parsed->body().size(), 1u);
  EXPECT_EQ(parsed->body()[0]->range, (TextRange{3, 8}));
  EXPECT_GT(parsed->arena_bytes(), 0u);
  // Moving hands the tree over intact.
  ParsedModule moved = std::move(*parsed);
  EXPECT_EQ(dump(moved.body()), "[Assign([Name(x)], Int(1))]");
}

// Statement by statement, a parse must see what the whole parse sees: statements that go on past
// their first line at indentation zero (elif, except, decorators) and errors anywhere.
std::string error_text(const ParseError& error) {
  return "error: " + error.kind_text() + " at " + std::to_string(error.range.start) + ".." +
         std::to_string(error.range.end);
}

// An outline's definitions have no parameters to dump: those print by kind and range only.
std::string render(const Stmt& stmt, ParseDepth depth) {
  if (depth == ParseDepth::Full) return dump(&stmt) + "\n";
  return std::string(node_kind_name(stmt.kind)) + " " + std::to_string(stmt.range.start) + ".." +
         std::to_string(stmt.range.end) + "\n";
}

std::string dump_statements(const std::string& source, ParseDepth depth) {
  std::string out;
  auto parsed = parse_module(source, depth);
  if (!parsed) return error_text(parsed.error());
  for (const Stmt* stmt : parsed->body()) out += render(*stmt, depth);
  return out;
}

std::string stream_statements(const std::string& source, ParseDepth depth) {
  std::string out;
  auto streamed =
      parse_module_statements(source, depth, [&](const Stmt& stmt) { out += render(stmt, depth); });
  if (!streamed) return error_text(streamed.error());
  return out;
}

TEST(ParserStatements, VisitsWhatTheWholeParseBuilds) {
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "x = 1\n";  // past the tokens kept behind
  const std::string sources[] = {
      "if a:\n    x = 1\nelif b:\n    y = 2\nelse:\n    z = 3\nw = 4\n",
      "try:\n    pass\nexcept E as e:\n    pass\nelse:\n    pass\nfinally:\n    pass\nq = 1\n",
      "@d\n\n# comment\n@e(1,\n  2)\nasync def f():\n    pass\nclass C: pass\n",
      "for i in x:\n    pass\nelse:\n    pass\nwhile x:\n    pass\nelse:\n    pass\n",
      "match x:\n    case 1:\n        pass\nmatch = 1\n",
      "a = 1; b = 2; c = 3\nd = \\\n    4\nif x: pass\nelse: pass\n",
      "with (open(a) as b,\n      open(c) as d):\n    pass\nx = f'{a!r:>{w}}'\n",
      "\xEF\xBB\xBFx = 1",
      "x = 1\ny = (\n",            // the lexer's error, at the end
      "x = 1\ny = = 2\nz = 3\n",   // the parser's, in the middle
      "x = 1\n  y = 2\n",          // unexpected indent
      "    x = 1\ny = 2\n",        // ... on the first line
      "x = 1\nelse:\n    pass\n",  // a continuation with nothing to continue
      "def f():\n    if a:\n        pass\n  else:\n        pass\n",
      "x = 1\n$\ny = 2\n",
      "x = 1\n" + std::string(1, '\0'),
      many + "if a:\n    pass\nelse:\n    pass\n@d\ndef f(): pass\n" + many,
      many + "y = (\n",
  };
  for (const std::string& source : sources) {
    for (ParseDepth depth : {ParseDepth::Full, ParseDepth::Outline}) {
      EXPECT_EQ(stream_statements(source, depth), dump_statements(source, depth))
          << source.substr(0, 120);
    }
  }
}

// A visitor may parse another module while it reads a statement; neither parse disturbs the other.
TEST(ParserStatements, NestsInsideAVisitor) {
  const std::string outer = "a = 1\nb = [2,\n 3]\nif c:\n    d = 4\nelse:\n    e = 5\n";
  const std::string inner = "x = (1,\n     2)\ny = 3\n";
  std::string got, inner_got;
  auto streamed = parse_module_statements(outer, ParseDepth::Full, [&](const Stmt& stmt) {
    inner_got.clear();
    auto nested = parse_module_statements(
        inner, ParseDepth::Full, [&](const Stmt& nested_stmt) { inner_got += dump(&nested_stmt); });
    EXPECT_TRUE(nested);
    EXPECT_EQ(inner_got,
              dump(parse_module(inner)->body()[0]) + dump(parse_module(inner)->body()[1]));
    got += render(stmt, ParseDepth::Full);
  });
  ASSERT_TRUE(streamed);
  EXPECT_EQ(got, dump_statements(outer, ParseDepth::Full));
}

// A statement's tree goes once it has been read: the next one is built in the same memory.
TEST(ParserStatements, ReusesTheMemoryOfStatementsItHasRead) {
  std::string source;
  for (int i = 0; i < 10000; ++i) source += "name = [1, 2, 3]\n";
  std::set<const Stmt*> seen;
  std::size_t count = 0;
  auto streamed = parse_module_statements(source, ParseDepth::Full, [&](const Stmt& stmt) {
    seen.insert(&stmt);
    ++count;
  });
  ASSERT_TRUE(streamed);
  EXPECT_EQ(count, 10000u);
  EXPECT_EQ(seen.size(), 1u);
}

// A whole-module parse keeps its tree, but not the tokens it was built from: those behind the
// statement being parsed are dropped, so a file of millions of statements does not hold them all.
TEST(ParserWhole, DropsTheTokensBehindItsStatements) {
  std::string source;
  for (int i = 0; i < 20000; ++i) source += "x = 1\n";
  source += "def f(\n    a,\n):\n    return a\n";
  for (ParseDepth depth : {ParseDepth::Full, ParseDepth::Outline}) {
    std::vector<Token> tokens;
    Lexer lexer(source, 0);
    Arena arena;
    Parser parser(source, tokens, lexer.error(), arena, depth == ParseDepth::Outline);
    std::vector<Stmt*> body;
    ASSERT_TRUE(parser.parse_file(lexer, tokens, &body));
    EXPECT_EQ(body.size(), 20001u);
    EXPECT_LT(tokens.size(), 20000u) << "of 80,000 tokens";
    EXPECT_EQ(body.back()->range.start, 120000u);
  }
}

}  // namespace
}  // namespace korvane::python
