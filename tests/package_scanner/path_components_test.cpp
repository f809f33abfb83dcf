#include "package_scanner/path_components.h"

#include <gtest/gtest.h>

namespace korvane::package_scanner {
namespace {

struct PrefixCase {
  const char* path;
  const char* base;
  bool want;
};

// Each row is a way a text prefix test, or a normalising one, would answer wrongly.
const PrefixCase kPrefixCases[] = {
    {"/ts/stdlib", "/ts/stdlib", true},
    {"/ts/stdlib/os", "/ts/stdlib", true},
    {"/ts/stdlib2", "/ts/stdlib", false},
    {"/ts/stdlib/", "/ts/stdlib", true},
    {"/ts/stdlib", "/ts/stdlib/", true},
    {"/ts//stdlib///x", "/ts/stdlib", true},
    {"/ts/./stdlib/.", "/ts/stdlib", true},
    {"/ts/stdlib/../other", "/ts/stdlib", true},
    {"/ts/other", "/ts/stdlib/..", false},
    {"/ts", "/ts/stdlib", false},
    {"/anything", "", true},
    {"relative", "", true},
    {"ts/stdlib", "/ts/stdlib", false},
    {"/ts/stdlib", "ts/stdlib", false},
    {"./ts/stdlib", "ts", false},
    {"./ts/stdlib", ".", true},
    {"ts/./stdlib", "ts/stdlib", true},
    {"/", "/", true},
    {"/x", "/", true},
};

TEST(PathComponents, StartsWithComparesWholeComponents) {
  for (const auto& c : kPrefixCases) {
    EXPECT_EQ(path_starts_with(c.path, c.base), c.want) << c.path << " vs " << c.base;
  }
}

TEST(PathComponents, KeyIsSharedByEqualComponentSequences) {
  EXPECT_EQ(component_key("/a//b/./c/"), "/a/b/c");
  EXPECT_EQ(component_key("/a/b/c"), component_key("/a/b/c/."));
  EXPECT_NE(component_key("a/b"), component_key("/a/b"));
  EXPECT_NE(component_key("./a"), component_key("a"));
  EXPECT_NE(component_key("/a/b/.."), component_key("/a"));
  EXPECT_EQ(component_key("/"), "/");
}

}  // namespace
}  // namespace korvane::package_scanner
