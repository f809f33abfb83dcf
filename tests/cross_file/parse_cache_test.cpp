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

// Paths that differ only in letter case or in "\" against "/" are different files: a cache that
// folded them served one file's text for another, and a name of no file for one that exists.
TEST(ParseCache, EachPathTextIsItsOwnFile) {
  TempTree tree;
  tree.file("Dir/\xC3\x84.py", "a = 1\n");
  tree.file("dir/\xC3\xA4.py", "b = 2\n");
  tree.file("dir\\\xC3\xA4.py", "c = 3\n");
  tree.file("m.pyi", "d = 4\n");
  ParseCache cache;
  struct Want {
    const char* path;
    const char* text;  // none: no such file
  };
  const Want wants[] = {{"Dir/\xC3\x84.py", "a = 1\n"},
                        {"dir/\xC3\xA4.py", "b = 2\n"},
                        {"dir\\\xC3\xA4.py", "c = 3\n"},
                        {"m.pyi", "d = 4\n"},
                        {"M.PYI", nullptr}};
  for (const Want& want : wants) {
    auto parse = cache.get_or_parse(tree.text(want.path));
    ASSERT_EQ(parse.has_value(), want.text != nullptr) << want.path;
    if (parse) {
      EXPECT_EQ(*parse->source, want.text) << want.path;
    }
  }
  EXPECT_EQ(cache.size(), 4u);
}

// A batch drops each parse after its last use, and only that path's.
TEST(ParseCache, ReleaseDropsOnlyThatPath) {
  TempTree tree;
  tree.file("Dir/M.py", "a = 1\n");
  tree.file("dir/m.py", "b = 2\n");
  ParseCache cache;
  auto first = cache.get_or_parse(tree.text("Dir/M.py"));
  ASSERT_TRUE(first);
  ASSERT_TRUE(cache.get_or_parse(tree.text("dir/m.py")));
  std::weak_ptr<const python::ParsedModule> dropped = first->module;
  first.reset();
  cache.release(tree.text("Dir/M.py"));
  EXPECT_TRUE(dropped.expired());
  EXPECT_EQ(cache.size(), 1u);
  // Asked again, the file is read again.
  tree.file("Dir/M.py", "e = 5\n");
  auto again = cache.get_or_parse(tree.text("Dir/M.py"));
  ASSERT_TRUE(again);
  EXPECT_EQ(*again->source, "e = 5\n");
  EXPECT_EQ(cache.size(), 2u);
  cache.release(tree.text("never_parsed.py"));
  EXPECT_EQ(cache.size(), 2u);
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
