// Running out of memory while indexing one file fails that file alone, on whichever thread.
// Failures are injected by size: a large file's text, tree or tables come in large pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/failing_allocator.h"
#include "../support/temp_tree.h"
#include "indexer/indexer.h"

namespace korvane::indexer {

namespace {

using korvane::testing::FailingAllocations;
using korvane::testing::TempTree;

constexpr std::string_view kStub =
    "import os\nfrom typing import Any\n__all__ = ['A', 'f', 'os']\n"
    "class A:\n    x: int = 1\n    def m(self) -> None: ...\n"
    "def f(a: int, *b: Any) -> A: ...\nY: int\n";

FileToIndex stub_at(const TempTree& tree, const std::string& name, std::string_view text) {
  FileToIndex file;
  file.path = tree.file(name, std::string(text)).string();
  file.is_stub = true;
  return file;
}

// Symbols in name order: the order of a table's names is no part of the result.
FileIndexResult sorted(FileIndexResult result) {
  std::sort(result.symbols.begin(), result.symbols.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return result;
}

std::string assignments(std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += "x=1\n";
  return text;
}

// One statement of about `bytes`: a file is indexed statement by statement, so only a statement
// this large needs its whole tree at once.
std::string one_long_list(std::size_t bytes) {
  std::string text = "x = [";
  while (text.size() < bytes) text += "0,";
  return text + "]\n";
}

// Each allocation of the read, the parse, the binding and the conversion fails in turn.
TEST(IndexFileOutOfMemory, EveryAllocationOfTheFileMayFail) {
  TempTree tree;
  const FileToIndex file = stub_at(tree, "mod.pyi", kStub);
  Indexer indexer;
  const FileIndexResult whole = sorted(indexer.index_file(file));
  ASSERT_FALSE(whole.error);
  std::size_t n = 1;
  for (;; ++n) {
    FileIndexResult got;
    bool failed = false;
    {
      FailingAllocations fail = FailingAllocations::nth(n);
      got = indexer.index_file(file);
      failed = fail.failed();
    }
    if (!failed) {
      EXPECT_EQ(sorted(std::move(got)), whole);
      break;
    }
    ASSERT_EQ(got, out_of_memory_result(file)) << "allocation " << n;
  }
  EXPECT_GT(n, 20u);
}

struct BatchCase {
  const char* name;
  std::size_t big_file;  // bytes; what does not fit is 256 KiB in one piece
  bool one_statement;    // else x=1 lines
  bool parallel;
};

// The text alone does not fit, or only what is built from it; on the calling thread or on the
// pool's, where a throw would end the whole batch.
const BatchCase kBatchCases[] = {
    {"text_sequential", 512 << 10, false, false},
    {"text_parallel", 512 << 10, false, true},
    {"tree_sequential", 128 << 10, true, false},
    {"tree_parallel", 128 << 10, true, true},
};

class IndexBatchOutOfMemory : public ::testing::TestWithParam<BatchCase> {};

TEST_P(IndexBatchOutOfMemory, OnlyTheFileThatDidNotFitFails) {
  TempTree tree;
  std::vector<FileToIndex> files;
  for (int i = 0; i < 8; ++i)
    files.push_back(stub_at(tree, "s" + std::to_string(i) + ".pyi", kStub));
  const BatchCase& c = GetParam();
  files[3] = stub_at(tree, "big.pyi",
                     c.one_statement ? one_long_list(c.big_file) : assignments(c.big_file));
  Indexer indexer;
  std::vector<FileIndexResult> got;
  {
    FailingAllocations fail = FailingAllocations::at_least(256 << 10);
    got = indexer.index_batch(files, GetParam().parallel);
  }
  ASSERT_EQ(got.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(sorted(got[i]),
              sorted(i == 3 ? out_of_memory_result(files[i]) : indexer.index_file(files[i])))
        << i;
  }
  EXPECT_EQ(got[3].error, "Out of memory while indexing file");
}

INSTANTIATE_TEST_SUITE_P(Indexer, IndexBatchOutOfMemory, ::testing::ValuesIn(kBatchCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace korvane::indexer
