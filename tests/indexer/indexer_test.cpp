#include "indexer/indexer.h"

#include <string>

#include <gtest/gtest.h>

#include "indexer/symbol_rules.h"

namespace korvane::indexer {
namespace {

FileToIndex plain(std::string path) {
  FileToIndex f;
  f.path = std::move(path);
  return f;
}

TEST(CheckShouldSkipFile, LooksAtTheStemOfTheLastComponentOnly) {
  struct Case {
    const char* path;
    bool skipped;
  };
  const Case cases[] = {
      {"_helpers.py", true},
      {"/no/such/dir/_helpers.py", true},
      {"pkg/__x.py", true},
      {"pkg/_x_.pyi", true},
      {"pkg/_x.tar.py", true},
      {"pkg/_x/", true},  // trailing separator ignored
      {"pkg/_x/.", true},
      {"pkg/__init__.py", false},
      {"pkg/__main__.py", false},
      {"pkg/_.py", false},
      {"pkg/__.py", false},
      {"pkg/___.py", false},
      {"_internal/mod.py", false},
      {"pkg/.hidden.py", false},  // stem ".hidden"
      {"pkg/._x", false},
      {"", false},
      {"/", false},
      {".", false},
      {"pkg/_x/..", false},
      {"pkg/_", false},
      {"pkg\\_x.py", false},  // a backslash is part of the name here
  };
  for (const auto& c : cases) {
    auto got = Indexer::check_should_skip_file(plain(c.path));
    EXPECT_EQ(got.has_value(), c.skipped) << '"' << c.path << '"';
    if (got) {
      EXPECT_TRUE(got->private_or_protected);
      EXPECT_EQ(got->path, c.path);
      EXPECT_TRUE(got->symbols.empty());
      EXPECT_FALSE(got->error);
    }
  }
}

TEST(CheckFastPathSkip, PlainSubstringSearchUnlessFlagsSayOtherwise) {
  struct Case {
    const char* name;
    const char* text;
    bool stub, typed, all;
    bool skipped;
  };
  const Case cases[] = {
      {"empty plain file", "", false, false, false, true},
      {"no markers", "x = 1\n", false, false, false, true},
      {"__all__ in a comment", "# __all__\n", false, false, false, false},
      {"wildcard import", "from m import *\n", false, false, false, false},
      {"two spaces before the star", "from m import  *\n", false, false, false, true},
      // The star scan looks back from each '*': one at the very start, and earlier stars
      // that do not follow "import ".
      {"wildcard import opens the text", "import *", false, false, false, false},
      {"stars before the import", "*a, b = x ** 2\nfrom m import *", false, false, false, false},
      {"stars only", "f(*args, **kw)\n", false, false, false, true},
      {"shorter than the pattern", "import", false, false, false, true},
      {"case matters", "__ALL__ = []\n", false, false, false, true},
      {"stub", "", true, false, false, false},
      {"py.typed", "", false, true, false, false},
      {"all symbols", "", false, false, true, false},
  };
  for (const auto& c : cases) {
    FileToIndex f = plain("m.py");
    f.is_stub = c.stub;
    f.is_py_typed = c.typed;
    f.include_all_symbols = c.all;
    auto got = Indexer::check_fast_path_skip(f, c.text);
    EXPECT_EQ(got.has_value(), c.skipped) << c.name;
    if (got) {
      EXPECT_FALSE(got->private_or_protected);
      EXPECT_FALSE(got->error);
    }
  }
}

TEST(PackageRoots, CountsInstalledPackagesCaseInsensitively) {
  const auto count = [](std::initializer_list<const char*> paths) {
    std::vector<FileToIndex> files;
    for (const char* p : paths) files.push_back(plain(p));
    return count_package_roots(files);
  };
  EXPECT_EQ(count({"/v/lib/Site-Packages/Foo/a.py", "/v/lib/site-packages/foo/b.py"}), 1u);
  EXPECT_EQ(count({"/v/site-packages/foo/a.py", "/v/site-packages/bar/x/b.py"}), 2u);
  // A module directly in site-packages has no package root.
  EXPECT_EQ(count({"/v/site-packages/six.py", "/v/other/a.py"}), 0u);
  EXPECT_EQ(count({"C:\\v\\site-packages\\foo\\a.py", "C:/v/site-packages/foo/b.py"}), 1u);
  // Full lower-casing: U+0130 lower-cases to two code points, on both spellings alike.
  EXPECT_EQ(count({"/v/site-packages/\xC4\xB0x/a.py", "/v/site-packages/i\xCC\x87x/b.py"}), 1u);
}

TEST(DunderName, NeedsTwoUnderscoresAtBothEnds) {
  EXPECT_TRUE(is_dunder_name("__"));
  EXPECT_TRUE(is_dunder_name("__all__"));
  EXPECT_TRUE(is_dunder_name("___"));
  EXPECT_FALSE(is_dunder_name("_"));
  EXPECT_FALSE(is_dunder_name("__x"));
  EXPECT_FALSE(is_dunder_name("_x__"));
}

}  // namespace
}  // namespace korvane::indexer
