#include "cross_file/cross_file_resolver.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "../support/temp_tree.h"
#include "log/log.h"

namespace korvane::cross_file {
namespace {

using binder::SymbolFlags;
using korvane::testing::TempTree;

import_resolver::ImportResolverConfig root_config(const TempTree& tree) {
  import_resolver::ImportResolverConfig config;
  config.extra_paths.push_back(tree.root());
  return config;
}

CrossFileResolver make_resolver(const TempTree& tree) {
  return CrossFileResolver(root_config(tree), std::make_shared<ParseCache>(), std::nullopt);
}

indexer::FileToIndex file_at(const std::string& path, bool is_stub = false) {
  indexer::FileToIndex file;
  file.path = path;
  file.is_stub = is_stub;
  return file;
}

const ModuleSymbolEntry& entry_of(const ModuleSymbolTable& table, const std::string& name) {
  auto it = table.symbol_map.find(name);
  if (it == table.symbol_map.end()) {
    ADD_FAILURE() << "no entry " << name;
    static const ModuleSymbolEntry missing;
    return missing;
  }
  return it->second;
}

TEST(ModuleTable, CrossFileKindRule) {
  TempTree tree;
  tree.file("m.py",
            "_private = 1\nMAX_SIZE = 2\nX1 = 3\nlower = 4\nA_B = 5\n_MAX = 6\n\u00c4 = 7\n"
            "match v:\n    case [_CAP, C1, low, D_2, \u00c42, E]: pass\n"
            "from typing import Final\nfinal_name: Final = 8\n"
            "import os as shadow\ndef shadow(): pass\n"
            "def f(): pass\nclass C: pass\ntype T = int\n");
  CrossFileResolver resolver = make_resolver(tree);
  auto table = resolver.build_module_table(file_at(tree.text("m.py")), "pkg.m");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->module_name, "pkg.m");
  EXPECT_EQ(table->file_path, tree.text("m.py"));
  struct Want {
    const char* name;
    uint32_t kind;
  };
  // Assignments carry the binder's constant mark (_MAX and \u00c4 are constant names there);
  // match captures never do, so only the name rule decides them: a leading underscore or a
  // non-ASCII letter gives 13.
  const Want wants[] = {{"_private", 13}, {"MAX_SIZE", 14}, {"X1", 14},     {"lower", 13},
                        {"A_B", 14},      {"_MAX", 14},     {"\u00c4", 14}, {"final_name", 14},
                        {"shadow", 13},   {"f", 12},        {"C", 5},       {"T", 26},
                        {"Final", 13},    {"_CAP", 13},     {"C1", 14},     {"low", 13},
                        {"D_2", 14},      {"\u00c42", 13},  {"E", 14}};
  for (const Want& want : wants)
    EXPECT_EQ(entry_of(*table, want.name).kind, want.kind) << want.name;
  // The import came first: kind 13, and the alias is kept although a def rebinds the name.
  const ModuleSymbolEntry& shadow = entry_of(*table, "shadow");
  ASSERT_TRUE(shadow.alias_info);
  EXPECT_EQ(shadow.alias_info->module_name, "os");
  EXPECT_FALSE(shadow.alias_info->imported_name);
  EXPECT_FALSE(table->dunder_all);
}

TEST(ModuleTable, KeepsEveryNameWithFlagsAndStarImports) {
  TempTree tree;
  tree.file("s.pyi",
            "from m import x\nfrom m import y as y\nfrom .rel import *\nfrom os import *\n"
            "__all__ = ['y', 'z']\n_hidden: int\n");
  CrossFileResolver resolver = make_resolver(tree);
  auto table = resolver.build_module_table(file_at(tree.text("s.pyi"), true), std::nullopt);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->module_name, "");
  // Filtering is the readers' business: the hidden re-export stays, flags untouched.
  EXPECT_EQ(entry_of(*table, "x").flags & SymbolFlags::kHidden, SymbolFlags::kHidden);
  EXPECT_EQ(entry_of(*table, "x").alias_info->imported_name, "x");
  EXPECT_EQ(entry_of(*table, "y").flags & SymbolFlags::kInDunderAll, SymbolFlags::kInDunderAll);
  EXPECT_TRUE(table->symbol_map.contains("_hidden"));
  EXPECT_EQ(table->wildcard_imports, (std::vector<std::string>{".rel", "os"}));
  ASSERT_TRUE(table->dunder_all);
  std::vector<std::string> all = *table->dunder_all;
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<std::string>{"y", "z"}));
}

TEST(ModuleTable, UnreadableOrUnparsableGivesNone) {
  TempTree tree;
  tree.file("bad.py", "def (:\n");
  CrossFileResolver resolver = make_resolver(tree);
  EXPECT_FALSE(resolver.build_module_table(file_at(tree.text("bad.py")), std::nullopt));
  EXPECT_FALSE(resolver.build_module_table(file_at(tree.text("missing.py")), std::nullopt));
}

TEST(OnDemand, StubOnlyForExactSuffixAndNeverRebuilt) {
  TempTree tree;
  tree.file("lower.pyi", "from m import x\n");
  tree.file("upper.PYI", "from m import x\n");
  CrossFileResolver resolver = make_resolver(tree);
  SharedTable stub = resolver.index_file_on_demand(tree.text("lower.pyi"), "lower");
  SharedTable source = resolver.index_file_on_demand(tree.text("upper.PYI"), "upper");
  ASSERT_TRUE(stub && source);
  // Only a stub hides a re-export that __all__ does not list.
  EXPECT_NE(entry_of(*stub, "x").flags & SymbolFlags::kHidden, 0u);
  EXPECT_EQ(entry_of(*source, "x").flags & SymbolFlags::kHidden, 0u);
  EXPECT_EQ(resolver.modules().size(), 2u);
  EXPECT_TRUE(resolver.module_names().empty());

  SharedTable again = resolver.index_file_on_demand(tree.text("lower.pyi"), "other");
  EXPECT_EQ(again.get(), stub.get());
  EXPECT_EQ(again->module_name, "lower");

  EXPECT_FALSE(resolver.index_file_on_demand(tree.text("gone.py"), "gone"));
  EXPECT_EQ(resolver.modules().size(), 2u);
}

class AliasTest : public ::testing::Test {
 protected:
  TempTree tree;
};

TEST_F(AliasTest, FollowsChainToDefinitionAndMemoises) {
  tree.file("a.py", "from b import x\n");
  tree.file("b.py", "from c import x\n");
  tree.file("c.py", "def x(): pass\n");
  CrossFileResolver resolver = make_resolver(tree);
  const ResolvedSymbolInfo want{tree.text("c.py"), "x", 12, true};
  EXPECT_EQ(resolver.resolve_alias(tree.text("a.py"), "b", "x"), want);
  // b and c were indexed on demand, once each.
  EXPECT_EQ(resolver.modules().size(), 2u);
  EXPECT_EQ(resolver.alias_memo_size(), 1u);
  std::filesystem::remove(tree.path("c.py"));  // a memo hit must not look again
  EXPECT_EQ(resolver.resolve_alias(tree.text("a.py"), "b", "x"), want);
  EXPECT_EQ(resolver.alias_memo_size(), 1u);
}

TEST_F(AliasTest, Cases) {
  tree.file("renamed.py", "from target import y as x\n");
  tree.file("target.py", "class y: pass\n_h = 1\n");
  tree.file("hidden.pyi", "from target import y\n");
  tree.file("os/__init__.py", "");
  tree.file("os/path.py", "sep = '/'\n");
  tree.file("pkg/__init__.py", "from .sub import x\n");
  tree.file("pkg/sub.py", "x = 1\n");
  tree.dir("ns/inner");
  tree.file("builtins.pyi", "_private: int\n");
  tree.file("importer.py", "");
  struct Case {
    const char* name;
    const char* module;
    const char* lookup;
    std::optional<ResolvedSymbolInfo> want;
  };
  const std::string target = tree.text("target.py");
  const Case cases[] = {
      // The chain goes on with the name imported, and the result carries that name.
      {"RenamedLink", "renamed", "x", ResolvedSymbolInfo{target, "y", 5, true}},
      // A stub's hidden re-export is still followed: visibility belongs to the definition.
      {"HiddenReexportFollowed", "hidden", "y", ResolvedSymbolInfo{target, "y", 5, true}},
      {"MissingName", "target", "nope", std::nullopt},
      // `import os.path` binds os: os itself is looked up inside os.path.
      {"PlainModuleImportMissingName", "os.path", "os", std::nullopt},
      {"PlainModuleImportFound", "os.path", "sep",
       ResolvedSymbolInfo{tree.text("os/path.py"), "sep", 13, true}},
      // The inner relative import resolves against pkg/, not against the importer.
      {"RelativeInsideTarget", "pkg", "x",
       ResolvedSymbolInfo{tree.text("pkg/sub.py"), "x", 13, true}},
      {"NamespacePackage", "ns", "inner", std::nullopt},
      {"Unresolvable", "nowhere", "x", std::nullopt},
      // The builtins module hides its private names: found, but not visible.
      {"HiddenDefinition", "builtins", "_private",
       ResolvedSymbolInfo{tree.text("builtins.pyi"), "_private", 13, false}},
  };
  for (const Case& c : cases) {
    CrossFileResolver resolver = make_resolver(tree);
    EXPECT_EQ(resolver.resolve_alias(tree.text("importer.py"), c.module, c.lookup), c.want)
        << c.name;
  }
}

TEST_F(AliasTest, CycleStopsAtDepthLimitWithOneTraceLine) {
  tree.file("p.py", "from q import x\n");
  tree.file("q.py", "from p import x\n");
  tree.file("start.py", "");
  setenv("RUST_LOG", "korvane_indexer::cross_file_resolver=trace", 1);
  setenv("NO_COLOR", "1", 1);
  log::install_from_environment();
  CrossFileResolver resolver = make_resolver(tree);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(resolver.resolve_alias(tree.text("start.py"), "p", "x"), std::nullopt);
  const std::string err = ::testing::internal::GetCapturedStderr();
  // Depth d resolves p when d is even, so the refused step at depth 32 is the import from p.
  const std::string line = "Max alias resolution depth reached for ";
  ASSERT_NE(err.find(line), std::string::npos) << err;
  EXPECT_EQ(err.find(line), err.rfind(line)) << "more than one depth line";
  EXPECT_NE(err.find(line + "p.x"), std::string::npos) << err;
  EXPECT_EQ(resolver.modules().size(), 2u);
}

TEST_F(AliasTest, ChainOfThirtyTwoModulesResolvesThirtyThreeDoesNot) {
  // mK imports x from mK+1; the last one defines it.
  auto build = [&](int modules) {
    TempTree chain;
    for (int k = 0; k + 1 < modules; ++k) {
      chain.file("m" + std::to_string(k) + ".py", "from m" + std::to_string(k + 1) + " import x\n");
    }
    chain.file("m" + std::to_string(modules - 1) + ".py", "x = 1\n");
    chain.file("start.py", "");
    CrossFileResolver resolver = make_resolver(chain);
    return resolver.resolve_alias(chain.text("start.py"), "m0", "x").has_value();
  };
  EXPECT_TRUE(build(32));
  EXPECT_FALSE(build(33));
}

TEST(Wildcard, ExportedNamesFollowAllOrPublicNames) {
  TempTree tree;
  tree.file("with_all.py", "__all__ = ['a', '_b', 'unbound']\na = 1\n_b = 2\nc = 3\n");
  tree.file("no_all.py", "a = 1\n_c = 2\nfrom target import t\n");
  tree.file("target.py", "class t: pass\n");
  tree.file("user.pyi",
            "from with_all import *\nfrom no_all import *\nfrom nowhere import *\n"
            "from ns import *\n");
  tree.dir("ns/sub");
  CrossFileResolver resolver = make_resolver(tree);
  resolver.build_from_files(std::vector{file_at(tree.text("user.pyi"), true)}, false);
  auto pairs = resolver.resolve_wildcard_imports(tree.text("user.pyi"));
  // Statement order across imports; "unbound" is listed but not bound and is dropped; "_b"
  // survives here (the merge drops it later).
  std::vector<std::string> names;
  for (const auto& [name, info] : pairs) names.push_back(name);
  ASSERT_EQ(names.size(), 4u);
  std::sort(names.begin(), names.begin() + 2);
  std::sort(names.begin() + 2, names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"_b", "a", "a", "t"}));
  for (const auto& [name, info] : pairs) {
    if (name == "t") {
      EXPECT_EQ(info, (ResolvedSymbolInfo{tree.text("target.py"), "t", 5, true}));
    }
  }
  // Both star targets and the alias target were built on demand.
  EXPECT_TRUE(resolver.modules().contains(tree.text("with_all.py")));
  EXPECT_TRUE(resolver.modules().contains(tree.text("target.py")));
  EXPECT_TRUE(resolver.resolve_wildcard_imports(tree.text("with_all.py")).empty());
  EXPECT_TRUE(resolver.resolve_wildcard_imports(tree.text("not-in-modules.py")).empty());
}

TEST(BatchBuild, ModuleNameRules) {
  TempTree tree;
  tree.file("pkg/sub/mod.py", "x = 1\n");
  tree.file("pkg/mod.py", "x = 1\n");
  tree.file("pkgextra/mod.py", "x = 1\n");
  CrossFileResolver resolver = make_resolver(tree);
  struct Case {
    const char* path;
    std::optional<std::string> given;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"pkg/sub/mod.py", std::nullopt, "pkg.sub.mod"},
      {"pkg/sub/mod.py", "pkg", "pkg.sub.mod"},    // widened by the computed name
      {"pkg/sub/mod.py", "pkg.sub", "pkg.sub"},    // dotted names stand as given
      {"pkg/mod.py", "other", "other"},            // computed name does not start with it
      {"pkgextra/mod.py", "pkg", "pkgextra.mod"},  // a byte prefix is enough
      {"pkg/mod.py", "", "pkg.mod"},               // the empty name prefixes everything
  };
  for (const Case& c : cases) {
    indexer::FileToIndex file = file_at(tree.text(c.path));
    file.module_name = c.given;
    EXPECT_EQ(resolver.compute_module_name(file), c.want) << c.path;
  }
  CrossFileResolver rootless(import_resolver::ImportResolverConfig{},
                             std::make_shared<ParseCache>(), std::nullopt);
  indexer::FileToIndex outside = file_at(tree.text("pkg/mod.py"));
  EXPECT_EQ(rootless.compute_module_name(outside), std::nullopt);
  outside.module_name = "";
  EXPECT_EQ(rootless.compute_module_name(outside), "");
}

TEST(BatchBuild, ParallelAndSequentialFillTheSameMaps) {
  TempTree tree;
  std::vector<indexer::FileToIndex> files;
  for (int i = 0; i < 40; ++i) {
    const std::string name = fmt::format("m{}.py", i);
    tree.file(name, fmt::format("v{} = {}\n", i, i));
    files.push_back(file_at(tree.text(name)));
  }
  // The same path twice: the later occurrence's table wins.
  files.push_back(file_at(tree.text("m3.py")));
  files.back().module_name = "later.name";
  files.push_back(file_at(tree.text("missing.py")));
  auto summary = [&](bool parallel) {
    CrossFileResolver resolver = make_resolver(tree);
    resolver.build_from_files(files, parallel);
    std::vector<std::string> lines;
    for (const auto& [path, table] : resolver.modules()) {
      lines.push_back(path + " " + table->module_name + " " +
                      std::to_string(table->symbol_map.size()));
    }
    for (const auto& [name, path] : resolver.module_names()) lines.push_back(name + "=" + path);
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  const auto sequential = summary(false);
  EXPECT_EQ(summary(true), sequential);
  EXPECT_NE(std::find(sequential.begin(), sequential.end(), tree.text("m3.py") + " later.name 1"),
            sequential.end());
  // 40 modules; names: m0..m39 and later.name.
  EXPECT_EQ(sequential.size(), 40u + 41u);
}

TEST(Preindex, StandardLibraryFromTypeshedTree) {
  TempTree tree;
  tree.file("stdlib/collections/__init__.pyi", "class deque: ...\n");
  tree.file("stdlib/collections/abc/__init__.pyi", "class Sized: ...\n");
  tree.file("stdlib/os/__init__.pyi", "sep: str\n");
  tree.file("stdlib/os/path.pyi", "def join(a: str) -> str: ...\n");
  tree.file("stdlib/typing.pyi", "class Any: ...\n");
  tree.file("stdlib/math.pyi", "def (:\n");  // unparsable: skipped silently
  tree.file("stdlib/unrelated.pyi", "x: int\n");
  import_resolver::ImportResolverConfig config;
  config.typeshed_stdlib_path = tree.path("stdlib");
  CrossFileResolver resolver(config, std::make_shared<ParseCache>(), std::nullopt);
  // A batch file under the exact path pre-indexing finds keeps its own table.
  indexer::FileToIndex typing = file_at(tree.text("stdlib/typing.pyi"), false);
  typing.module_name = "batch.typing";
  resolver.build_from_files(std::vector{typing}, false);
  resolver.preindex_common_stdlib_modules();

  std::vector<std::string> names;
  for (const auto& [name, path] : resolver.module_names()) names.push_back(name + "=" + path);
  std::sort(names.begin(), names.end());
  const std::string stdlib = tree.text("stdlib");
  EXPECT_EQ(names, (std::vector<std::string>{
                       "batch.typing=" + stdlib + "/typing.pyi",
                       "collections.abc=" + stdlib + "/collections/abc/__init__.pyi",
                       "collections=" + stdlib + "/collections/__init__.pyi",
                       "os.path=" + stdlib + "/os/path.pyi",
                       "os=" + stdlib + "/os/__init__.pyi",
                   }));
  EXPECT_EQ(resolver.modules().size(), 5u);
  EXPECT_EQ(resolver.modules().at(stdlib + "/typing.pyi")->module_name, "batch.typing");
}

TEST(Preindex, NothingWithoutStandardLibraryPath) {
  TempTree tree;
  CrossFileResolver resolver = make_resolver(tree);
  tree.file("typing.pyi", "class Any: ...\n");
  resolver.preindex_common_stdlib_modules();
  EXPECT_TRUE(resolver.modules().empty());
}

}  // namespace
}  // namespace korvane::cross_file
