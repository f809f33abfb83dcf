#include "cross_file/parse_cache.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "../support/temp_tree.h"

namespace korvane::cross_file {
namespace {

using korvane::testing::TempTree;

TEST(ParseCacheKey, LowerCasesWholeText) {
  struct Case {
    const char* path;
    const char* want;
  };
  const Case cases[] = {
      {"C:\\Work\\Pkg\\M.py", "c:/work/pkg/m.py"},
      {"/\xC3\x84/x.py", "/\xC3\xA4/x.py"},                  // Ä -> ä
      {"/\xC4\xB0.py", "/i\xCC\x87.py"},                     // İ -> i + combining dot
      {"/\xCE\xA3\xCE\xA3/x.py", "/\xCF\x83\xCF\x82/x.py"},  // ΣΣ/ -> σς/ (final sigma)
      // "." is case-ignorable, so a sigma before ".py" is not word-final.
      {"/\xCE\xA3\xCE\xA3.py", "/\xCF\x83\xCF\x83.py"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCache::key_of(c.path), c.want) << c.path;
}

TEST(ParseCache, HitSharesTreeAndText) {
  TempTree tree;
  tree.file("m.py", "x = 1\n");
  ParseCache cache;
  auto first = cache.get_or_parse(tree.text("m.py"));
  ASSERT_TRUE(first);
  EXPECT_EQ(*first->source, "x = 1\n");
  EXPECT_EQ(cache.size(), 1u);
  // Changing the file must not matter: a hit neither reads nor parses.
  tree.file("m.py", "y = 2\nz = 3\n");
  auto second = cache.get_or_parse(tree.text("m.py"));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->module.get(), first->module.get());
  EXPECT_EQ(second->source.get(), first->source.get());
  EXPECT_EQ(cache.size(), 1u);
}

TEST(ParseCache, PathsEqualUpToCaseAndSeparatorShareAnEntry) {
  TempTree tree;
  tree.file("Dir/\xC3\x84.py", "a = 1\n");
  tree.file("dir/\xC3\xA4.py", "b = 2\n");  // a different file on a case-sensitive system
  ParseCache cache;
  auto upper = cache.get_or_parse(tree.text("Dir/\xC3\x84.py"));
  ASSERT_TRUE(upper);
  std::string lower_path = tree.text("dir/\xC3\xA4.py");
  auto lower = cache.get_or_parse(lower_path);
  ASSERT_TRUE(lower);
  EXPECT_EQ(*lower->source, "a = 1\n");
  std::string backslashed = lower_path;
  for (char& ch : backslashed) {
    if (ch == '/') ch = '\\';
  }
  auto slashed = cache.get_or_parse(backslashed);
  ASSERT_TRUE(slashed);
  EXPECT_EQ(slashed->module.get(), upper->module.get());
  EXPECT_EQ(cache.size(), 1u);
}

// A batch drops each parse after its last use. Asked again, the cache reads the file first read
// for that key, so the answer stays what the dropped entry held, even where paths that differ
// only in case name different files.
TEST(ParseCache, ReleaseDropsTheParseButNotTheAnswer) {
  TempTree tree;
  tree.file("Dir/M.py", "a = 1\n");
  tree.file("dir/m.py", "b = 2\n");
  ParseCache cache;
  auto first = cache.get_or_parse(tree.text("Dir/M.py"));
  ASSERT_TRUE(first);
  std::weak_ptr<const python::ParsedModule> dropped = first->module;
  first.reset();
  cache.release(tree.text("dir/m.py"));
  EXPECT_TRUE(dropped.expired());
  EXPECT_EQ(cache.size(), 0u);
  auto again = cache.get_or_parse(tree.text("dir/m.py"));
  ASSERT_TRUE(again);
  EXPECT_EQ(*again->source, "a = 1\n");
  EXPECT_EQ(cache.size(), 1u);
  cache.release(tree.text("never_parsed.py"));
  EXPECT_EQ(cache.size(), 1u);
}

TEST(ParseCache, FailuresAreNotRemembered) {
  TempTree tree;
  ParseCache cache;
  const std::string missing = tree.text("missing.py");
  EXPECT_FALSE(cache.get_or_parse(missing));
  EXPECT_EQ(cache.size(), 0u);

  tree.file("bad.py", "def (:\n");
  EXPECT_FALSE(cache.get_or_parse(tree.text("bad.py")));
  EXPECT_EQ(cache.size(), 0u);
  // Fixed on disk: the next call must read and parse again.
  tree.file("bad.py", "def f(): pass\n");
  EXPECT_TRUE(cache.get_or_parse(tree.text("bad.py")));

  tree.file("latin1.py", "x = '\xE9'\n");
  EXPECT_FALSE(cache.get_or_parse(tree.text("latin1.py")));
  EXPECT_FALSE(cache.get_or_parse(tree.text("")));
  EXPECT_EQ(cache.size(), 1u);
}

TEST(ParseCache, HolderOutlivesCache) {
  TempTree tree;
  tree.file("m.py", "import os\nclass C: pass\n");
  std::optional<CachedParse> kept;
  {
    auto cache = std::make_shared<ParseCache>();
    kept = cache->get_or_parse(tree.text("m.py"));
    ASSERT_TRUE(kept);
  }
  // The tree points into the text: holding the tree alone must keep the text alive.
  kept->source.reset();
  ASSERT_EQ(kept->module->body().size(), 2u);
  EXPECT_EQ(kept->module->source(), "import os\nclass C: pass\n");
}

TEST(ParseCache, ConcurrentCallersGetEqualParses) {
  TempTree tree;
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) {
    paths.push_back(tree.file(fmt::format("m{}.py", i), fmt::format("v = {}\n", i)).string());
  }
  ParseCache cache;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        for (const std::string& path : paths) {
          auto parse = cache.get_or_parse(path);
          if (!parse || parse->module->body().size() != 1) failures++;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(cache.size(), paths.size());
}

}  // namespace
}  // namespace korvane::cross_file
