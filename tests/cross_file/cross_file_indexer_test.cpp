#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "../support/temp_tree.h"
#include "cross_file/cross_file_indexer.h"
#include "indexer/indexer.h"

namespace korvane::indexer {
namespace {

using korvane::testing::TempTree;

struct Flags {
  bool stub = false;
  bool py_typed = false;
  bool all = false;
};

FileToIndex file_at(const std::string& path, Flags flags = {}) {
  FileToIndex file;
  file.path = path;
  file.is_stub = flags.stub;
  file.is_py_typed = flags.py_typed;
  file.include_all_symbols = flags.all;
  return file;
}

Indexer indexer_over(const TempTree& tree, std::optional<std::string> stdlib = std::nullopt) {
  Indexer indexer;
  import_resolver::ImportResolverConfig config;
  config.extra_paths.push_back(tree.root().string());
  config.typeshed_stdlib_path = std::move(stdlib);
  indexer.configure_search_paths(config, std::nullopt);
  return indexer;
}

std::vector<IndexedSymbol> sorted(std::vector<IndexedSymbol> symbols) {
  std::sort(symbols.begin(), symbols.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return symbols;
}

IndexedSymbol resolved(std::string name, uint32_t visibility, std::string original, std::string uri,
                       uint32_t kind) {
  return IndexedSymbol{std::move(name), visibility, 2,
                       SymbolAlias{std::move(original), std::move(uri), kind}};
}

FileIndexResult index_one(const Indexer& indexer, const FileToIndex& file) {
  auto results = cross_file::index_batch(indexer, std::vector{file}, false);
  EXPECT_EQ(results.size(), 1u);
  return results.empty() ? FileIndexResult{} : results.front();
}

class CrossFileIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.file("m.py", "class x: pass\n_b = 1\na = 2\n__all__ = ['a', '_b', 'x']\n");
    // Only the builtins module hides definitions (its private names).
    tree.file("builtins.pyi", "_p: int\n");
    tree.file("os/__init__.py", "");
    tree.file("os/path.py", "sep = '/'\n");
    tree.file("plainmod.py", "plainmod = 1\n");
  }
  std::string m() const { return tree.text("m.py"); }
  TempTree tree;
};

TEST_F(CrossFileIndexTest, ImportOnlyNames) {
  struct Case {
    const char* name;
    const char* source;
    Flags flags;
    std::vector<IndexedSymbol> want;
  };
  const Case cases[] = {
      // Mentions neither __all__ nor a star import: the text rule skips it, imports or not.
      {"FastPathSkip", "from .m import x\n", {}, {}},
      {"AllListsRelativeImport",
       "from .m import x\n__all__ = ['x']\n",
       {},
       {resolved("x", 3, "x", m(), 5)}},
      {"EmptyAllDropsImport", "from .m import x\n__all__ = []\n", {}, {}},
      {"EmptyAllWithAllSymbols",
       "from .m import x\n__all__ = []\n",
       {.all = true},
       {resolved("x", 1, "x", m(), 5)}},
      // A plain import looks its own name up inside the module it imports.
      {"PlainImportMissingName", "import os.path\n__all__ = ['os']\n", {}, {}},
      {"PlainImportFoundName",
       "import plainmod\n__all__ = ['plainmod']\n",
       {},
       {resolved("plainmod", 3, "plainmod", "PLAINMOD", 13)}},
      // A stub keeps its hidden re-export, with no visibility bit.
      {"StubHiddenReexport", "from m import a\n", {.stub = true}, {resolved("a", 0, "a", m(), 13)}},
      {"StubExplicitReexport",
       "from m import a as a\n",
       {.stub = true},
       {resolved("a", 1, "a", m(), 13)}},
      {"PyTypedHiddenDropped", "from m import a\n", {.py_typed = true}, {}},
      {"PyTypedListed",
       "from m import a\n__all__ = ['a']\n",
       {.py_typed = true},
       {resolved("a", 3, "a", m(), 13)}},
      // Only visible definitions are exported.
      {"InvisibleDefinitionDropped", "from builtins import _p as _p\n", {.stub = true}, {}},
      {"UnresolvableDropped", "from nowhere import a\n__all__ = ['a']\n", {}, {}},
      // A name bound by an import and by a def converts as in plain mode: alias kind 13.
      {"DeclaredAndImported",
       "from m import a\ndef a(): pass\n__all__ = ['a']\n",
       {},
       {IndexedSymbol{"a", 3, 13, SymbolAlias{"a", "m", 13}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tree.text(std::string("pkgfile_") + c.name + ".py");
    tree.file(std::string("pkgfile_") + c.name + ".py", c.source);
    FileIndexResult got = index_one(indexer_over(tree), file_at(path, c.flags));
    EXPECT_EQ(got.error, std::nullopt);
    std::vector<IndexedSymbol> want = c.want;
    for (IndexedSymbol& symbol : want) {
      if (symbol.alias && symbol.alias->module_uri == "PLAINMOD") {
        symbol.alias->module_uri = tree.text("plainmod.py");
      }
    }
    EXPECT_EQ(sorted(got.symbols), sorted(want));
  }
}

TEST_F(CrossFileIndexTest, StarImportMerges) {
  tree.file("noall.py", "a = 1\n_c = 2\nd = 3\n");
  tree.file("other.py", "__all__ = ['a']\na = 'other'\n");
  struct Case {
    const char* name;
    const char* source;
    Flags flags;
    std::vector<IndexedSymbol> want;
  };
  const std::string noall = tree.text("noall.py");
  const Case cases[] = {
      // "_b" is listed by m's __all__ but the merge drops names starting with "_".
      {"StubWithAll",
       "from m import *\n",
       {.stub = true},
       {resolved("a", 1, "a", m(), 13), resolved("x", 1, "x", m(), 5)}},
      {"StubWithoutAll",
       "from noall import *\n",
       {.stub = true},
       {resolved("a", 1, "a", noall, 13), resolved("d", 1, "d", noall, 13)}},
      {"PlainWithoutAll", "from noall import *\n", {}, {}},
      {"PlainWithAll",
       "from noall import *\n__all__ = ['a']\n",
       {},
       {resolved("a", 1, "a", noall, 13)}},
      {"PyTypedWithoutAll",
       "from noall import *\n",
       {.py_typed = true},
       {resolved("a", 1, "a", noall, 13), resolved("d", 1, "d", noall, 13)}},
      // The file's own binding wins over the star import.
      {"OwnDefinitionWins",
       "from noall import *\ndef a(): pass\n",
       {.stub = true},
       {IndexedSymbol{"a", 1, 12, std::nullopt}, resolved("d", 1, "d", noall, 13)}},
      // Among star imports the first statement wins.
      {"FirstStatementWins",
       "from other import *\nfrom noall import *\n",
       {.stub = true},
       {resolved("a", 1, "a", tree.text("other.py"), 13), resolved("d", 1, "d", noall, 13)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string("star_") + c.name + (c.flags.stub ? ".pyi" : ".py");
    tree.file(name, c.source);
    FileIndexResult got = index_one(indexer_over(tree), file_at(tree.text(name), c.flags));
    EXPECT_EQ(got.error, std::nullopt);
    EXPECT_EQ(sorted(got.symbols), sorted(c.want));
  }
}

TEST_F(CrossFileIndexTest, FailuresAndSkips) {
  tree.file("bad.py", "__all__ = [\n");
  Indexer indexer = indexer_over(tree);
  const std::vector<FileToIndex> files = {file_at(tree.text("missing.py")),
                                          file_at(tree.text("bad.py")),
                                          file_at(tree.text("_private.py"))};
  auto results = cross_file::index_batch(indexer, files, false);
  ASSERT_EQ(results.size(), 3u);
  const FileIndexResult failed{tree.text("missing.py"), {}, "Failed to parse file", false};
  EXPECT_EQ(results[0], failed);
  EXPECT_EQ(results[1].error, "Failed to parse file");
  EXPECT_TRUE(results[2].private_or_protected);
  EXPECT_EQ(results[2].error, std::nullopt);
}

TEST_F(CrossFileIndexTest, ParallelMatchesSequentialAndKeepsBatchOrder) {
  std::vector<FileToIndex> files;
  for (int i = 0; i < 30; ++i) {
    const std::string name = "batch" + std::to_string(i) + ".pyi";
    tree.file(name, "from m import *\nfrom batch" + std::to_string((i + 1) % 30) + " import v" +
                        std::to_string((i + 1) % 30) + " as w\nv" + std::to_string(i) + " = 1\n");
    files.push_back(file_at(tree.text(name), {.stub = true}));
  }
  files.push_back(files[4]);  // the same path twice: two results, in batch order
  Indexer indexer = indexer_over(tree);
  auto sequential = cross_file::index_batch(indexer, files, false);
  auto parallel = cross_file::index_batch(indexer, files, true);
  ASSERT_EQ(sequential.size(), files.size());
  ASSERT_EQ(parallel.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(sequential[i].path, files[i].path);
    EXPECT_EQ(sorted(parallel[i].symbols), sorted(sequential[i].symbols)) << files[i].path;
  }
  // w is a hidden stub re-export of the next file's v: kind 2, visibility 0.
  auto symbols = sorted(sequential[0].symbols);
  EXPECT_NE(std::find(symbols.begin(), symbols.end(),
                      resolved("w", 0, "v1", tree.text("batch1.pyi"), 13)),
            symbols.end());
  EXPECT_EQ(sorted(sequential.back().symbols), sorted(sequential[4].symbols));
}

// Paths that differ only in letter case or in "\" against "/" name different files: each is
// answered from its own text, and a path of no file fails although a near namesake exists.
TEST_F(CrossFileIndexTest, NearNamesakesKeepTheirOwnSymbols) {
  tree.file("w/Mod.py", "upper_only = 1\n");
  tree.file("w/mod.py", "lower_only = 1\n");
  tree.file("a/b.py", "slashed = 1\n");
  tree.file("a\\b.py", "backslashed = 1\n");
  tree.file("s/m.pyi", "stub_only = 1\n");
  struct Want {
    const char* path;
    const char* symbol;  // none: the file does not exist
  };
  const Want wants[] = {{"w/Mod.py", "upper_only"}, {"w/mod.py", "lower_only"},
                        {"a/b.py", "slashed"},      {"a\\b.py", "backslashed"},
                        {"s/m.pyi", "stub_only"},   {"s/M.PYI", nullptr}};
  std::vector<FileToIndex> files;
  for (const Want& want : wants) files.push_back(file_at(tree.text(want.path), {.all = true}));
  Indexer indexer = indexer_over(tree);
  for (const bool parallel : {false, true}) {
    auto results = cross_file::index_batch(indexer, files, parallel);
    ASSERT_EQ(results.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(fmt::format("{} {}", parallel ? "parallel" : "sequential", wants[i].path));
      if (wants[i].symbol == nullptr) {
        EXPECT_EQ(results[i], (FileIndexResult{files[i].path, {}, "Failed to parse file", false}));
        continue;
      }
      EXPECT_EQ(results[i].error, std::nullopt);
      EXPECT_EQ(results[i].symbols,
                (std::vector<IndexedSymbol>{IndexedSymbol{wants[i].symbol, 1, 13, std::nullopt}}));
    }
  }
}

// The server gives back what a batch frees only if the batch says where: each parse dropped, and
// the tables and parses gone at the end (an unknown amount, 0).
TEST_F(CrossFileIndexTest, TellsWhereItFreesMemory) {
  const std::vector<FileToIndex> files = {file_at(m(), {.all = true}), file_at(m(), {.all = true}),
                                          file_at(tree.text("plainmod.py"), {.all = true})};
  std::vector<std::size_t> freed;
  cross_file::index_batch(indexer_over(tree), files, true,
                          [&](std::size_t bytes) { freed.push_back(bytes); });
  // One drop per path, after its last use, then the end.
  ASSERT_EQ(freed.size(), 3u);
  EXPECT_GT(freed[0], 0u);
  EXPECT_GT(freed[1], 0u);
  EXPECT_EQ(freed[2], 0u);
}

TEST_F(CrossFileIndexTest, ChainsReachPreindexedStandardLibrary) {
  tree.file("fake_stdlib/typing.pyi", "class Any: ...\n");
  tree.file("user.pyi", "from typing import Any as Any\n");
  Indexer indexer = indexer_over(tree, tree.text("fake_stdlib"));
  FileIndexResult got = index_one(indexer, file_at(tree.text("user.pyi"), {.stub = true}));
  EXPECT_EQ(got.symbols, (std::vector<IndexedSymbol>{
                             resolved("Any", 1, "Any", tree.text("fake_stdlib/typing.pyi"), 5)}));
}

TEST(CrossFileIndex, EmptyBatchWithoutSearchPaths) {
  Indexer indexer;
  EXPECT_TRUE(cross_file::index_batch(indexer, {}, true).empty());
}

}  // namespace
}  // namespace korvane::indexer
