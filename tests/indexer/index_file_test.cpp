#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "indexer/indexer.h"
#include "util/os_error.h"

namespace korvane::indexer {
void PrintTo(const IndexedSymbol& s, std::ostream* os) {
  *os << s.name << "(kind " << s.kind << ", vis " << s.visibility_flags;
  if (s.alias) *os << ", alias " << s.alias->original_name << " from " << s.alias->module_uri;
  *os << ")";
}
namespace {

namespace fs = std::filesystem;

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvane-index-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(root_); }

  FileToIndex write(const std::string& name, std::string_view text) {
    const fs::path path = root_ / name;
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<long>(text.size()));
    FileToIndex file;
    file.path = path.string();
    file.is_stub = name.ends_with(".pyi");
    return file;
  }

  fs::path root_;
};

// Symbol order is unspecified: compare by name.
std::vector<IndexedSymbol> sorted(std::vector<IndexedSymbol> symbols) {
  std::sort(symbols.begin(), symbols.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return symbols;
}

IndexedSymbol sym(std::string name, uint32_t kind, uint32_t visibility,
                  std::optional<SymbolAlias> alias = std::nullopt) {
  return IndexedSymbol{std::move(name), visibility, kind, std::move(alias)};
}

TEST_F(IndexFileTest, ExportsWhatTheFileFlagsAdmit) {
  struct Case {
    const char* name;
    const char* file;
    const char* source;
    bool all_symbols;
    std::vector<IndexedSymbol> want;
  };
  const Case cases[] = {
      {"__all__ limits a plain file",
       "m.py",
       "A = 1\nb = 2\nc = 3\n__all__ = ['A', 'b']\n",
       false,
       {sym("A", 14, 3), sym("b", 13, 3)}},
      {"all symbols widen it",
       "m.py",
       "A = 1\nb = 2\nc = 3\n__all__ = ['A', 'b']\n",
       true,
       {sym("A", 14, 3), sym("b", 13, 3), sym("c", 13, 1)}},
      {"stub exports every free name",
       "m.pyi",
       "x: int\ny: int\n__all__ = ['x']\n",
       false,
       {sym("x", 13, 3), sym("y", 13, 1)}},
      {"stub re-export by import only is not exported",
       "m.pyi",
       "from m import x as x\n",
       false,
       {}},
      {"import then assignment keeps the alias",
       "m.pyi",
       "from m import x as x\nx = 1\n",
       false,
       {sym("x", 13, 1, SymbolAlias{"x", "m", 13})}},
      {"function re-imported",
       "m.py",
       "def f(): ...\nfrom m import f\n",
       true,
       {sym("f", 12, 1, SymbolAlias{"f", "m", 13})}},
      {"dunder outside __all__ is left out", "m.pyi", "__version__ = '1'\n", false, {}},
      {"dunder listed in __all__",
       "m.py",
       "__version__ = '1'\n__all__ = ['__version__']\n",
       false,
       {sym("__version__", 13, 3)}},
      {"kinds",
       "m.pyi",
       "type Alias = int\nclass C: ...\ndef f(): ...\nMAX_SIZE = 1\nT = 2\nFoo = 3\nx = 4\n",
       false,
       {sym("Alias", 26, 1), sym("C", 5, 1), sym("Foo", 13, 1), sym("MAX_SIZE", 14, 1),
        sym("T", 14, 1), sym("f", 12, 1), sym("x", 13, 1)}},
      {"__all__ only in a comment", "m.py", "# __all__\nx = 1\n", false, {}},
      {"wildcard import without __all__", "m.py", "from os import *\nx = 1\n", false, {}},
      {"empty stub", "m.pyi", "", false, {}},
      {"byte-order mark", "m.pyi", "\xEF\xBB\xBFx = 1\n", false, {sym("x", 13, 1)}},
  };
  Indexer indexer;
  for (const auto& c : cases) {
    FileToIndex file = write(c.file, c.source);
    file.include_all_symbols = c.all_symbols;
    FileIndexResult got = indexer.index_file(file);
    EXPECT_FALSE(got.error) << c.name << ": " << got.error.value_or("");
    EXPECT_FALSE(got.private_or_protected) << c.name;
    EXPECT_EQ(got.path, file.path) << c.name;
    EXPECT_EQ(sorted(got.symbols), sorted(c.want)) << c.name;
  }
}

TEST_F(IndexFileTest, FailuresAndSkipsAreResultsNotErrors) {
  Indexer indexer;
  struct Case {
    const char* name;
    FileToIndex file;
    std::optional<std::string> error;
    bool private_or_protected;
  };
  FileToIndex missing;
  missing.path = (root_ / "missing.py").string();
  FileToIndex private_missing;
  private_missing.path = (root_ / "_helpers.py").string();
  FileToIndex directory;
  directory.path = root_.string();
  const Case cases[] = {
      {"missing file", missing, "Failed to read file: " + os_error_text(2), false},
      {"private name, never opened", private_missing, std::nullopt, true},
      {"directory", directory, "Failed to read file: " + os_error_text(19), false},
      {"invalid UTF-8", write("bad.pyi", "x = '12\xFF'\n"),
       "Failed to read file: invalid utf-8 sequence of 1 bytes from index 7", false},
      {"empty plain file skipped by text", write("empty.py", ""), std::nullopt, false},
      {"two spaces before the star", write("star.py", "from m import  *\nx = 1\n"), std::nullopt,
       false},
      {"__init__ is read", write("__init__.py", "def f(:\n__all__ = []\n"), "parse", false},
  };
  for (const auto& c : cases) {
    FileIndexResult got = indexer.index_file(c.file);
    EXPECT_TRUE(got.symbols.empty()) << c.name;
    EXPECT_EQ(got.private_or_protected, c.private_or_protected) << c.name;
    if (c.error == std::optional<std::string>("parse")) {
      ASSERT_TRUE(got.error) << c.name;
      EXPECT_TRUE(got.error->starts_with("Parse error: [ParseError { error: ")) << *got.error;
    } else {
      EXPECT_EQ(got.error, c.error) << c.name;
    }
  }
}

TEST_F(IndexFileTest, SyntaxErrorAnywhereDropsEverySymbol) {
  Indexer indexer;
  FileToIndex file = write("m.pyi", "x = 1\ny = 2\ndef broken(:\n");
  FileIndexResult got = indexer.index_file(file);
  EXPECT_TRUE(got.symbols.empty());
  ASSERT_TRUE(got.error);
  EXPECT_TRUE(got.error->ends_with(" }]")) << *got.error;
  EXPECT_NE(got.error->find(", location: "), std::string::npos) << *got.error;
}

TEST_F(IndexFileTest, PythonVersionReachesTheBinder) {
  const char* source =
      "import sys\nif sys.version_info >= (3, 10):\n    new = 1\nelse:\n    old = 1\n";
  FileToIndex file = write("v.pyi", source);
  const auto names = [&](const Indexer& indexer) {
    std::vector<std::string> out;
    for (const auto& s : indexer.index_file(file).symbols) out.push_back(s.name);
    std::sort(out.begin(), out.end());
    return out;
  };
  Indexer indexer;
  EXPECT_EQ(names(indexer), (std::vector<std::string>{"new", "old"}));  // undecided: both
  indexer.configure_search_paths({}, binder::PythonVersion{3, 8});
  EXPECT_EQ(names(indexer), (std::vector<std::string>{"old"}));
  // Reconfiguring without a version clears it.
  indexer.configure_search_paths({}, std::nullopt);
  EXPECT_EQ(names(indexer), (std::vector<std::string>{"new", "old"}));
}

TEST(ConfigureSearchPaths, ReplacesTheConfigWhole) {
  Indexer indexer;
  EXPECT_EQ(indexer.search_paths(), import_resolver::ImportResolverConfig{});
  EXPECT_FALSE(indexer.python_version());
  import_resolver::ImportResolverConfig first{{"e"}, {"w"}, "ts", "tp", {"s"}};
  indexer.configure_search_paths(first, binder::PythonVersion{3, 12});
  const auto& config = indexer.search_paths();
  EXPECT_EQ(config.extra_paths, std::vector<fs::path>{"e"});
  EXPECT_EQ(config.workspace_roots, std::vector<fs::path>{"w"});
  EXPECT_EQ(config.typeshed_stdlib_path, fs::path("ts"));
  EXPECT_EQ(config.typeshed_thirdparty_path, fs::path("tp"));
  EXPECT_EQ(config.site_packages_paths, std::vector<fs::path>{"s"});
  EXPECT_EQ(indexer.python_version(), (binder::PythonVersion{3, 12}));

  import_resolver::ImportResolverConfig second;
  second.workspace_roots = {"w2"};
  indexer.configure_search_paths(second, std::nullopt);
  EXPECT_EQ(indexer.search_paths().workspace_roots, std::vector<fs::path>{"w2"});
  EXPECT_TRUE(indexer.search_paths().extra_paths.empty());
  EXPECT_FALSE(indexer.search_paths().typeshed_stdlib_path);
  EXPECT_FALSE(indexer.python_version());
}

}  // namespace
}  // namespace korvane::indexer
