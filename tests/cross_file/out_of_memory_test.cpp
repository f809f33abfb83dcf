// Running out of memory in a cross-file batch: in a table build on any thread, in the file's
// own pass or in an import it follows on demand, only the files that needed the memory fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "../support/failing_allocator.h"
#include "../support/temp_tree.h"
#include "cross_file/cross_file_indexer.h"
#include "indexer/indexer.h"

namespace korvane::indexer {
namespace {

using korvane::testing::FailingAllocations;
using korvane::testing::TempTree;

std::string assignments(std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += "x=1\n";
  return text;
}

std::vector<FileIndexResult> sorted(std::vector<FileIndexResult> results) {
  for (auto& result : results) {
    std::sort(result.symbols.begin(), result.symbols.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
  }
  return results;
}

// Each allocation of a sequential batch fails in turn: in the table builds, a file's own pass,
// or an on-demand build. Every file is then answered as usual or as out of memory, unless the
// batch itself could not go on, which the request answers.
TEST(CrossFileOutOfMemory, EveryAllocationOfTheBatchMayFail) {
  TempTree tree;
  std::vector<FileToIndex> files;
  for (const char* name : {"a.pyi", "b.pyi"}) {
    FileToIndex file;
    file.path = tree.path(name).string();
    file.is_stub = true;
    files.push_back(std::move(file));
  }
  tree.file("a.pyi", "from b import y as z\nfrom c import *\nclass A: ...\n");
  tree.file("b.pyi", "y: int\n");
  tree.file("c.pyi", "class K: ...\n");  // built on demand
  Indexer indexer;
  import_resolver::ImportResolverConfig config;
  config.extra_paths.push_back(tree.root().string());
  indexer.configure_search_paths(config, std::nullopt);
  const std::vector<FileIndexResult> whole = sorted(cross_file::index_batch(indexer, files, false));
  std::size_t answered_per_file = 0;
  for (std::size_t n = 1;; ++n) {
    std::optional<std::vector<FileIndexResult>> got;
    bool failed = false;
    {
      FailingAllocations fail = FailingAllocations::nth(n);
      try {
        got = cross_file::index_batch(indexer, files, false);
      } catch (const std::bad_alloc&) {
      }
      failed = fail.failed();
    }
    if (!failed) {
      EXPECT_EQ(sorted(std::move(*got)), whole);
      break;
    }
    if (!got) continue;
    ++answered_per_file;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if ((*got)[i] != out_of_memory_result(files[i])) {
        EXPECT_EQ(sorted({(*got)[i]})[0], whole[i]) << "allocation " << n << ", file " << i;
      }
    }
  }
  EXPECT_GT(answered_per_file, 20u);
}

struct Case {
  const char* name;
  std::size_t big_file;  // bytes of x=1 lines; what does not fit is 256 KiB in one piece
  bool parallel;
};

// The text alone does not fit, or only the tree built from it.
const Case kCases[] = {
    {"text_sequential", 512 << 10, false},
    {"text_parallel", 512 << 10, true},
    {"tree_sequential", 128 << 10, false},
    {"tree_parallel", 128 << 10, true},
};

class CrossFileOutOfMemory : public ::testing::TestWithParam<Case> {};

TEST_P(CrossFileOutOfMemory, OnlyTheFilesThatNeededTheMemoryFail) {
  TempTree tree;
  const std::string big = assignments(GetParam().big_file);
  tree.file("huge.pyi", big);  // outside the batch: built on demand
  std::vector<FileToIndex> files;
  for (const char* name : {"plain.pyi", "big.pyi", "alias_of_big.pyi", "star_of_huge.pyi"}) {
    FileToIndex file;
    file.path = tree.path(name).string();
    file.is_stub = true;
    files.push_back(std::move(file));
  }
  tree.file("plain.pyi", "class C: ...\n");
  tree.file("big.pyi", big);
  tree.file("alias_of_big.pyi", "from big import x as y\n__all__ = ['y']\n");
  tree.file("star_of_huge.pyi", "from huge import *\n");
  Indexer indexer;
  import_resolver::ImportResolverConfig config;
  config.extra_paths.push_back(tree.root().string());
  indexer.configure_search_paths(config, std::nullopt);

  std::vector<FileIndexResult> want = cross_file::index_batch(indexer, files, false);
  for (std::size_t i : {1, 2, 3}) want[i] = out_of_memory_result(files[i]);
  std::vector<FileIndexResult> got;
  {
    FailingAllocations fail = FailingAllocations::at_least(256 << 10);
    got = cross_file::index_batch(indexer, files, GetParam().parallel);
  }
  EXPECT_EQ(sorted(got), sorted(want));
}

INSTANTIATE_TEST_SUITE_P(CrossFile, CrossFileOutOfMemory, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace korvane::indexer
