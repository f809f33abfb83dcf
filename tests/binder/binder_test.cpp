#include "binder/binder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "log/log.h"
#include "test_support.h"

namespace korvane::binder {
namespace {

using testing::bind_streamed;
using testing::capture_stderr;
using testing::render_symbols;
using testing::render_wildcards;
using testing::Snippet;
using testing::sorted;

using Lines = std::vector<std::string>;

enum class File { Plain, Stub, PyTyped, Builtins };

struct BindCase {
  const char* name;
  const char* source;
  File file;
  Lines symbols;  // "name: declarations FLAGS", sorted by name
  std::optional<Lines> dunder_all = std::nullopt;
  Lines wildcards = {};
  std::optional<PythonVersion> version = PythonVersion{3, 10};
};

void PrintTo(const BindCase& c, std::ostream* os) { *os << c.name; }

FileInfo file_info(File file, std::optional<PythonVersion> version) {
  FileInfo info;
  info.module_name = file == File::Builtins ? "builtins" : "pkg.mod";
  info.is_stub = file == File::Stub;
  info.is_py_typed = file == File::PyTyped;
  info.python_version = version;
  return info;
}

class BindTest : public ::testing::TestWithParam<BindCase> {};

// Indexing binds outlines, whose definitions keep only their headers: every case must bind
// exactly as from the full tree.
TEST_P(BindTest, BindsOutlinesAlike) {
  const BindCase& c = GetParam();
  Snippet full(c.source);
  Snippet outline(c.source, python::ParseDepth::Outline);
  ASSERT_TRUE(outline.module) << "did not parse";
  BinderResult want = Binder(file_info(c.file, c.version)).bind_module(full.body());
  BinderResult got = Binder(file_info(c.file, c.version)).bind_module(outline.body());
  EXPECT_EQ(render_symbols(got.module_scope), render_symbols(want.module_scope));
  EXPECT_EQ(got.dunder_all, want.dunder_all);
  EXPECT_EQ(render_wildcards(got.wildcard_imports), render_wildcards(want.wildcard_imports));
}

// Indexing binds each statement as it is parsed, its tree freed right after: every case must bind
// exactly as from the whole tree.
TEST_P(BindTest, BindsStreamedAlike) {
  const BindCase& c = GetParam();
  Snippet full(c.source);
  ASSERT_TRUE(full.module) << "did not parse";
  BinderResult want = Binder(file_info(c.file, c.version)).bind_module(full.body());
  BinderResult got = bind_streamed(*full.text, file_info(c.file, c.version));
  EXPECT_EQ(render_symbols(got.module_scope), render_symbols(want.module_scope));
  EXPECT_EQ(got.dunder_all, want.dunder_all);
  EXPECT_EQ(render_wildcards(got.wildcard_imports), render_wildcards(want.wildcard_imports));
}

TEST_P(BindTest, Binds) {
  const BindCase& c = GetParam();
  Snippet snippet(c.source);
  ASSERT_TRUE(snippet.module) << "did not parse";
  BinderResult result = Binder(file_info(c.file, c.version)).bind_module(snippet.body());
  Lines want = c.symbols;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(render_symbols(result.module_scope), want);
  EXPECT_EQ(result.dunder_all.has_value(), c.dunder_all.has_value());
  if (result.dunder_all && c.dunder_all) {
    Lines want_all = *c.dunder_all;
    std::sort(want_all.begin(), want_all.end());
    EXPECT_EQ(sorted(*result.dunder_all), want_all);
  }
  EXPECT_EQ(render_wildcards(result.wildcard_imports), c.wildcards);
  EXPECT_EQ(result.module_scope.kind,
            c.file == File::Builtins ? ScopeKind::Builtins : ScopeKind::Module);
}

std::string case_name(const ::testing::TestParamInfo<BindCase>& param_info) {
  return param_info.param.name;
}

constexpr const char* kStubExample =
    "import sys\n"
    "from typing import TYPE_CHECKING\n"
    "from ._impl import util as util\n"
    "from ._impl import other\n"
    "if sys.version_info >= (3, 10):\n"
    "    from ._new import feature\n"
    "else:\n"
    "    from ._old import feature\n"
    "if TYPE_CHECKING:\n"
    "    from ._types import T\n"
    "__all__ = ['feature', 'Public']\n"
    "class Public: ...\n"
    "_private = 1\n";

// The same stub module read as a stub, as a py.typed source and as neither: only the
// hiding flag of its import-bound names changes.
INSTANTIATE_TEST_SUITE_P(
    StubExample, BindTest,
    ::testing::Values(
        BindCase{"AsStub",
                 kStubExample,
                 File::Stub,
                 {"Public: class ALL", "TYPE_CHECKING: import(typing:TYPE_CHECKING) HIDDEN",
                  "__all__: var", "_private: var", "feature: import(._new:feature) ALL",
                  "other: import(._impl:other) HIDDEN", "sys: import(sys) HIDDEN",
                  "util: import(._impl:util)"},
                 Lines{"Public", "feature"},
                 {},
                 PythonVersion{3, 11}},
        BindCase{"AsPyTyped",
                 kStubExample,
                 File::PyTyped,
                 {"Public: class ALL", "TYPE_CHECKING: import(typing:TYPE_CHECKING) PYHIDDEN",
                  "__all__: var", "_private: var", "feature: import(._new:feature) ALL",
                  "other: import(._impl:other) PYHIDDEN", "sys: import(sys) PYHIDDEN",
                  "util: import(._impl:util)"},
                 Lines{"Public", "feature"},
                 {},
                 PythonVersion{3, 11}},
        BindCase{"AsPlain",
                 kStubExample,
                 File::Plain,
                 {"Public: class ALL", "TYPE_CHECKING: import(typing:TYPE_CHECKING)",
                  "__all__: var", "_private: var", "feature: import(._new:feature) ALL",
                  "other: import(._impl:other)", "sys: import(sys)", "util: import(._impl:util)"},
                 Lines{"Public", "feature"},
                 {},
                 PythonVersion{3, 11}},
        // Without a version both branches bind, in source order.
        BindCase{"AsStubWithoutVersion",
                 kStubExample,
                 File::Stub,
                 {"Public: class ALL", "TYPE_CHECKING: import(typing:TYPE_CHECKING) HIDDEN",
                  "__all__: var", "_private: var", "feature: import(._new:feature) x2 {import} ALL",
                  "other: import(._impl:other) HIDDEN", "sys: import(sys) HIDDEN",
                  "util: import(._impl:util)"},
                 Lines{"Public", "feature"},
                 {},
                 std::nullopt}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Statements, BindTest,
    ::testing::Values(
        // Nothing inside def or class bodies leaks out, `global` included.
        BindCase{"DefAndClassBodies",
                 "def f():\n    global g\n    g = 1\n    x = 2\nclass K:\n    y = 1\n"
                 "    def m(self): pass\n@dec\nasync def h(a=(b := 1)): pass\n",
                 File::Plain,
                 {"K: class", "f: def", "h: def"}},
        BindCase{"TypeAlias",
                 "type X = int\ntype Y[T] = list[T]\n",
                 File::Plain,
                 {"X: alias", "Y: alias"}},
        BindCase{"AugmentedAssignBindsNothing", "x += 1\n", File::Plain, {}},
        BindCase{"AnnotationWithoutValue", "x: int\n", File::Plain, {"x: var"}},
        BindCase{"ChainedAssignment", "a = b = 1\n", File::Plain, {"a: var", "b: var"}},
        BindCase{"Unpacking",
                 "a, (b, *c) = 1, (2, 3)\n[d, e] = f\n",
                 File::Plain,
                 {"a: var", "b: var", "d: var", "e: var"}},
        BindCase{"AttributeAndSubscriptTargets", "a.b = 1\na[0] = 1\n", File::Plain, {}},
        BindCase{"ExpressionStatementsBindNothing",
                 "(y := 1)\nglobal x\ndel z\nassert w\nraise E\npass\n",
                 File::Plain,
                 {}},
        BindCase{"FinalAnnotations",
                 "X: Final = 1\nY: typing.Final[int] = 1\nZ: Annotated[Final, 1] = 1\n"
                 "W: t.Final = 1\nv: Final[int]\nA, B = 1, 2\nu: 'Final' = 1\n",
                 File::Plain,
                 {"A: var+const", "B: var+const", "W: var+const+final", "X: var+const+final",
                  "Y: var+const+final", "Z: var+const", "u: var", "v: var+final"}},
        BindCase{"ConstantNames",
                 "MAX_SIZE = 1\n_X = 1\nA1 = 1\nΑΒΓ = 1\nMax = 1\n_ = 1\n__ = 1\nX_y = 1\n"
                 "_1 = 1\n",
                 File::Plain,
                 {"A1: var+const", "MAX_SIZE: var+const", "Max: var", "X_y: var", "_: var",
                  "_1: var", "_X: var+const", "__: var", "ΑΒΓ: var+const"}},
        BindCase{"LoopsAndWith",
                 "for I in range(3):\n    a = 1\nelse:\n    b = 1\n"
                 "while x:\n    c = 1\nelse:\n    d = 1\n"
                 "with open() as F, open() as (g, h), lock:\n    i = 1\n"
                 "async def k():\n    async with x as y: pass\n",
                 File::Plain,
                 {"F: var+const", "I: var+const", "a: var", "b: var", "c: var", "d: var", "g: var",
                  "h: var", "i: var", "k: def"}},
        BindCase{"TryParts",
                 "try:\n    import a\nexcept ValueError as err:\n    b = 1\nexcept OSError:\n"
                 "    c = 1\nelse:\n    d = 1\nfinally:\n    e = 1\n"
                 "try:\n    pass\nexcept* E as ERR:\n    f = 1\n",
                 File::Plain,
                 {"ERR: var", "a: import(a)", "b: var", "c: var", "d: var", "e: var", "err: var",
                  "f: var"}},
        BindCase{"MatchPatterns",
                 "match x:\n"
                 "    case [a, *rest] if guard:\n        b = 1\n"
                 "    case {'k': v, **kw}:\n        pass\n"
                 "    case Point(px, y=py) as pt:\n        pass\n"
                 "    case 1 | C() | [*_] | None:\n        pass\n"
                 "    case [Q] | (Q, 1):\n        pass\n"
                 "    case _:\n        z = 1\n",
                 File::Plain,
                 {"Q: var x2 {var}", "a: var", "b: var", "kw: var", "pt: var", "px: var", "py: var",
                  "rest: var", "v: var", "z: var"}},
        // The first declaration and the first import keep binding order across statement kinds.
        BindCase{"DeclarationOrder",
                 "x = 1\ndef x(): pass\nclass x: pass\nimport x\nfor x in y: pass\n"
                 "from m import y as x\n",
                 File::Plain,
                 {"x: var,import(x) x6 {var,def,class,import}"}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Pruning, BindTest,
    ::testing::Values(
        BindCase{"TrueTakesBody",
                 "import sys\nif sys.version_info >= (3, 8):\n    p = 1\nelse:\n    q = 1\n",
                 File::Plain,
                 {"p: var", "sys: import(sys)"}},
        BindCase{"FirstTrueElif",
                 "import sys\nif sys.version_info < (3, 8):\n    p = 1\n"
                 "elif sys.version_info < (3, 11):\n    q = 1\nelse:\n    r = 1\n",
                 File::Plain,
                 {"q: var", "sys: import(sys)"}},
        BindCase{"UnknownElifKeepsElse",
                 "import sys\nif sys.version_info < (3, 8):\n    p = 1\nelif cond:\n    q = 1\n"
                 "else:\n    r = 1\n",
                 File::Plain,
                 {"q: var", "r: var", "sys: import(sys)"}},
        // An undecided `if` keeps every branch, even one a later test rules out.
        BindCase{"UnknownIfKeepsAll",
                 "import sys\nif cond:\n    p = 1\nelif sys.version_info < (3, 8):\n    q = 1\n"
                 "else:\n    r = 1\n",
                 File::Plain,
                 {"p: var", "q: var", "r: var", "sys: import(sys)"}},
        BindCase{"TypeChecking",
                 "if TYPE_CHECKING:\n    from ._types import T\n    from .x import *\n",
                 File::Stub,
                 {}},
        BindCase{"NotTypeChecking",
                 "if not TYPE_CHECKING:\n    p = 1\nelse:\n    q = 1\n",
                 File::Plain,
                 {"p: var"}},
        BindCase{"FalseChainReachesElse",
                 "if False:\n    p = 1\nelif typing.TYPE_CHECKING:\n    q = 1\nelse:\n    r = 1\n",
                 File::Plain,
                 {"r: var"}},
        BindCase{"NestedInLoops",
                 "while x:\n    for i in y:\n        if TYPE_CHECKING:\n            a = 1\n"
                 "    else:\n        b = 1\nelse:\n    c = 1\n",
                 File::Plain,
                 {"b: var", "c: var", "i: var"}},
        // The alias is what the test sees when the `if` is reached, not later.
        BindCase{"SysAliasBeforeTest",
                 "import sys as _s\nif _s.version_info >= (3, 9):\n    a = 1\nelse:\n    b = 1\n",
                 File::Plain,
                 {"_s: import(sys)", "a: var"}},
        BindCase{"SysAliasAfterTest",
                 "if _s.version_info >= (3, 9):\n    a = 1\nelse:\n    b = 1\nimport sys as _s\n",
                 File::Plain,
                 {"_s: import(sys)", "a: var", "b: var"}},
        BindCase{"PlainSysKeepsAlias",
                 "import sys as S\nimport sys\nif S.version_info < (3, 9):\n    a = 1\n",
                 File::Plain,
                 {"S: import(sys)", "sys: import(sys)"}},
        BindCase{"LaterAliasReplaces",
                 "import sys as A\nimport sys as B\nif A.version_info < (3, 9):\n    a = 1\n",
                 File::Plain,
                 {"A: import(sys)", "B: import(sys)", "a: var"}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Imports, BindTest,
    ::testing::Values(
        // Names normalised or decoded into the tree's own memory outlive it when streamed.
        BindCase{"NamesHeldInTheTree",
                 "import sys as \xEF\xAC\x81\nfrom m import \xEF\xAC\x81le, gone\nfrom m import *\n"
                 "if \xEF\xAC\x81.version_info >= (3, 8):\n    new = 1\nelse:\n    old = 1\n"
                 "__all__ = ['n\\x65w', 'gone', 'file']\n__all__.remove('g\\x6fne')\n",
                 File::Stub,
                 {"__all__: var", "fi: import(sys) HIDDEN", "file: import(m:file) ALL",
                  "gone: import(m:gone) HIDDEN", "new: var ALL"},
                 Lines{"file", "new"},
                 Lines{"m"}},
        BindCase{"DottedImport",
                 "import a.b.c\nimport a.b.c as d\nimport e, f.g as h\n",
                 File::Plain,
                 {"a: import(a.b.c)", "d: import(a.b.c)", "e: import(e)", "h: import(f.g)"}},
        BindCase{"RelativeFrom",
                 "from .. import x as y\nfrom . import z\nfrom ..pkg.mod import w\n"
                 "from os.path import join\n",
                 File::Plain,
                 {"join: import(os.path:join)", "w: import(..pkg.mod:w)", "y: import(..:x)",
                  "z: import(.:z)"}},
        BindCase{"Wildcards",
                 "from .mod import *\nfrom . import *\nfrom ..pkg.mod import *\nfrom os import *\n",
                 File::Stub,
                 {},
                 std::nullopt,
                 {".mod", ".", "..pkg.mod", "os"}},
        BindCase{"WildcardInPrunedBranch",
                 "import sys\nif sys.version_info < (3, 0):\n    from old import *\nelse:\n"
                 "    from new import *\n",
                 File::Plain,
                 {"sys: import(sys)"},
                 std::nullopt,
                 {"new"}},
        BindCase{"StubCandidates",
                 "import os\nfrom m import x as y\nimport p as p\nfrom m import z as z\n"
                 "import q.r as q\n",
                 File::Stub,
                 {"os: import(os) HIDDEN", "p: import(p)", "q: import(q.r) HIDDEN",
                  "y: import(m:x) HIDDEN", "z: import(m:z)"}},
        BindCase{"PlainFileHasNoCandidates",
                 "import os\nfrom m import x as y\n",
                 File::Plain,
                 {"os: import(os)", "y: import(m:x)"}},
        BindCase{
            "PyTypedCandidate", "from m import x\n", File::PyTyped, {"x: import(m:x) PYHIDDEN"}},
        BindCase{"ListedCandidateStaysVisible",
                 "from m import x, w\n__all__ = ['x']\n",
                 File::Stub,
                 {"__all__: var", "w: import(m:w) HIDDEN", "x: import(m:x) ALL"},
                 Lines{"x"}},
        BindCase{"DefThenImportInStub",
                 "def x(): ...\nfrom m import x\n",
                 File::Stub,
                 {"x: def,import(m:x) x2 {def,import} HIDDEN"}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Flags, BindTest,
    ::testing::Values(
        BindCase{"BuiltinsHidesPrivate",
                 "_x = 1\n__y__ = 2\n_ = 3\ndef _f(): pass\n__z = 1\n_w__ = 1\n___ = 1\n",
                 File::Builtins,
                 {"_: var", "___: var", "__y__: var", "__z: var HIDDEN", "_f: def HIDDEN",
                  "_w__: var HIDDEN", "_x: var HIDDEN"}},
        BindCase{"OtherModuleKeepsPrivate", "_x = 1\n", File::Plain, {"_x: var"}},
        BindCase{
            "EmptyAllIsAbsent", "__all__ = []\nx = 1\n", File::Stub, {"__all__: var", "x: var"}},
        BindCase{"RemovedAllIsAbsent",
                 "__all__ = ['a']\n__all__.remove('a')\na = 1\n",
                 File::Plain,
                 {"__all__: var", "a: var"}},
        // An unreadable `__all__` exists but lists nothing, so every candidate hides.
        BindCase{"DynamicAllHidesCandidates",
                 "__all__ = names()\nimport os\nx = 1\n",
                 File::Stub,
                 {"__all__: var", "os: import(os) HIDDEN", "x: var"},
                 Lines{}},
        BindCase{"UnboundNameStaysListed",
                 "__all__ = ['f', 'missing']\ndef f(): ...\n",
                 File::Plain,
                 {"__all__: var", "f: def ALL"},
                 Lines{"f", "missing"}},
        BindCase{"AllAtEndMarksEarlierNames",
                 "def f(): ...\nclass K: ...\n__all__ = ['f']\n",
                 File::Plain,
                 {"K: class", "__all__: var", "f: def ALL"},
                 Lines{"f"}},
        // Names bound only in a pruned branch get no flag even when listed.
        BindCase{"ListedButPruned",
                 "import sys\nif sys.version_info < (3, 8):\n    def f(): ...\n__all__ = ['f']\n",
                 File::Stub,
                 {"__all__: var", "sys: import(sys) HIDDEN"},
                 Lines{"f"}}),
    case_name);

TEST(NameRulesTest, ConstantNames) {
  struct Row {
    const char* name;
    bool constant;
  };
  const Row rows[] = {
      {"MAX_SIZE", true}, {"_X", true},   {"A1", true},     {"ΣΑ", true},
      {"Ⓐ", true},        {"Max", false}, {"_", false},     {"__", false},
      {"X_y", false},     {"Σα", false},  {"ǅ", false},     {"X١", false},
      {"1", false},       {"", false},    {"X\xff", false}, {"Ä_2", true},
  };
  for (const Row& row : rows) EXPECT_EQ(is_constant_name(row.name), row.constant) << row.name;
}

TEST(NameRulesTest, PrivateNames) {
  struct Row {
    const char* name;
    bool is_private;
  };
  const Row rows[] = {{"_x", true},  {"__x", true},  {"_x__", true},   {"_", false},
                      {"__", false}, {"___", false}, {"__x__", false}, {"x", false},
                      {"x_", false}, {"_é", true}};
  for (const Row& row : rows) EXPECT_EQ(is_private_name(row.name), row.is_private) << row.name;
}

// A module streamed to the binder may still fail to parse further on, and then it has bound
// nothing: its wildcard imports are logged only once it is finished.
TEST(BinderLog, LogsWildcardImportsOnlyWhenFinished) {
  ::setenv("RUST_LOG", "korvane_indexer::binder=trace", 1);
  ::setenv("NO_COLOR", "1", 1);
  log::install_from_environment();
  Snippet snippet("from m import *\nx = 1\n");
  Binder binder(FileInfo{});
  const std::string bound = capture_stderr([&] {
    binder.begin_module();
    for (const python::Stmt* stmt : snippet.body()) binder.bind_top_level_statement(*stmt);
  });
  std::optional<BinderResult> result;
  const std::string finished = capture_stderr([&] { result = std::move(binder).finish_module(); });
  EXPECT_EQ(bound, "");
  EXPECT_NE(finished.find(" korvane_indexer::binder: Recording wildcard import from m\n"),
            std::string::npos)
      << finished;
}

TEST(ScopeTest, GetOrAddSymbolReturnsTheSameSymbol) {
  Scope scope;
  Symbol& first = scope.get_or_add_symbol("x");
  EXPECT_TRUE(first.declarations.empty());
  EXPECT_EQ(first.flags, 0u);
  first.flags = SymbolFlags::kHidden;
  EXPECT_EQ(scope.get_or_add_symbol("x").flags, SymbolFlags::kHidden);
  EXPECT_EQ(scope.symbol_map.size(), 1u);
}

}  // namespace
}  // namespace korvane::binder
