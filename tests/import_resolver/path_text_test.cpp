#include "import_resolver/path_text.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "import_resolver/import_resolver.h"

namespace korvane::import_resolver {
namespace {

TEST(ParentOf, TrimsLikeComponents) {
  struct Case {
    const char* path;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"/p/pkg/mod.py", "/p/pkg"},
      {"/p//pkg//mod.py", "/p//pkg"},
      {"/p/pkg/", "/p"},
      {"/p/pkg/.", "/p"},
      {"/a", "/"},
      {"/", std::nullopt},
      {"//", std::nullopt},
      {"", std::nullopt},
      {"mod.py", ""},
      {"a/b", "a"},
      {"./a", "."},
      {".", ""},
      {"..", ""},
      {"a/..", "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto got = parent_of(c.path);
    if (c.want) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(std::string(*got), *c.want);
    } else {
      EXPECT_FALSE(got.has_value());
    }
  }
}

TEST(NormalizedKey, EqualPathsEqualKeys) {
  struct Case {
    const char* path;
    const char* want;
  };
  const Case cases[] = {
      {"/a/b", "/a/b"}, {"/a//b/", "/a/b"},   {"/a/./b/.", "/a/b"}, {"a/b", "a/b"},
      {"./a", "./a"},   {"a/./b", "a/b"},     {"/./a", "/a"},       {"/", "/"},
      {"", ""},         {"a/../b", "a/../b"},
  };
  for (const Case& c : cases) EXPECT_EQ(normalized_key(c.path), c.want) << c.path;
}

TEST(PathToText, ReplacesInvalidBytes) {
  EXPECT_EQ(path_to_text(std::string("/a/\xFF.py")), "/a/\xEF\xBF\xBD.py");
  EXPECT_EQ(path_to_text("/a/ok.py"), "/a/ok.py");
}

}  // namespace
}  // namespace korvane::import_resolver
